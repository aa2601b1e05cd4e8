#include "rewards/UpdateAvailability.h"

#include "pipeline/SettingsDefaults.h"

#include <limits>

namespace zq {

namespace {

const QString kVersionKey = QString::fromLatin1(keys::updateAvailableVersion);
const QString kBuildKey = QString::fromLatin1(keys::updateAvailableBuild);

std::optional<QString> storedText(const rt::Settings &settings, const QString &key)
{
    const auto value = settings.value(key);
    if (!value || !std::holds_alternative<QString>(*value))
        return std::nullopt;
    return std::get<QString>(*value);
}

} // namespace

std::optional<qint64> parseBuildNumber(const QString &text)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    if (i == text.size())
        return std::nullopt;
    // Accumulate toward the negative side, which holds one more value than the positive side.
    qint64 value = 0;
    constexpr qint64 lowest = std::numeric_limits<qint64>::min();
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        const int digit = c.unicode() - '0';
        if (value < (lowest + digit) / 10)
            return std::nullopt;
        value = value * 10 - digit;
    }
    if (negative)
        return value;
    if (value == lowest)
        return std::nullopt;
    return -value;
}

std::optional<PendingUpdate> PendingUpdate::resolve(const std::optional<QString> &version,
                                                    const std::optional<QString> &build,
                                                    std::optional<qint64> runningBuild)
{
    if (!runningBuild)
        return std::nullopt;
    if (!version || version->trimmed().isEmpty())
        return std::nullopt;
    if (!build || build->isEmpty())
        return std::nullopt;
    const std::optional<qint64> parsed = parseBuildNumber(*build);
    if (!parsed)
        return std::nullopt;
    if (*parsed <= *runningBuild)
        return std::nullopt;
    return PendingUpdate{*version, *parsed};
}

UpdateAvailabilityStore::UpdateAvailabilityStore(rt::Settings &settings, const std::optional<QString> &runningBuild)
    : m_settings(&settings), m_runningBuild(runningBuild ? parseBuildNumber(*runningBuild) : std::nullopt)
{
    m_pending =
        PendingUpdate::resolve(storedText(settings, kVersionKey), storedText(settings, kBuildKey), m_runningBuild);
}

UpdateAvailabilityStore UpdateAvailabilityStore::live(rt::Settings &settings)
{
    return UpdateAvailabilityStore(settings, QStringLiteral(ZQ_BUILD));
}

void UpdateAvailabilityStore::record(const QString &version, const QString &build)
{
    m_settings->setValue(kVersionKey, version);
    m_settings->setValue(kBuildKey, build);
    m_pending = PendingUpdate::resolve(version, build, m_runningBuild);
}

void UpdateAvailabilityStore::clear()
{
    m_settings->remove(kVersionKey);
    m_settings->remove(kBuildKey);
    m_pending.reset();
}

} // namespace zq

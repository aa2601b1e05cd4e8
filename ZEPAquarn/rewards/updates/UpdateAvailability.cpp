#include "rewards/updates/UpdateAvailability.h"

#include "pipeline/SettingsDefaults.h"

namespace zq {

namespace {

std::optional<QString> storedText(const rt::Settings &settings, const QString &key)
{
    const auto value = settings.value(key);
    if (!value || !std::holds_alternative<QString>(*value))
        return std::nullopt;
    return std::get<QString>(*value);
}

} // namespace

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
    m_pending = PendingUpdate::resolve(storedText(settings, keys::updateAvailableVersion),
                                       storedText(settings, keys::updateAvailableBuild), m_runningBuild);
}

UpdateAvailabilityStore UpdateAvailabilityStore::live(rt::Settings &settings)
{
    return UpdateAvailabilityStore(settings, QStringLiteral(ZQ_BUILD));
}

void UpdateAvailabilityStore::record(const QString &version, const QString &build)
{
    m_settings->setValue(keys::updateAvailableVersion, version);
    m_settings->setValue(keys::updateAvailableBuild, build);
    m_pending = PendingUpdate::resolve(version, build, m_runningBuild);
}

void UpdateAvailabilityStore::clear()
{
    m_settings->remove(keys::updateAvailableVersion);
    m_settings->remove(keys::updateAvailableBuild);
    m_pending.reset();
}

} // namespace zq

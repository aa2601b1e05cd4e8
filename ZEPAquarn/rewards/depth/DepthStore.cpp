#include "rewards/depth/DepthStore.h"

#include "pipeline/SettingsDefaults.h"

#include <algorithm>

namespace zq {

DepthStore::DepthStore(rt::Settings &settings, InviteService service, QObject *parent)
    : QObject(parent), m_settings(settings), m_service(std::move(service))
{
    // Only a list of integers counts; unknown tier numbers are dropped.
    if (const auto stored = m_settings.value(keys::depthUnlocked);
        stored && std::holds_alternative<QList<qint64>>(*stored)) {
        for (qint64 raw : std::get<QList<qint64>>(*stored)) {
            if (raw >= 1 && raw <= 3)
                m_unlocked.insert(static_cast<DepthTier>(raw));
        }
    }

    if (const QString code = m_settings.stringValue(keys::inviteCode); InviteService::isInviteCode(code))
        m_code = code;

    if (const auto stored = m_settings.value(keys::inviteVerifiedDownloads)) {
        std::optional<qint64> count;
        if (std::holds_alternative<qint64>(*stored))
            count = std::get<qint64>(*stored);
        else if (const double *number = std::get_if<double>(&*stored); number && *number > -1 && *number < 9.0e18)
            count = static_cast<qint64>(*number);
        if (count && *count >= 0)
            m_verifiedDownloads = count;
    }

    // The stored count proves its tiers too: a damaged "depthUnlocked" must not take away what the
    // count already earned.
    if (m_verifiedDownloads)
        m_unlocked.merge(tiersReached(*m_verifiedDownloads));

    m_selection = m_settings.enumValue<Colorway>(keys::depthSelection).value_or(Colorway::consensusMint);
}

void DepthStore::setSelection(Colorway colorway)
{
    m_settings.setValue(keys::depthSelection, colorway);
    if (m_selection == colorway)
        return;
    m_selection = colorway;
    emit selectionChanged(colorway);
}

void DepthStore::setInFlight(bool inFlight, std::optional<QString> error)
{
    m_inviteRequestInFlight = inFlight;
    m_inviteError = std::move(error);
    emit inviteStateChanged();
}

rt::Task<bool> DepthStore::refreshProgress()
{
    if (!m_code || m_inviteRequestInFlight)
        co_return false;
    setInFlight(true, std::nullopt);

    const std::weak_ptr<int> alive = m_alive;
    const std::optional<qint64> fetched = co_await m_service.verifiedCount(*m_code);
    if (alive.expired())
        co_return false;

    if (!fetched) {
        setInFlight(false, QStringLiteral("Couldn\u2019t refresh invite progress."));
        co_return false;
    }

    const qint64 count = std::max(m_verifiedDownloads.value_or(0), *fetched);
    m_verifiedDownloads = count;
    m_settings.setValue(keys::inviteVerifiedDownloads, count);

    const std::size_t before = m_unlocked.size();
    m_unlocked.merge(tiersReached(count));
    QList<qint64> stored;
    for (const DepthTier tier : m_unlocked) // a std::set is already in ascending order
        stored.append(static_cast<qint64>(tier));
    m_settings.setValue(keys::depthUnlocked, stored);
    if (m_unlocked.size() != before)
        emit unlockedChanged();

    setInFlight(false, std::nullopt);
    co_return true;
}

rt::Task<bool> DepthStore::createInviteLink()
{
    if (m_code)
        co_return true;
    if (m_inviteRequestInFlight)
        co_return false;
    setInFlight(true, std::nullopt);

    const std::weak_ptr<int> alive = m_alive;
    const std::optional<QString> code = co_await m_service.createInvite();
    if (alive.expired())
        co_return false;

    if (!code) {
        setInFlight(false,
                    QStringLiteral("Couldn\u2019t reach ") + InviteService::host() + QStringLiteral(". Try again."));
        co_return false;
    }
    m_code = code;
    m_settings.setValue(keys::inviteCode, *code);
    m_verifiedDownloads = 0;
    m_settings.setValue(keys::inviteVerifiedDownloads, qint64(0));
    setInFlight(false, std::nullopt);
    co_return true;
}

std::optional<QUrl> DepthStore::shareURL() const
{
    if (!m_code || !InviteService::isInviteCode(*m_code))
        return std::nullopt;
    return QUrl(QStringLiteral("https://") + InviteService::host() + QStringLiteral("/i/") + *m_code);
}

std::vector<Colorway> DepthStore::availableColorways(const std::set<DepthTier> &unlocked)
{
    std::vector<Colorway> result{Colorway::consensusMint};
    for (const DepthTier tier : kAllDepthTiers) {
        if (unlocked.count(tier)) {
            for (const Colorway colorway : colorwaysOf(tier))
                result.push_back(colorway);
        }
    }
    return result;
}

Colorway DepthStore::effectiveColorway(Colorway selection, const std::set<DepthTier> &unlocked)
{
    const auto available = availableColorways(unlocked);
    return std::find(available.begin(), available.end(), selection) != available.end() ? selection
                                                                                       : Colorway::consensusMint;
}

} // namespace zq

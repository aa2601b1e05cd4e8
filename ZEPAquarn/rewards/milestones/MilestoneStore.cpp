#include "rewards/milestones/MilestoneStore.h"

#include "pipeline/SettingsDefaults.h"
#include "runtime/Settings.h"

#include <algorithm>

namespace zq {

std::optional<Milestone> selectMilestone(qint64 totalTakes, qint64 weekWords, const std::set<Milestone> &shown)
{
    if (weekWords >= 10000 && !shown.contains(Milestone::tenThousandWordWeek))
        return Milestone::tenThousandWordWeek;
    if (totalTakes >= 100 && !shown.contains(Milestone::hundredTakes))
        return Milestone::hundredTakes;
    return std::nullopt;
}

MilestoneStore::MilestoneStore(rt::Settings &settings, QObject *parent) : QObject(parent), m_settings(settings)
{
    m_dismissed = m_settings.boolValue(keys::milestoneDismissed);
    for (const QString &raw : m_settings.stringListValue(keys::milestoneShown)) {
        if (const auto milestone = fromRawValue<Milestone>(raw))
            m_shown.insert(*milestone);
    }
    const double last = m_settings.doubleValue(keys::milestoneLastShown);
    // A NaN fails the comparison and so reads as never shown.
    if (last > 0)
        m_lastShown = QDateTime::fromMSecsSinceEpoch(qint64(last * 1000.0), Qt::UTC);
}

std::optional<Milestone> MilestoneStore::pending(qint64 totalTakes, qint64 weekWords, const QDateTime &now) const
{
    const auto candidate = selectMilestone(totalTakes, weekWords, m_shown);
    if (!candidate || m_dismissed)
        return std::nullopt;
    if (m_lastShown) {
        const double since = double(m_lastShown->msecsTo(now)) / 1000.0;
        if (since < kQuietPeriodSeconds)
            return std::nullopt;
    }
    return candidate;
}

void MilestoneStore::markShown(Milestone milestone, const QDateTime &date)
{
    m_shown.insert(milestone);
    m_lastShown = date;
    QStringList raw;
    for (Milestone shown : m_shown)
        raw.append(rawValue(shown));
    std::sort(raw.begin(), raw.end());
    m_settings.setValue(keys::milestoneShown, raw);
    m_settings.setValue(keys::milestoneLastShown, double(date.toMSecsSinceEpoch()) / 1000.0);
    emit shownChanged();
}

void MilestoneStore::dismissForever()
{
    if (m_dismissed)
        return;
    m_dismissed = true;
    m_settings.setValue(keys::milestoneDismissed, true);
    emit dismissedChanged();
}

} // namespace zq

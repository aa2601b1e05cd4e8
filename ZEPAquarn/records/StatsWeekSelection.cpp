#include "records/StatsWeekSelection.h"

namespace zq {

StatsWeekSelection::StatsWeekSelection(const StatsWeek &current, const QTimeZone &timeZone)
    : m_currentWeek(current), m_timeZone(timeZone), m_selectedWeek(current)
{}

StatsWeekSelection StatsWeekSelection::containing(const QDateTime &now, const QTimeZone &timeZone)
{
    return StatsWeekSelection(StatsWeek::containing(now, timeZone), timeZone);
}

StatsWeek StatsWeekSelection::stepped(const StatsWeek &week, int weeks, const QTimeZone &timeZone)
{
    // Seven calendar days keep the local time of day across a clock change; a date that cannot be
    // formed leaves the week where it is.
    QDateTime date = week.start.toTimeZone(timeZone).addDays(7 * weeks);
    if (!date.isValid())
        date = week.start;
    return StatsWeek::containing(date, timeZone);
}

StatsWeek StatsWeekSelection::weekBefore(const StatsWeek &week, const QTimeZone &timeZone)
{
    return stepped(week, -1, timeZone);
}

void StatsWeekSelection::previous()
{
    m_selectedWeek = stepped(m_selectedWeek, -1, m_timeZone);
}

void StatsWeekSelection::next()
{
    const StatsWeek candidate = stepped(m_selectedWeek, 1, m_timeZone);
    if (candidate.start <= m_currentWeek.start)
        m_selectedWeek = candidate;
}

StatsWeekNavigationContent::StatsWeekNavigationContent(const StatsWeekSelection &selection)
    : weekLabel(QStringLiteral("WEEK ") + QString::number(selection.selectedWeek().weekOfYear)),
      previousAccessibilityLabel(QStringLiteral("Previous week")), nextAccessibilityLabel(QStringLiteral("Next week")),
      isNextDisabled(!(selection.selectedWeek().start < selection.currentWeek().start))
{}

} // namespace zq

#pragma once

#include "records/StatsWeek.h"

#include <QString>

namespace zq {

// Which ISO week the statistics page shows: paged one week at a time, never past the week that was
// current when the selection was made.
class StatsWeekSelection {
public:
    // Shows `current`; `timeZone` is the statistics store's.
    StatsWeekSelection(const StatsWeek &current, const QTimeZone &timeZone);
    // The selection a page opens with: the week that contains `now`, shown.
    static StatsWeekSelection containing(const QDateTime &now, const QTimeZone &timeZone);

    // The week that holds the instant one calendar week before the week's start.
    static StatsWeek weekBefore(const StatsWeek &week, const QTimeZone &timeZone);

    const StatsWeek &currentWeek() const { return m_currentWeek; }
    const StatsWeek &selectedWeek() const { return m_selectedWeek; }
    const QTimeZone &timeZone() const { return m_timeZone; }

    // One week back; there is no lower bound.
    void previous();
    // One week forward, unless that would pass the current week; then nothing changes.
    void next();

private:
    static StatsWeek stepped(const StatsWeek &week, int weeks, const QTimeZone &timeZone);

    StatsWeek m_currentWeek;
    QTimeZone m_timeZone;
    StatsWeek m_selectedWeek;
};

// The pager's texts for a selection.
struct StatsWeekNavigationContent {
    QString weekLabel;
    QString previousAccessibilityLabel;
    QString nextAccessibilityLabel;
    // True exactly while the current week is shown.
    bool isNextDisabled = true;

    explicit StatsWeekNavigationContent(const StatsWeekSelection &selection);
};

} // namespace zq

#pragma once

#include <QDateTime>
#include <QTimeZone>

namespace zq {

// One ISO 8601 week (Monday first; week 1 holds the year's first Thursday) in a time zone.
struct StatsWeek {
    // Monday's first instant in the zone.
    QDateTime start;
    int weekOfYear = 0;
    int yearForWeekOfYear = 0;

    static StatsWeek containing(const QDateTime &date, const QTimeZone &timeZone);

    friend bool operator==(const StatsWeek &a, const StatsWeek &b)
    {
        return a.start == b.start && a.weekOfYear == b.weekOfYear && a.yearForWeekOfYear == b.yearForWeekOfYear;
    }
};

} // namespace zq

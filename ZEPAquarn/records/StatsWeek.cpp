#include "records/StatsWeek.h"

namespace zq {

StatsWeek StatsWeek::containing(const QDateTime &date, const QTimeZone &timeZone)
{
    const QDate day = date.toTimeZone(timeZone).date();
    const QDate monday = day.addDays(1 - day.dayOfWeek());
    // startOfDay() finds the first valid instant when a clock change skips midnight.
    QDateTime start = monday.startOfDay(timeZone);
    if (!start.isValid())
        start = date;
    int year = 0;
    const int week = monday.weekNumber(&year);
    return {start, week, year};
}

} // namespace zq

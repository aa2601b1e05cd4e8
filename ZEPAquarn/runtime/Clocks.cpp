#include "runtime/Clocks.h"

#include <ctime>

namespace zq::rt {

namespace {

Nanos readClock(clockid_t id)
{
    timespec ts{};
    clock_gettime(id, &ts);
    return std::chrono::seconds(ts.tv_sec) + Nanos(ts.tv_nsec);
}

const QDateTime &referenceDate()
{
    static const QDateTime date(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    return date;
}

} // namespace

Nanos SystemClocks::continuousNow() const
{
    return readClock(CLOCK_BOOTTIME);
}

Nanos SystemClocks::uptimeNow() const
{
    return readClock(CLOCK_MONOTONIC);
}

QDateTime SystemClocks::wallNow() const
{
    return QDateTime::currentDateTimeUtc();
}

double secondsSinceReferenceDate(const QDateTime &time)
{
    return static_cast<double>(referenceDate().msecsTo(time)) / 1000.0;
}

QDateTime dateFromReferenceSeconds(double seconds)
{
    return referenceDate().addMSecs(static_cast<qint64>(seconds * 1000.0));
}

} // namespace zq::rt

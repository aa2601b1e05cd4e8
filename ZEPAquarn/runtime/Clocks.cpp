#include "runtime/Clocks.h"

#include <cmath>
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

std::optional<QDateTime> dateFromReferenceSeconds(double seconds)
{
    if (!std::isfinite(seconds) || std::fabs(seconds) > 1e12)
        return std::nullopt;
    return referenceDate().addMSecs(std::llround(seconds * 1000.0));
}

} // namespace zq::rt

#pragma once

#include "runtime/Executor.h"

#include <QDateTime>

#include <optional>

namespace zq::rt {

// The three clocks the application reads. Logic takes a Clocks& so tests can drive time.
class Clocks {
public:
    virtual ~Clocks() = default;

    // Keeps counting while the machine sleeps (CLOCK_BOOTTIME); for timing rules and durations.
    virtual Nanos continuousNow() const = 0;
    // Time since boot without sleep (CLOCK_MONOTONIC); for freshness checks that pause in sleep.
    virtual Nanos uptimeNow() const = 0;
    // Wall time in UTC; for records shown to the user. It can jump.
    virtual QDateTime wallNow() const = 0;
};

class SystemClocks final : public Clocks {
public:
    Nanos continuousNow() const override;
    Nanos uptimeNow() const override;
    QDateTime wallNow() const override;
};

// Wall time as seconds since 2001-01-01 00:00:00 UTC, the reference date of stored times.
double secondsSinceReferenceDate(const QDateTime &time);
// Rounded to the millisecond, so a stored time reads back as the same instant. None for a number no
// calendar date matches (not finite, or beyond about 30 000 years either way).
std::optional<QDateTime> dateFromReferenceSeconds(double seconds);

} // namespace zq::rt

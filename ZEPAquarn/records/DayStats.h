#pragma once

#include <QtGlobal>

#include <limits>

namespace zq {

// The committed takes of one calendar day. JSON keys "takes", "words", "speakingMs", all required.
struct DayStats {
    // The most one day can hold; real days stay far below. A stored day outside [0, most] is
    // damage, not a day: it is refused when the file is read.
    static constexpr qint64 mostTakes = 1'000'000; // a take lasts at least half a second
    static constexpr qint64 mostWords = 1'000'000'000;
    // A day's takes fit in the day and the take that began before it; a week leaves room to spare.
    static constexpr qint64 mostSpeakingMs = qint64(7) * 24 * 60 * 60 * 1000;

    qint64 takes = 0;
    qint64 words = 0;
    qint64 speakingMs = 0;

    bool isPlausible() const
    {
        return takes >= 0 && takes <= mostTakes && words >= 0 && words <= mostWords && speakingMs >= 0 &&
               speakingMs <= mostSpeakingMs;
    }

    friend bool operator==(const DayStats &, const DayStats &) = default;
};

// a + b for counts, held at the largest (or smallest) value instead of overflowing: sums over
// many days must not wrap into nonsense.
constexpr qint64 saturatingAdd(qint64 a, qint64 b)
{
    constexpr qint64 largest = std::numeric_limits<qint64>::max();
    constexpr qint64 smallest = std::numeric_limits<qint64>::min();
    if (b > 0 && a > largest - b)
        return largest;
    if (b < 0 && a < smallest - b)
        return smallest;
    return a + b;
}

} // namespace zq

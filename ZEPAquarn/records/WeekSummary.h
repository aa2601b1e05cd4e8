#pragma once

#include "records/StatsWeek.h"

#include <array>

namespace zq {

// A week's totals for the weekly recap and the statistics page.
struct WeekSummary {
    StatsWeek week;
    // Monday first through Sunday.
    std::array<qint64, 7> dailyWords{};
    qint64 words = 0;
    qint64 takes = 0;
    // Seconds spoken.
    double speaking = 0.0;

    friend bool operator==(const WeekSummary &, const WeekSummary &) = default;
};

} // namespace zq

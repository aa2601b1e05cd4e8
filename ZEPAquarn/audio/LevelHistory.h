#pragma once

#include "runtime/Executor.h"

#include <array>

namespace zq {

// The last 32 voice levels with their times, for meters drawn a little behind real time.
// A value type: copies are independent and cost no allocation, so a meter can take one per frame.
// Writers append in ascending time; level() interpolates linearly between the two samples around
// the asked time.
class LevelHistory {
public:
    static constexpr int kCapacity = 32;

    struct Sample {
        rt::Nanos t{0};   // on the main loop's clock, which never steps
        double level = 0; // 0 to 1
        friend bool operator==(const Sample &, const Sample &) = default;
    };

    // Clamps `level` into 0...1 (a NaN counts as 0) and stores it, overwriting the oldest sample
    // once 32 are held.
    void append(rt::Nanos t, double level);
    // The level at `now` - `delay`: 0 when empty, the oldest or newest level outside their range.
    double level(rt::Nanos now, rt::Nanos delay) const;

    int count() const { return m_count; }
    // While filling: the number of samples; once full: the index of the oldest sample.
    int head() const { return m_head; }
    const Sample &at(int index) const { return m_ring[static_cast<std::size_t>(index)]; }

    friend bool operator==(const LevelHistory &a, const LevelHistory &b);

private:
    std::array<Sample, kCapacity> m_ring{};
    int m_count = 0;
    int m_head = 0;
};

} // namespace zq

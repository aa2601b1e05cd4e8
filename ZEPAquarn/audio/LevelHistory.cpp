#include "audio/LevelHistory.h"

#include <cmath>

namespace zq {

void LevelHistory::append(rt::Nanos t, double level)
{
    // A NaN would pass through a clamp and poison every later interpolation.
    if (!(level > 0))
        level = 0;
    else if (level > 1)
        level = 1;
    if (m_count < kCapacity) {
        m_ring[static_cast<std::size_t>(m_count)] = Sample{t, level};
        ++m_count;
        m_head = m_count % kCapacity;
        return;
    }
    m_ring[static_cast<std::size_t>(m_head)] = Sample{t, level};
    m_head = (m_head + 1) % kCapacity;
}

double LevelHistory::level(rt::Nanos now, rt::Nanos delay) const
{
    if (m_count == 0)
        return 0;
    const rt::Nanos target = now - delay;
    const auto ordered = [this](int i) -> const Sample & {
        return m_ring[static_cast<std::size_t>((m_head + i) % m_count)];
    };
    const Sample &oldest = ordered(0);
    if (target <= oldest.t)
        return oldest.level;
    const Sample &newest = ordered(m_count - 1);
    if (newest.t <= target)
        return newest.level;
    for (int i = 1; i < m_count; ++i) {
        const Sample &b = ordered(i);
        if (b.t < target)
            continue;
        const Sample &a = ordered(i - 1);
        const rt::Nanos span = b.t - a.t;
        if (span > rt::Nanos(0))
            return a.level + rt::Seconds(target - a.t) / span * (b.level - a.level);
        return b.level;
    }
    return newest.level;
}

bool operator==(const LevelHistory &a, const LevelHistory &b)
{
    if (a.m_count != b.m_count || a.m_head != b.m_head)
        return false;
    for (int i = 0; i < a.m_count; ++i) {
        if (!(a.m_ring[static_cast<std::size_t>(i)] == b.m_ring[static_cast<std::size_t>(i)]))
            return false;
    }
    return true;
}

} // namespace zq

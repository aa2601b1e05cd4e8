#pragma once

#include <QFont>

namespace zq {

// The two faces the statistics and rewards views draw with, at a size in points with a fixed letter
// tracking (absolute): the system face, and the monospaced brand face for numbers, week labels and
// links. Light, regular and medium weights.
enum class RewardsFace { system, brand };
QFont rewardsFont(RewardsFace face, double pointSize, QFont::Weight weight, double tracking);

} // namespace zq

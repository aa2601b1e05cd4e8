#pragma once

#include <QFont>
#include <QStringList>

namespace zq {

// The two faces the statistics and rewards views draw with, at a point size with a fixed letter
// tracking: the system face, and the monospaced brand face for numbers, week labels and links.
enum class RewardsFace { system, brand };
QFont rewardsFont(RewardsFace face, double pointSize, QFont::Weight weight, double tracking);

} // namespace zq

#pragma once

#include "pipeline/Colorway.h"

#include <QString>

#include <array>
#include <set>
#include <vector>

namespace zq {

// The depth tiers that unlock colorways, by their stored numbers; ordered shallow to deep.
enum class DepthTier { shallows = 1, twilight = 2, abyss = 3 };

inline constexpr std::array<DepthTier, 3> kAllDepthTiers = {DepthTier::shallows, DepthTier::twilight, DepthTier::abyss};

// Verified downloads that reach the tier: 1, 3 and 5.
qint64 verifiedDownloadsNeeded(DepthTier tier);
// The colorways a tier unlocks, in their declaration order.
std::vector<Colorway> colorwaysOf(DepthTier tier);
// Every tier whose threshold `verifiedDownloads` reaches.
std::set<DepthTier> tiersReached(qint64 verifiedDownloads);

// "Consensus Mint", "Signal Purple", "Agent Teal", "Deep Orbit", "System Gray", "Monochrome".
QString displayName(Colorway colorway);

} // namespace zq

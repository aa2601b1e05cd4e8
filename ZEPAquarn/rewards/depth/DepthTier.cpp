#include "rewards/depth/DepthTier.h"

namespace zq {

qint64 verifiedDownloadsNeeded(DepthTier tier)
{
    switch (tier) {
    case DepthTier::shallows:
        return 1;
    case DepthTier::twilight:
        return 3;
    case DepthTier::abyss:
        return 5;
    }
    return 0;
}

std::vector<Colorway> colorwaysOf(DepthTier tier)
{
    switch (tier) {
    case DepthTier::shallows:
        return {Colorway::signalPurple};
    case DepthTier::twilight:
        return {Colorway::agentTeal, Colorway::deepOrbit};
    case DepthTier::abyss:
        return {Colorway::systemGray, Colorway::monochrome};
    }
    return {};
}

std::set<DepthTier> tiersReached(qint64 verifiedDownloads)
{
    std::set<DepthTier> tiers;
    for (const DepthTier tier : kAllDepthTiers) {
        if (verifiedDownloads >= verifiedDownloadsNeeded(tier))
            tiers.insert(tier);
    }
    return tiers;
}

QString displayName(Colorway colorway)
{
    switch (colorway) {
    case Colorway::consensusMint:
        return QStringLiteral("Consensus Mint");
    case Colorway::signalPurple:
        return QStringLiteral("Signal Purple");
    case Colorway::agentTeal:
        return QStringLiteral("Agent Teal");
    case Colorway::deepOrbit:
        return QStringLiteral("Deep Orbit");
    case Colorway::systemGray:
        return QStringLiteral("System Gray");
    case Colorway::monochrome:
        return QStringLiteral("Monochrome");
    }
    return {};
}

} // namespace zq

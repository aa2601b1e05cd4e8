#pragma once

#include "runtime/RawValue.h"

#include <QString>

#include <array>
#include <optional>

namespace zq {

// The six skins the pill and the application icon can wear. The raw values are what the settings
// store ("depthSelection") and what the icon asset names are made from.
enum class Colorway { consensusMint, signalPurple, agentTeal, deepOrbit, systemGray, monochrome };

inline constexpr std::array<Colorway, 6> kAllColorways = {Colorway::consensusMint, Colorway::signalPurple,
                                                          Colorway::agentTeal,     Colorway::deepOrbit,
                                                          Colorway::systemGray,    Colorway::monochrome};

constexpr std::array<RawValueName<Colorway>, 6> rawValueNames(Colorway)
{
    return {{{Colorway::consensusMint, "consensusMint"},
             {Colorway::signalPurple, "signalPurple"},
             {Colorway::agentTeal, "agentTeal"},
             {Colorway::deepOrbit, "deepOrbit"},
             {Colorway::systemGray, "systemGray"},
             {Colorway::monochrome, "monochrome"}}};
}

// The asset name of the application icon worn with `colorway`: "AppIcon" for the default skin,
// "AppIcon-" and the raw value for every other.
QString appIconName(Colorway colorway);

} // namespace zq

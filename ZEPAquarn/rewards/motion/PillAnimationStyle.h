#pragma once

#include "menubar/brand/VekPillMeter.h"
#include "runtime/RawValue.h"

#include <QString>

#include <array>
#include <optional>

namespace zq::rt {
class Settings;
}

namespace zq {

// The listening animations the pill can show while the capture is live.
enum class PillAnimationStyle { logoBars, scaledPieces, bandSwell, surface };

inline constexpr std::array<PillAnimationStyle, 4> kAllPillAnimationStyles = {
    PillAnimationStyle::logoBars, PillAnimationStyle::scaledPieces, PillAnimationStyle::bandSwell,
    PillAnimationStyle::surface};
// The order of the gallery's tiles.
inline constexpr std::array<PillAnimationStyle, 4> kPillAnimationGalleryOrder = {
    PillAnimationStyle::surface, PillAnimationStyle::logoBars, PillAnimationStyle::scaledPieces,
    PillAnimationStyle::bandSwell};

// The stored "pillAnimation" values.
constexpr std::array<RawValueName<PillAnimationStyle>, 4> rawValueNames(PillAnimationStyle)
{
    return {{{PillAnimationStyle::logoBars, "logo-bars"},
             {PillAnimationStyle::scaledPieces, "scaled-pieces"},
             {PillAnimationStyle::bandSwell, "band-swell"},
             {PillAnimationStyle::surface, "surface"}}};
}
// The style stored under "pillAnimation"; logoBars when none is stored or the value is unknown.
PillAnimationStyle storedPillAnimationStyle(const rt::Settings &settings);
QString displayName(PillAnimationStyle style);
// The gallery tile's tooltip.
QString blurb(PillAnimationStyle style);
// The lifetime reclaimed seconds that unlock the style; none for the styles always available.
std::optional<double> unlockThreshold(PillAnimationStyle style);
// "4h", "12h"; empty for the styles always available.
QString unlockHoursText(PillAnimationStyle style);
// How the arc meter draws a style; none for logo + bars, which the bar meter draws.
std::optional<VekMotion> vekMotionOf(PillAnimationStyle style);

} // namespace zq

#pragma once

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

// "logo-bars", "scaled-pieces", "band-swell", "surface": the stored "pillAnimation" values.
QString rawValue(PillAnimationStyle style);
// Exactly the four raw values; any other text (the empty one too) gives none.
std::optional<PillAnimationStyle> pillAnimationStyleFromRawValue(const QString &raw);
// The style stored under "pillAnimation"; logoBars when none is stored or the value is unknown.
PillAnimationStyle storedPillAnimationStyle(const rt::Settings &settings);
QString displayName(PillAnimationStyle style);
// The gallery tile's tooltip.
QString blurb(PillAnimationStyle style);
// The lifetime reclaimed seconds that unlock the style; none for the styles always available.
std::optional<double> unlockThreshold(PillAnimationStyle style);
// "4h", "12h"; empty for the styles always available.
QString unlockHoursText(PillAnimationStyle style);

} // namespace zq

#pragma once

#include <QFont>
#include <QString>

#include <optional>

namespace zq {

// The brand family, registered from the application's resources at start-up.
inline constexpr char kBrandFontFamily[] = "Chivo Mono";

// The three brand weights. The family ships as one static file per weight (Qt cannot set a variation
// axis), so a weight picks its file; the system fallback uses the same weight.
enum class BrandWeight { light, regular, medium };

// The Qt weight of a brand weight; its value is the weight axis's (300, 400, 500).
QFont::Weight brandQtWeight(BrandWeight weight);

// Registers the brand family's three files from the resources. Idempotent; needs a QGuiApplication.
// Returns whether all three were registered.
bool registerBrandFonts();

// `family` at `size` pixels and `weight`, or none when the family is not installed. Sizes are pixels
// so that geometry matches the design's points at device-pixel ratio 1.
std::optional<QFont> brandQFont(const QString &family, qreal size, BrandWeight weight);

// `family` at `weight` and `size` when installed, else the system monospaced font at the same size and
// weight. Views take their fonts from the text roles in Typography.h, which ask for kBrandFontFamily.
QFont brandFontOf(const QString &family, BrandWeight weight, qreal size);

} // namespace zq

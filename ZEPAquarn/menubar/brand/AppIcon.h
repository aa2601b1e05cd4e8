#pragma once

#include "pipeline/Colorway.h"

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QRect>

#include <array>

class QPainter;

namespace zq {

// The application's own icon: the brand mark in a colorway's accent on a rounded square of the
// colorway's ground. It sits on light and dark panels alike, so it carries the dark scheme's colours
// whatever the appearance, as the exported ledger card does.
struct AppIconColors {
    QColor ground;
    QColor mark;

    friend bool operator==(const AppIconColors &, const AppIconColors &) = default;
};
AppIconColors appIconColors(Colorway colorway);

// The sizes the desktop asks for: panels and menus at 16–32, switchers and launchers above.
inline constexpr std::array<int, 8> kAppIconSizes{16, 22, 24, 32, 48, 64, 128, 256};
// Up to this size the ring is hinted: a stroke of whole pixels whose edges fall on pixel boundaries,
// so that it stays sharp where the artwork's outline would blur into the ground.
inline constexpr int kHintedAppIconSize = 32;

// Draws the icon for a square of whole device pixels (the painter unscaled).
void paintAppIcon(QPainter &painter, const QRect &pixels, Colorway colorway);
// The icon at one size, ARGB32 premultiplied, transparent outside the rounded square.
QImage appIconImage(Colorway colorway, int pixelSize);

// The application icon asset of that name (appIconName: "AppIcon", "AppIcon-signalPurple", …), at
// every size of kAppIconSizes; a null icon for any other name.
QIcon appIconAsset(const QString &name);

} // namespace zq

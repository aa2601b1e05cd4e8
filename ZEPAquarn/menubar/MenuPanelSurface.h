#pragma once

#include "menubar/brand/Palette.h"

#include <QMargins>
#include <QRectF>

class QPainter;

namespace zq {

// The tray panel's own surface: the palette's background with a hairline edge. Where a compositing
// manager runs, the window around it is translucent, so the surface takes rounded corners and casts
// a soft shadow into a margin of the window; without one the window is the panel's plain rectangle.
struct MenuPanelSurface {
    static constexpr double kRadius = 12;
    // How far the panel stays from the edges of the screen's available area.
    static constexpr int kScreenMargin = 6;

    // The room the shadow takes around the panel; none without a compositor.
    static QMargins shadowMargins(bool compositing);

    // The shadow that `panel` casts, drawn around it (the panel is painted over it).
    static void paintShadow(QPainter &painter, const QRectF &panel, ColorScheme scheme);
    // The background with its hairline edge, rounded or square.
    static void paint(QPainter &painter, const QRectF &panel, ColorScheme scheme, bool rounded);
};

} // namespace zq

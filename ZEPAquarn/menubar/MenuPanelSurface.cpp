#include "menubar/MenuPanelSurface.h"

#include "menubar/brand/ControlWell.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace zq {

namespace {

// A soft shadow from stacked, ever wider and fainter outlines: it falls a little below the panel.
constexpr int kShadowLayers = 14;
constexpr double kShadowOffsetY = 3;

} // namespace

QMargins MenuPanelSurface::shadowMargins(bool compositing)
{
    return compositing ? QMargins(kShadowLayers, kShadowLayers - 3, kShadowLayers, kShadowLayers + 3) : QMargins();
}

void MenuPanelSurface::paintShadow(QPainter &painter, const QRectF &panel, ColorScheme scheme)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    // Dark surfaces need a deeper shadow to stand off the desktop at all.
    const double strength = scheme == ColorScheme::dark ? 0.5 : 0.22;
    const QRectF source = panel.translated(0, kShadowOffsetY);
    for (int layer = kShadowLayers; layer >= 1; --layer) {
        const double spread = layer;
        const double fade = 1.0 - double(layer) / (kShadowLayers + 1);
        QPainterPath ring;
        ring.addRoundedRect(source.adjusted(-spread, -spread, spread, spread), kRadius + spread, kRadius + spread);
        painter.setBrush(QColor::fromRgbF(0, 0, 0, float(strength * fade * fade / kShadowLayers * 2.5)));
        painter.drawPath(ring);
    }
    painter.restore();
}

void MenuPanelSurface::paint(QPainter &painter, const QRectF &panel, ColorScheme scheme, bool rounded)
{
    const double radius = rounded ? kRadius : 0;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, rounded);
    QPainterPath shape;
    shape.addRoundedRect(panel, radius, radius);
    painter.fillPath(shape, Palette::color(Palette::background, scheme));
    strokeInsideEdge(painter, panel, radius, Palette::color(Palette::hairline, scheme));
    painter.restore();
}

} // namespace zq

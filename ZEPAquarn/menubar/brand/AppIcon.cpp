#include "menubar/brand/AppIcon.h"

#include "menubar/brand/Palette.h"
#include "menubar/brand/ZepaSymbol.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <QtMath>

#include <algorithm>

namespace zq {

namespace {

// How far each of the artwork's four arcs reaches to either side of its axis; the rest of each
// quarter is the gap at the diagonal.
constexpr qreal kArcHalfSpanDegrees = 36;
// The hinted ring is a little bolder than the artwork (a tenth of its diameter), and never thinner
// than two pixels: one pixel reads as a hairline circle, with gaps too narrow to see.
constexpr qreal kHintedRingThickness = 0.11;
constexpr int kHintedRingMinimumStroke = 2;
// Across the middle of the hinted ring a gap stays this wide at least, so four arcs still read.
constexpr qreal kHintedGapPixels = 2;

struct Layout {
    int margin;     // empty border around the ground
    int ground;     // side of the rounded square
    qreal corner;   // its corner radius
    int ringRadius; // outer radius of the mark, whole pixels so its outer edges fall on pixel boundaries
    int ringStroke; // hinted sizes only: the ring's thickness in whole pixels
    qreal arcHalfSpanDegrees;
};

Layout layoutFor(int size)
{
    Layout layout{};
    layout.margin = qRound(size / 16.0);
    layout.ground = size - 2 * layout.margin;
    layout.corner = layout.ground * 0.225;
    // Small icons give the mark more of the ground: its shape must survive a handful of pixels.
    const bool hinted = size <= kHintedAppIconSize;
    layout.ringRadius = std::max(2, qRound(layout.ground * (hinted ? 0.34 : 0.32)));
    layout.ringStroke = std::max(kHintedRingMinimumStroke, qRound(2 * layout.ringRadius * kHintedRingThickness));
    const qreal middle = layout.ringRadius - layout.ringStroke / 2.0;
    const qreal halfGapDegrees = qRadiansToDegrees(kHintedGapPixels / 2 / middle);
    layout.arcHalfSpanDegrees = std::min(kArcHalfSpanDegrees, 45 - halfGapDegrees);
    return layout;
}

// The four arcs as bands between two circles of whole-pixel radius, with square ends. Filled, not
// stroked: a thin pen takes the rasteriser's line path, which spreads a one-pixel ring over two rows.
void paintHintedRing(QPainter &painter, QPointF centre, const Layout &layout, const QColor &color)
{
    const qreal outer = layout.ringRadius;
    const qreal inner = outer - layout.ringStroke;
    const auto circle = [centre](qreal radius) {
        return QRectF(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    };
    QPainterPath ring;
    // Qt's angles run counter-clockwise from three o'clock.
    for (int axis : {90, 0, 270, 180}) {
        const qreal start = axis - layout.arcHalfSpanDegrees;
        const qreal span = 2 * layout.arcHalfSpanDegrees;
        ring.arcMoveTo(circle(outer), start);
        ring.arcTo(circle(outer), start, span);
        ring.arcTo(circle(inner), start + span, -span);
        ring.closeSubpath();
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawPath(ring);
}

} // namespace

AppIconColors appIconColors(Colorway colorway)
{
    const std::optional<Palette::Token> ground = colorwayBackground(colorway);
    return {Palette::color(ground.value_or(Palette::surface), ColorScheme::dark),
            Palette::color(colorwayAccent(colorway), ColorScheme::dark)};
}

void paintAppIcon(QPainter &painter, const QRect &pixels, Colorway colorway)
{
    const int size = std::min(pixels.width(), pixels.height());
    const Layout layout = layoutFor(size);
    const AppIconColors colors = appIconColors(colorway);
    const QPointF centre(pixels.x() + size / 2.0, pixels.y() + size / 2.0);

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colors.ground);
    painter.drawRoundedRect(
        QRectF(pixels.x() + layout.margin, pixels.y() + layout.margin, layout.ground, layout.ground), layout.corner,
        layout.corner);

    if (size <= kHintedAppIconSize) {
        paintHintedRing(painter, centre, layout, colors.mark);
    } else {
        ZepaSymbol mark;
        mark.size = 2 * layout.ringRadius;
        mark.color = colors.mark;
        mark.paint(painter, QRectF(pixels.x(), pixels.y(), size, size));
    }
    painter.restore();
}

QImage appIconImage(Colorway colorway, int pixelSize)
{
    QImage image(pixelSize, pixelSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    paintAppIcon(painter, image.rect(), colorway);
    painter.end();
    return image;
}

QIcon appIconAsset(const QString &name)
{
    for (Colorway colorway : kAllColorways) {
        if (appIconName(colorway) != name)
            continue;
        QIcon icon;
        for (int size : kAppIconSizes)
            icon.addPixmap(QPixmap::fromImage(appIconImage(colorway, size)));
        return icon;
    }
    return {};
}

} // namespace zq

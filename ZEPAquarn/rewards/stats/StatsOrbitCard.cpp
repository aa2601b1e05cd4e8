#include "rewards/stats/StatsOrbitCard.h"

#include "menubar/brand/ControlWell.h"
#include "menubar/brand/Metrics.h"
#include "menubar/brand/Typography.h"
#include "rewards/stats/StatsPageLayout.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

namespace zq {

namespace {

constexpr double kPadding = 25;
// The ring of dots, and the room above and below it: a spacer and a gap on each side.
constexpr double kRingDiameter = 120;
constexpr double kRingSpacer = 16;
constexpr double kRingGap = 13;
// Unlit dots are the accent at this share of its opacity.
constexpr double kUnlitDotOpacity = 0.24;
// The percent shrinks, down to kPercentMinimumScale of its size, until it fits kPercentWidth.
constexpr double kPercentSize = 32;
constexpr double kPercentMinimumScale = 0.6;
constexpr double kPercentWidth = 95;
// Between the percent and the week under it.
constexpr double kLabelGap = 4;

} // namespace

double statsOrbitCardHeight()
{
    return kPadding + kRingSpacer + kRingGap + kRingDiameter + kRingGap + kRingSpacer + kPadding;
}

void paintStatsOrbitCard(QPainter &painter, const QRectF &rect, const StatsOrbitComparison &orbit, ColorScheme scheme)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(rect, Metrics::kCardRadius, Metrics::kCardRadius);
    painter.fillPath(shape, Palette::color(Palette::surface, scheme));

    const QRectF ring(rect.center() - QPointF(kRingDiameter, kRingDiameter) / 2, QSizeF(kRingDiameter, kRingDiameter));
    const int lit = StatsPageLayout::litDotCount(orbit.dialProgress);
    QColor dim = Palette::color(Palette::accent, scheme);
    dim.setAlphaF(dim.alphaF() * kUnlitDotOpacity);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < StatsPageLayout::dotCount; ++i) {
        painter.setBrush(i < lit ? Palette::color(Palette::accent, scheme) : dim);
        const QPointF centre = StatsPageLayout::dotCentre(i, ring);
        const double r = StatsPageLayout::dotDiameter / 2;
        painter.drawEllipse(centre, r, r);
    }

    QFont percentFont = textFont(textStyle::display.withSize(kPercentSize));
    for (double size = kPercentSize; size >= kPercentSize * kPercentMinimumScale; size -= 1) {
        percentFont = textFont(textStyle::display.withSize(size));
        if (QFontMetricsF(percentFont).horizontalAdvance(orbit.percent) <= kPercentWidth)
            break;
    }
    const QFont labelFont = textFont(textStyle::figureSmall);
    const double percentHeight = QFontMetricsF(percentFont).height();
    const double labelHeight = QFontMetricsF(labelFont).height();
    const double top = ring.center().y() - (percentHeight + kLabelGap + labelHeight) / 2;
    painter.setFont(percentFont);
    painter.setPen(Palette::color(Palette::textPrimary, scheme));
    painter.drawText(QRectF(ring.center().x() - kPercentWidth / 2, top, kPercentWidth, percentHeight), Qt::AlignCenter,
                     orbit.percent);
    painter.setFont(labelFont);
    painter.setPen(Palette::color(Palette::textTertiary, scheme));
    painter.drawText(QRectF(ring.left(), top + percentHeight + kLabelGap, ring.width(), labelHeight), Qt::AlignCenter,
                     orbit.previousWeekLabel);

    strokeInsideEdge(painter, rect, Metrics::kCardRadius, Palette::color(Palette::hairline, scheme));
    painter.restore();
}

} // namespace zq

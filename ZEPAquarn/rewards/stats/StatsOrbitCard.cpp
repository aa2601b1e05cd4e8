#include "rewards/stats/StatsOrbitCard.h"

#include "menubar/brand/ControlWell.h"
#include "rewards/RewardsFont.h"
#include "rewards/stats/StatsPageLayout.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

namespace zq {

double statsOrbitCardHeight()
{
    // Padding, a spacer of 16 on each side of the 120-point ring, 13 between them.
    return 25 + 16 + 13 + 120 + 13 + 16 + 25;
}

void paintStatsOrbitCard(QPainter &painter, const QRectF &rect, const StatsOrbitComparison &orbit, ColorScheme scheme)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(rect, 14, 14);
    painter.fillPath(shape, Palette::color(Palette::surface, scheme));

    const QRectF ring(rect.center().x() - 60, rect.center().y() - 60, 120, 120);
    const int lit = StatsPageLayout::litDotCount(orbit.dialProgress);
    QColor dim = Palette::color(Palette::accent, scheme);
    dim.setAlphaF(dim.alphaF() * 0.24);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < StatsPageLayout::dotCount; ++i) {
        painter.setBrush(i < lit ? Palette::color(Palette::accent, scheme) : dim);
        const QPointF centre = StatsPageLayout::dotCentre(i, ring);
        const double r = StatsPageLayout::dotDiameter / 2;
        painter.drawEllipse(centre, r, r);
    }

    // The percent shrinks (to 0.6 of its size at most) to fit 95 points.
    QFont percentFont = rewardsFont(RewardsFace::brand, 32, QFont::Light, 0);
    for (double size = 32; size >= 32 * 0.6; size -= 1) {
        percentFont = rewardsFont(RewardsFace::brand, size, QFont::Light, 0);
        if (QFontMetricsF(percentFont).horizontalAdvance(orbit.percent) <= 95)
            break;
    }
    const QFont labelFont = rewardsFont(RewardsFace::brand, 11, QFont::Normal, 0);
    const double percentHeight = QFontMetricsF(percentFont).height();
    const double labelHeight = QFontMetricsF(labelFont).height();
    const double top = ring.center().y() - (percentHeight + 4 + labelHeight) / 2;
    painter.setFont(percentFont);
    painter.setPen(Palette::color(Palette::textPrimary, scheme));
    painter.drawText(QRectF(ring.center().x() - 47.5, top, 95, percentHeight), Qt::AlignCenter, orbit.percent);
    painter.setFont(labelFont);
    painter.setPen(Palette::color(Palette::textTertiary, scheme));
    painter.drawText(QRectF(ring.left(), top + percentHeight + 4, ring.width(), labelHeight), Qt::AlignCenter,
                     orbit.previousWeekLabel);

    strokeInsideEdge(painter, rect, 14, Palette::color(Palette::hairline, scheme));
    painter.restore();
}

} // namespace zq

#include "menubar/brand/FocusRing.h"

#include "menubar/brand/Metrics.h"

#include <QPainter>

#include <algorithm>

namespace zq {

void paintFocusRing(QPainter &painter, const QRectF &rect, qreal radius, ColorScheme scheme)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Palette::color(Palette::focus, scheme), Metrics::kRingWidth));
    painter.setBrush(Qt::NoBrush);
    // The stroke's centre line sits one point in, so the ring's outer edge is the shape's own edge.
    const qreal inner = std::max<qreal>(0, radius - Metrics::kRingWidth / 2);
    painter.drawRoundedRect(strokedRect(rect, Metrics::kRingWidth), inner, inner);
    // A line of the page's colour just inside parts the ring from the control, so the ring shows on
    // a control of the focus colour itself (a primary button, a switch that is on).
    const QRectF parted =
        rect.adjusted(Metrics::kRingWidth, Metrics::kRingWidth, -Metrics::kRingWidth, -Metrics::kRingWidth);
    const qreal partedRadius = std::max<qreal>(0, radius - Metrics::kRingWidth - Metrics::kHairline / 2);
    painter.setPen(QPen(Palette::color(Palette::background, scheme), Metrics::kHairline));
    painter.drawRoundedRect(strokedRect(parted), partedRadius, partedRadius);
    painter.restore();
}

} // namespace zq

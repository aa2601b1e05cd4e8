#include "rewards/stats/StatsPageLayout.h"

#include <QSizeF>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zq::StatsPageLayout {

LedgerOrbitPlacement placeLedgerAndOrbit(double width, double spacing,
                                         const std::function<double(int part, double width)> &heightFor)
{
    LedgerOrbitPlacement placement;
    if (width >= 680) {
        const double a = (width - spacing) * 0.6;
        const double b = (width - spacing) - a;
        const double height = std::max(heightFor(0, a), heightFor(1, b));
        placement.ledger = QRectF(0, 0, a, height);
        placement.orbit = QRectF(a + spacing, 0, b, height);
        placement.sideBySide = true;
    } else {
        const double h0 = heightFor(0, width);
        const double h1 = heightFor(1, width);
        placement.ledger = QRectF(0, 0, width, h0);
        placement.orbit = QRectF(0, h0 + spacing, width, h1);
    }
    return placement;
}

int litDotCount(double progress)
{
    if (!(progress > 0))
        return 0;
    return static_cast<int>(std::round(std::min(progress, 1.0) * dotCount));
}

QPointF dotCentre(int index, const QRectF &rect)
{
    const double radius = (std::min(rect.width(), rect.height()) - dotDiameter) / 2;
    const double theta = 2 * std::numbers::pi * index / dotCount;
    return {rect.center().x() + radius * std::sin(theta), rect.center().y() - radius * std::cos(theta)};
}

double barHeight(qint64 words, const std::array<qint64, 7> &week)
{
    const qint64 largest = *std::max_element(week.begin(), week.end());
    const double scale = largest >= 2 ? double(largest) : 1.0;
    return std::max(double(words) * chartHeight / scale, 2.0);
}

} // namespace zq::StatsPageLayout

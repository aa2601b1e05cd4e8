#pragma once

#include <QPointF>
#include <QRectF>

#include <array>
#include <functional>
#include <optional>

namespace zq {

// The geometry of the statistics page's drawn parts, apart from any widget.
namespace StatsPageLayout {

// The ledger card and the dial side by side (60 % and 40 % of the width less the spacing) from 680
// points of width, else stacked. `heightFor` answers a part's height (0 the card, 1 the dial) at a
// width. Side by side, both take the taller height.
struct LedgerOrbitPlacement {
    QRectF ledger;
    QRectF orbit;
    bool sideBySide = false;
    QSizeF size() const { return (ledger | orbit).size(); }
};
LedgerOrbitPlacement placeLedgerAndOrbit(double width, double spacing,
                                         const std::function<double(int part, double width)> &heightFor);

// How many of the dial's 28 dots are lit for a progress: clamped to 0…1, halves away from zero.
int litDotCount(double progress);
// The centre of dot `index` in a ring drawn in `rect`: dot 0 at twelve o'clock, running clockwise.
QPointF dotCentre(int index, const QRectF &rect);
inline constexpr int dotCount = 28;
inline constexpr double dotDiameter = 10;

// A day's bar in the ledger chart, 44 points at the week's largest count (at least 2 of them).
double barHeight(qint64 words, const std::array<qint64, 7> &week);
inline constexpr double chartHeight = 44;

} // namespace StatsPageLayout

} // namespace zq

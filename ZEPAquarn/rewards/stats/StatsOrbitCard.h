#pragma once

#include "menubar/brand/Palette.h"
#include "rewards/stats/StatsLedgerContent.h"

#include <QRectF>

class QPainter;

namespace zq {

// The dial card: the week's change of words as a ring of 28 dots, the big percent and the week it is
// compared with.
void paintStatsOrbitCard(QPainter &painter, const QRectF &rect, const StatsOrbitComparison &orbit, ColorScheme scheme);
// The dial card's height, whatever its width.
double statsOrbitCardHeight();

} // namespace zq

#include "rewards/stats/OutlinedRow.h"

#include "menubar/brand/ControlWell.h"
#include "menubar/brand/Metrics.h"

#include <QPainter>

namespace zq {

void OutlinedRow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    strokeInsideEdge(painter, QRectF(rect()), Metrics::kControlRadius,
                     Palette::color(Palette::hairline, colorSchemeOf(*this)));
}

} // namespace zq

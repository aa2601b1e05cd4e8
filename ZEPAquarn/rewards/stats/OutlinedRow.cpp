#include "rewards/stats/OutlinedRow.h"

#include "menubar/brand/ControlWell.h"

#include <QPainter>

namespace zq {

void OutlinedRow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    strokeInsideEdge(painter, QRectF(rect()), 8, Palette::color(Palette::hairline, colorSchemeOf(*this)));
}

} // namespace zq

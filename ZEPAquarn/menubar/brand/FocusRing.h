#pragma once

#include "menubar/brand/Palette.h"

#include <QRectF>

class QPainter;

namespace zq {

// The keyboard focus of a control: one ring, 2 points wide, in the focus colour, just inside `rect`
// and following its corner `radius`, parted from the control by a 1-point line of the page's colour. Every focusable
// control of the application shows its focus with this ring and nothing else, so the toolkit's own focus frames are
// never drawn.
void paintFocusRing(QPainter &painter, const QRectF &rect, qreal radius, ColorScheme scheme);

} // namespace zq

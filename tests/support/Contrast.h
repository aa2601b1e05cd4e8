#pragma once

#include <QColor>
#include <QImage>
#include <QRectF>

namespace zq::test {

// The relative luminance of an opaque colour: 0 (black) to 1 (white).
double relativeLuminance(const QColor &color);

// The contrast ratio of two opaque colours by their relative luminance, from 1 (the same) to 21
// (black on white): the measure of legible text, at least 4.5 for body text.
double contrastRatio(const QColor &a, const QColor &b);

// The strongest contrast any pixel in `area` (logical pixels) of `image` has against `background`:
// for text, the ink of its glyph cores. Pixels are taken as they land on the screen, over
// `background`.
double strongestContrast(const QImage &image, const QRectF &area, const QColor &background);

} // namespace zq::test

#include "support/Contrast.h"

#include <algorithm>
#include <cmath>

namespace zq::test {

namespace {

double channel(double value)
{
    return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
}

} // namespace

double relativeLuminance(const QColor &color)
{
    return 0.2126 * channel(color.redF()) + 0.7152 * channel(color.greenF()) + 0.0722 * channel(color.blueF());
}

double contrastRatio(const QColor &a, const QColor &b)
{
    const double la = relativeLuminance(a);
    const double lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

double strongestContrast(const QImage &image, const QRectF &area, const QColor &background)
{
    const double ratio = image.devicePixelRatio();
    const QRect pixels = QRectF(area.topLeft() * ratio, area.size() * ratio).toAlignedRect() & image.rect();
    double strongest = 1;
    for (int y = pixels.top(); y <= pixels.bottom(); ++y)
        for (int x = pixels.left(); x <= pixels.right(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            const double alpha = pixel.alphaF();
            const QColor landed = QColor::fromRgbF(float(pixel.redF() * alpha + background.redF() * (1 - alpha)),
                                                   float(pixel.greenF() * alpha + background.greenF() * (1 - alpha)),
                                                   float(pixel.blueF() * alpha + background.blueF() * (1 - alpha)));
            strongest = std::max(strongest, contrastRatio(landed, background));
        }
    return strongest;
}

} // namespace zq::test

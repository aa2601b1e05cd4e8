#include "rewards/FittedLine.h"

#include <QFontMetricsF>

#include <cmath>

namespace zq {

FittedLine FittedLine::fit(const QString &text, const TextStyle &style, double width, double minimumScale)
{
    const int largest = static_cast<int>(std::lround(style.size));
    // A hair of slack so that 0.85 of 20 still allows 17.
    const int smallest = std::min(largest, static_cast<int>(std::ceil(style.size * minimumScale - 1e-9)));
    QFont font;
    for (int pixels = largest; pixels >= smallest; --pixels) {
        font = textFont(style.withSize(pixels));
        if (QFontMetricsF(font).horizontalAdvance(text) <= width)
            return {font, text};
    }
    return {font, QFontMetricsF(font).elidedText(text, Qt::ElideRight, width)};
}

} // namespace zq

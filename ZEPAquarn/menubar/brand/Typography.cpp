#include "menubar/brand/Typography.h"

#include "menubar/brand/BrandFont.h"

#include <QFontDatabase>

#include <algorithm>
#include <cmath>

namespace zq {

namespace {

BrandWeight brandWeightOf(QFont::Weight weight)
{
    if (weight <= QFont::Light)
        return BrandWeight::light;
    return weight >= QFont::Medium ? BrandWeight::medium : BrandWeight::regular;
}

int pixelSizeOf(qreal size)
{
    return std::max(1, int(std::lround(size)));
}

} // namespace

qreal letterSpacingOf(const TextStyle &style)
{
    return std::trunc(style.size * style.tracking * 64.0) / 64.0;
}

QFont textFont(const TextStyle &style)
{
    QFont font;
    if (style.face == TypeFace::brand) {
        font = brandFontOf(QString::fromLatin1(kBrandFontFamily), brandWeightOf(style.weight), style.size);
    } else {
        font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
        font.setStyleName(QString());
        font.setWeight(style.weight);
    }
    font.setPixelSize(pixelSizeOf(style.size));
    if (const qreal spacing = letterSpacingOf(style); spacing != 0)
        font.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
    return font;
}

} // namespace zq

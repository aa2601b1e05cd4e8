#include "menubar/brand/BrandFont.h"

#include "runtime/Log.h"

#include <QFontDatabase>
#include <QGuiApplication>

#include <algorithm>
#include <cmath>

namespace zq {

QFont::Weight brandQtWeight(BrandWeight weight)
{
    switch (weight) {
    case BrandWeight::light:
        return QFont::Light;
    case BrandWeight::regular:
        return QFont::Normal;
    case BrandWeight::medium:
        return QFont::Medium;
    }
    return QFont::Normal;
}

bool registerBrandFonts()
{
    static const bool registered = [] {
        bool all = true;
        for (const char *file :
             {":/fonts/ChivoMono-Light.ttf", ":/fonts/ChivoMono-Regular.ttf", ":/fonts/ChivoMono-Medium.ttf"}) {
            if (QFontDatabase::addApplicationFont(QString::fromLatin1(file)) < 0) {
                qCWarning(lcWindow) << "fonts: cannot register" << file;
                all = false;
            }
        }
        return all;
    }();
    return registered;
}

namespace {

void setSize(QFont &font, qreal size)
{
    // Pixel sizes are whole; the design's sizes are whole points except where rounding is harmless.
    font.setPixelSize(std::max(1, int(std::lround(size))));
}

QFont systemMonospacedFont(BrandWeight weight, qreal size)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setStyleHint(QFont::Monospace);
    font.setWeight(brandQtWeight(weight));
    font.setStyleName(QString());
    setSize(font, size);
    return font;
}

} // namespace

std::optional<QFont> brandQFont(const QString &family, qreal size, BrandWeight weight)
{
    registerBrandFonts();
    if (!QFontDatabase::families().contains(family))
        return std::nullopt;
    QFont font(family);
    font.setWeight(brandQtWeight(weight));
    setSize(font, size);
    return font;
}

QFont brandFontOf(const QString &family, BrandWeight weight, qreal size)
{
    if (auto font = brandQFont(family, size, weight))
        return *font;
    return systemMonospacedFont(weight, size);
}

} // namespace zq

#include "menubar/brand/Palette.h"
#include "support/ViewRender.h"

#include <QPainter>
#include <QWidget>

#include <gtest/gtest.h>

using zq::colorFromHex;
using zq::ColorScheme;
using zq::Palette;

namespace {

QColor rgba(int r, int g, int b, double opacity = 1.0)
{
    QColor color(r, g, b);
    color.setAlphaF(float(opacity));
    return color;
}

} // namespace

TEST(PaletteTest, HexTextsReadAsTheLow24BitsOfAHexNumber)
{
    EXPECT_EQ(colorFromHex(u"#055147"), QColor(0x05, 0x51, 0x47));
    EXPECT_EQ(colorFromHex(u"055147"), colorFromHex(u"#055147"));
    // No short form: #FFF is the number 0xFFF.
    EXPECT_EQ(colorFromHex(u"#FFF"), QColor(0, 15, 255));
    // Eight digits lose their first two; there is no alpha from the text.
    EXPECT_EQ(colorFromHex(u"#80A4DCB5"), QColor(0xA4, 0xDC, 0xB5));
    EXPECT_EQ(colorFromHex(u"#80A4DCB5").alpha(), 255);
    // Reading stops at the first character that is no hex digit.
    EXPECT_EQ(colorFromHex(u"#12zz34"), QColor(0, 0, 0x12));
    EXPECT_EQ(colorFromHex(u"a4dcb5"), QColor(0xA4, 0xDC, 0xB5));
    // A scanner skips leading white space and takes a 0x prefix.
    EXPECT_EQ(colorFromHex(u"  0x055147"), QColor(0x05, 0x51, 0x47));
    // Nothing readable is opaque black.
    for (const char16_t *text : {u"", u"#", u"##055147", u"xyz", u"-1"})
        EXPECT_EQ(colorFromHex(text), QColor(0, 0, 0)) << QString::fromUtf16(text).toStdString();
    // Too many digits saturate, like the scanner's overflow.
    EXPECT_EQ(colorFromHex(u"#123456789ABCDEF012"), QColor(255, 255, 255));
}

TEST(PaletteTest, EveryTokenHasItsLightAndDarkValue)
{
    struct Expected {
        Palette::Token token;
        QColor dark;
        QColor light;
    };
    const Expected expected[] = {
        {Palette::windowBackground, rgba(0x14, 0x14, 0x17), rgba(0xFF, 0xFF, 0xFF)},
        {Palette::background, rgba(0x14, 0x14, 0x17), rgba(0xFF, 0xFF, 0xFF)},
        {Palette::surface, rgba(0x1A, 0x1A, 0x1E), rgba(0xFF, 0xFF, 0xFF)},
        {Palette::surfaceRaised, rgba(0x21, 0x21, 0x26), rgba(0xFF, 0xFF, 0xFF)},
        {Palette::controlFill, rgba(0x10, 0x10, 0x13), rgba(0xF6, 0xF5, 0xFD)},
        {Palette::controlHover, rgba(0x26, 0x26, 0x2B), rgba(0xF1, 0xF0, 0xF8)},
        {Palette::textPrimary, rgba(0xF6, 0xF5, 0xFD), rgba(0x14, 0x14, 0x17)},
        {Palette::textSecondary, rgba(0xA0, 0xA0, 0xA8), rgba(0x57, 0x57, 0x57)},
        {Palette::textTertiary, rgba(0x6C, 0x6C, 0x74), rgba(0x8E, 0x8E, 0x94)},
        {Palette::onAccent, rgba(0x14, 0x14, 0x17), rgba(0xFF, 0xFF, 0xFF)},
        {Palette::hairline, rgba(0xF6, 0xF5, 0xFD, 0.1), rgba(0x14, 0x14, 0x17, 0.1)},
        {Palette::selectionStroke, rgba(0xA4, 0xDC, 0xB5, 0.34), rgba(0x05, 0x51, 0x47)},
        {Palette::brandGreen, rgba(0x05, 0x51, 0x47), rgba(0x05, 0x51, 0x47)},
        {Palette::accentWash, rgba(0xA4, 0xDC, 0xB5, 0.14), rgba(0x05, 0x51, 0x47, 0.08)},
        {Palette::accent, rgba(0xA4, 0xDC, 0xB5), rgba(0x05, 0x51, 0x47)},
        {Palette::onBrand, rgba(0xFF, 0xFF, 0xFF), rgba(0xFF, 0xFF, 0xFF)},
        {Palette::focus, rgba(0xA4, 0xDC, 0xB5), rgba(0x05, 0x51, 0x47)},
        {Palette::idleAccent, rgba(0xA4, 0xDC, 0xB5), rgba(0x05, 0x51, 0x47)},
        {Palette::success, rgba(0xA4, 0xDC, 0xB5), rgba(0x05, 0x51, 0x47)},
        {Palette::pending, rgba(0x6C, 0x6C, 0x74), rgba(0xB4, 0xB4, 0xBA)},
        {Palette::danger, rgba(0xFF, 0x53, 0x4C), rgba(0xD9, 0x3A, 0x33)},
        {Palette::locked, rgba(0x3A, 0x3A, 0x40), rgba(0xDC, 0xDC, 0xE2)},
        {Palette::warning, rgba(0xF5, 0xA6, 0x23), rgba(0xB4, 0x53, 0x09)},
        {Palette::warningWash, rgba(0xF5, 0xA6, 0x23, 0.16), rgba(0xF5, 0xA6, 0x23, 0.16)},
        {Palette::warningBorder, rgba(0xF5, 0xA6, 0x23, 0.38), rgba(0xB4, 0x53, 0x09, 0.45)},
        {Palette::signalPurpleAccent, rgba(0x76, 0x64, 0xEA), rgba(0x76, 0x64, 0xEA)},
        {Palette::darkColorwayAccent, rgba(0xF6, 0xF5, 0xFD), rgba(0xF6, 0xF5, 0xFD)},
        {Palette::agentTealBackground, rgba(0x05, 0x51, 0x47), rgba(0x05, 0x51, 0x47)},
        {Palette::deepOrbitBackground, rgba(0x0F, 0x29, 0x2A), rgba(0x0F, 0x29, 0x2A)},
        {Palette::systemGrayAccent, rgba(0xC5, 0xC5, 0xC5), rgba(0x57, 0x57, 0x57)},
        {Palette::monochromeBackground, rgba(0x14, 0x14, 0x17), rgba(0x14, 0x14, 0x17)},
    };
    for (const Expected &e : expected) {
        SCOPED_TRACE(Palette::definition(e.token).name);
        EXPECT_EQ(Palette::color(e.token, ColorScheme::dark).rgba(), e.dark.rgba());
        EXPECT_EQ(Palette::color(e.token, ColorScheme::light).rgba(), e.light.rgba());
    }
    EXPECT_EQ(Palette::definitions().size(), std::size(expected) - 2); // background and focus are names
}

TEST(PaletteTest, ColorwaysTakeTheirAccentAndBackgroundFromTheSkinTable)
{
    using zq::Colorway;
    EXPECT_EQ(zq::colorwayAccent(Colorway::consensusMint), Palette::accent);
    EXPECT_EQ(zq::colorwayAccent(Colorway::signalPurple), Palette::signalPurpleAccent);
    EXPECT_EQ(zq::colorwayAccent(Colorway::systemGray), Palette::systemGrayAccent);
    for (Colorway dark : {Colorway::agentTeal, Colorway::deepOrbit, Colorway::monochrome})
        EXPECT_EQ(zq::colorwayAccent(dark), Palette::darkColorwayAccent);
    EXPECT_EQ(zq::colorwayBackground(Colorway::agentTeal), Palette::agentTealBackground);
    EXPECT_EQ(zq::colorwayBackground(Colorway::deepOrbit), Palette::deepOrbitBackground);
    EXPECT_EQ(zq::colorwayBackground(Colorway::monochrome), Palette::monochromeBackground);
    for (Colorway light : {Colorway::consensusMint, Colorway::signalPurple, Colorway::systemGray})
        EXPECT_FALSE(zq::colorwayBackground(light).has_value());
}

TEST(PaletteTest, ASchemeIsReadFromThePalettesWindowColour)
{
    QWidget widget;
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x14, 0x14, 0x17));
    widget.setPalette(dark);
    EXPECT_EQ(zq::colorSchemeOf(widget), ColorScheme::dark);
    QPalette light;
    light.setColor(QPalette::Window, QColor(0xF4, 0xF4, 0xF2));
    widget.setPalette(light);
    EXPECT_EQ(zq::colorSchemeOf(widget), ColorScheme::light);
}

namespace {

constexpr int kColumns = 6;
constexpr qreal kSwatch = 40;
constexpr qreal kGap = 8;

QRectF swatchRect(std::size_t index)
{
    return {kGap + qreal(index % kColumns) * (kSwatch + kGap), kGap + qreal(index / kColumns) * (kSwatch + kGap),
            kSwatch, kSwatch};
}

// Every token as a swatch on the scheme's page background.
zq::test::PaintFunction paletteSheet(ColorScheme scheme)
{
    return [scheme](QPainter &painter, const QRectF &rect) {
        painter.fillRect(rect, Palette::color(Palette::background, scheme));
        const auto definitions = Palette::definitions();
        for (std::size_t i = 0; i < definitions.size(); ++i)
            painter.fillRect(swatchRect(i), Palette::color(definitions[i].token, scheme));
    };
}

} // namespace

TEST(PaletteTest, ThePaletteSheetShowsEachTokenAtItsSwatchCentre)
{
    const auto definitions = Palette::definitions();
    const int rows = int((definitions.size() + kColumns - 1) / kColumns);
    const QSizeF size(kGap + kColumns * (kSwatch + kGap), kGap + rows * (kSwatch + kGap));
    for (ColorScheme scheme : {ColorScheme::light, ColorScheme::dark}) {
        const char *name = scheme == ColorScheme::dark ? "palette-dark" : "palette-light";
        for (qreal ratio : {1.0, 2.0}) {
            const QImage sheet = zq::test::renderPaint(size, paletteSheet(scheme), ratio);
            if (ratio == 2.0) {
                EXPECT_FALSE(zq::test::saveRender(sheet, QString::fromLatin1(name)).isEmpty());
            }
            const QColor page = Palette::color(Palette::background, scheme);
            for (std::size_t i = 0; i < definitions.size(); ++i) {
                SCOPED_TRACE(definitions[i].name);
                const QColor expected = zq::test::over(Palette::color(definitions[i].token, scheme), page);
                EXPECT_TRUE(zq::test::sameColor(zq::test::pixelAt(sheet, swatchRect(i).center()), expected))
                    << zq::test::pixelAt(sheet, swatchRect(i).center()).name().toStdString() << " vs "
                    << expected.name().toStdString();
            }
        }
    }
}

#include "window/AppAppearance.h"

#include "menubar/brand/Palette.h"
#include "support/ViewRender.h"

#include <QApplication>
#include <QLineEdit>

#include <gtest/gtest.h>

using zq::AppAppearance;
using zq::ColorScheme;
using zq::Palette;

// A forced appearance gives native widgets the palette's own colours: the window the custom views
// paint on, text, fields and the selection tint, and the scheme the views read back from it.
TEST(AppAppearanceTest, AForcedAppearanceDressesNativeWidgetsInThePalette)
{
    for (const auto &[appearance, scheme] :
         {std::pair{AppAppearance::light, ColorScheme::light}, std::pair{AppAppearance::dark, ColorScheme::dark}}) {
        SCOPED_TRACE(zq::rawValue(appearance).toStdString());
        zq::applyAppearance(*qApp, appearance);
        const QPalette palette = QApplication::palette();
        EXPECT_EQ(zq::colorSchemeOf(palette), scheme);
        EXPECT_EQ(palette.color(QPalette::Window), Palette::color(Palette::windowBackground, scheme));
        EXPECT_EQ(palette.color(QPalette::Text), Palette::color(Palette::textPrimary, scheme));
        EXPECT_EQ(palette.color(QPalette::Highlight), Palette::color(Palette::brandGreen, scheme));

        QLineEdit field(QStringLiteral("WWWW"));
        field.resize(120, 30);
        const QImage image = zq::test::renderWidget(field);
        zq::test::saveRender(image, QStringLiteral("native-field-%1").arg(zq::rawValue(appearance)));
        EXPECT_TRUE(
            zq::test::sameColor(zq::test::pixelAt(image, {100, 15}), Palette::color(Palette::controlFill, scheme), 3))
            << "the field's fill";
        EXPECT_FALSE(zq::test::colorBounds(image, Palette::color(Palette::textPrimary, scheme).rgb(), 40).isEmpty())
            << "its text";
    }
    zq::applyAppearance(*qApp, AppAppearance::system);
}

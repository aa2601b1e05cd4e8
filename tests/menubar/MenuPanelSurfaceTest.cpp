// The tray panel's surface in light and dark, square without a compositor and rounded with a shadow
// with one.
#include "menubar/MenuPanelSurface.h"
#include "support/ViewRender.h"

#include <QPainter>

#include <gtest/gtest.h>

using zq::ColorScheme;
using zq::MenuPanelSurface;
using zq::Palette;
using zq::test::over;
using zq::test::pixelAt;
using zq::test::sameColor;

TEST(MenuPanelSurfaceTest, PaletteBackgroundHairlineEdgeAndShadowWhereComposited)
{
    for (ColorScheme scheme : {ColorScheme::light, ColorScheme::dark}) {
        for (bool compositing : {false, true}) {
            const QMargins shadow = MenuPanelSurface::shadowMargins(compositing);
            const QRectF panel(shadow.left(), shadow.top(), 372, 240);
            const QSizeF size(panel.width() + shadow.left() + shadow.right(),
                              panel.height() + shadow.top() + shadow.bottom());
            const QImage image = zq::test::renderPaint(size, [&](QPainter &painter, const QRectF &) {
                if (compositing)
                    MenuPanelSurface::paintShadow(painter, panel, scheme);
                MenuPanelSurface::paint(painter, panel, scheme, compositing);
            });
            const QString name =
                QStringLiteral("menu-panel-surface-%1-%2")
                    .arg(compositing ? QStringLiteral("composited") : QStringLiteral("plain"),
                         scheme == ColorScheme::dark ? QStringLiteral("dark") : QStringLiteral("light"));
            zq::test::saveRender(image, name);
            const std::string what = name.toStdString();

            const QColor background = Palette::color(Palette::background, scheme);
            const QColor edge = over(Palette::color(Palette::hairline, scheme), background);
            EXPECT_FALSE(sameColor(edge, background, 4)) << what << ": the edge shows";
            EXPECT_TRUE(sameColor(pixelAt(image, panel.center()), background)) << what;
            EXPECT_TRUE(sameColor(pixelAt(image, {panel.left() + 0.5, panel.center().y()}), edge, 3)) << what;
            EXPECT_TRUE(sameColor(pixelAt(image, {panel.center().x(), panel.bottom() - 0.5}), edge, 3)) << what;
            EXPECT_TRUE(sameColor(pixelAt(image, {panel.left() + 1.5, panel.center().y()}), background)) << what;

            const QColor corner = pixelAt(image, {panel.left() + 0.5, panel.top() + 0.5});
            if (!compositing) {
                EXPECT_EQ(image.size(), QSize(372, 240)) << what << ": no room for a shadow";
                EXPECT_TRUE(sameColor(corner, edge, 3)) << what << ": square corners";
                continue;
            }
            // Rounded: the corner lets the desktop through, but for the shadow's faint tint.
            EXPECT_LT(corner.alpha(), 80) << what;
            // The shadow fades out from under the panel and never reaches the window's edge.
            const int near = pixelAt(image, {panel.center().x(), panel.bottom() + 2.5}).alpha();
            const int far = pixelAt(image, {panel.center().x(), panel.bottom() + 12.5}).alpha();
            EXPECT_GT(near, far) << what;
            EXPECT_GT(far, 0) << what;
            EXPECT_EQ(pixelAt(image, {0.5, 0.5}).alpha(), 0) << what;
            EXPECT_LT(pixelAt(image, {panel.center().x(), panel.top() - 10.5}).alpha(), near) << what << ": it falls";
        }
    }
}

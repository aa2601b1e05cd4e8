// The application icon: the mark on its ground in each colorway, hinted to whole pixels at the small
// sizes. Renders go to view-renders/app-icon-<colorway>-<size>.png.

#include "menubar/brand/AppIcon.h"
#include "support/ViewRender.h"

#include <gtest/gtest.h>

using zq::AppIconColors;
using zq::Colorway;
using zq::test::sameColor;

namespace {

QColor pixel(const QImage &image, int x, int y)
{
    return zq::test::pixelAt(image, QPointF(x + 0.5, y + 0.5));
}

// How much of a pixel the mark covers, read from its green between the ground's and the mark's.
double markCoverage(const QColor &at, const AppIconColors &colors)
{
    return double(at.green() - colors.ground.green()) / (colors.mark.green() - colors.ground.green());
}

} // namespace

TEST(AppIconTest, EachColorwaysAssetIsItsAccentRingWithGapsOnItsGround)
{
    for (Colorway colorway : zq::kAllColorways) {
        const AppIconColors colors = zq::appIconColors(colorway);
        const QIcon asset = zq::appIconAsset(zq::appIconName(colorway));
        ASSERT_EQ(asset.availableSizes().size(), zq::kAppIconSizes.size());
        for (int size : {16, 256}) {
            const QImage icon = asset.pixmap(size).toImage();
            zq::test::saveRender(icon, QStringLiteral("app-icon-%1-%2").arg(zq::rawValue(colorway)).arg(size));
            const std::string at = zq::appIconName(colorway).toStdString() + " at " + std::to_string(size);
            const int c = size / 2;
            EXPECT_EQ(pixel(icon, 0, 0).alpha(), 0) << at << ": the corner is outside the rounded square";
            EXPECT_TRUE(sameColor(pixel(icon, c, c), colors.ground, 0)) << at << ": the ring is hollow";
            EXPECT_TRUE(sameColor(pixel(icon, c, size * 3 / 32), colors.ground, 0)) << at;
            // Down the top arc's axis, and on the diagonal through the ring (the gap between two arcs).
            int marked = 0;
            for (int y = 0; y < c; ++y)
                marked += markCoverage(pixel(icon, c, y), colors) > 0.85 ? 1 : 0;
            EXPECT_GE(marked, 2) << at;
            const int k = size * 46 / 256;
            EXPECT_TRUE(sameColor(pixel(icon, c + k, c - 1 - k), colors.ground, 0)) << at;
        }
    }
    EXPECT_TRUE(zq::appIconAsset(QStringLiteral("AppIcon-consensusMint")).isNull()) << "no such asset";
}

TEST(AppIconTest, UpToThirtyTwoPixelsTheRingsEdgesFallOnPixelBoundaries)
{
    // Down the top arc's axis, every pixel is ground or mark: an edge at a fractional place would
    // leave one half covered (the ring's curvature leaves a few percent).
    const AppIconColors colors = zq::appIconColors(Colorway::consensusMint);
    for (int size : {16, 22, 24, 32}) {
        const QImage icon = zq::appIconImage(Colorway::consensusMint, size);
        zq::test::saveRender(icon, QStringLiteral("app-icon-consensusMint-%1").arg(size));
        for (int y = size / 16; y < size / 2; ++y) {
            const double covered = markCoverage(pixel(icon, size / 2, y), colors);
            EXPECT_TRUE(covered < 0.15 || covered > 0.85) << size << " px, row " << y << ": " << covered << " covered";
        }
    }
}

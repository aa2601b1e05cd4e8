// The application icon in each colorway: the mark on its ground at every size the desktop asks for,
// with the small sizes hinted to whole pixels. Renders go to view-renders/app-icon-*.png.

#include "menubar/brand/AppIcon.h"
#include "support/ViewRender.h"

#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>

using zq::AppIconColors;
using zq::Colorway;
using zq::test::pixelAt;
using zq::test::sameColor;

namespace {

QColor hex(const char *text)
{
    return QColor(QString::fromLatin1(text));
}

// The pixel whose top-left corner is (x, y), exactly as painted.
QColor pixel(const QImage &image, int x, int y)
{
    return pixelAt(image, QPointF(x + 0.5, y + 0.5));
}

// How much of a pixel the mark covers, read from its colour between the ground's and the mark's.
double markCoverage(const QColor &at, const AppIconColors &colors)
{
    return double(at.green() - colors.ground.green()) / (colors.mark.green() - colors.ground.green());
}

// How many pixels of the column right of the centre, from the top to the centre, the mark covers.
int markedPixelsDownTheAxis(const QImage &image, const AppIconColors &colors)
{
    int count = 0;
    for (int y = 0; y < image.height() / 2; ++y)
        count += markCoverage(pixel(image, image.width() / 2, y), colors) > 0.85 ? 1 : 0;
    return count;
}

} // namespace

TEST(AppIconTest, EachColorwayWearsItsAccentOnItsGroundAndDrawsItsRingWithGaps)
{
    const struct {
        Colorway colorway;
        AppIconColors colors;
    } rows[] = {
        {Colorway::consensusMint, {hex("#1A1A1E"), hex("#A4DCB5")}},
        {Colorway::signalPurple, {hex("#1A1A1E"), hex("#7664EA")}},
        {Colorway::agentTeal, {hex("#055147"), hex("#F6F5FD")}},
        {Colorway::deepOrbit, {hex("#0F292A"), hex("#F6F5FD")}},
        {Colorway::systemGray, {hex("#1A1A1E"), hex("#C5C5C5")}},
        {Colorway::monochrome, {hex("#141417"), hex("#F6F5FD")}},
    };
    for (const auto &row : rows) {
        const std::string name = zq::rawValue(row.colorway).toStdString();
        EXPECT_EQ(zq::appIconColors(row.colorway), row.colors) << name;
        for (int size : {16, 256}) {
            const QImage icon = zq::appIconImage(row.colorway, size);
            zq::test::saveRender(icon, QStringLiteral("app-icon-%1-%2").arg(zq::rawValue(row.colorway)).arg(size));
            const std::string at = name + " at " + std::to_string(size);
            ASSERT_EQ(icon.size(), QSize(size, size)) << at;
            EXPECT_EQ(pixel(icon, 0, 0).alpha(), 0) << at << ": the corner is outside the rounded square";
            const int c = size / 2;
            EXPECT_TRUE(sameColor(pixel(icon, c, c), row.colors.ground, 0)) << at << ": the ring is hollow";
            // Between the ground's top edge and the ring; then the top arc.
            EXPECT_TRUE(sameColor(pixel(icon, c, size * 3 / 32), row.colors.ground, 0)) << at;
            EXPECT_GE(markedPixelsDownTheAxis(icon, row.colors), 1) << at;
        }
        // On the diagonal, halfway through the ring: the gap between two arcs.
        const QImage large = zq::appIconImage(row.colorway, 256);
        const double r = 0.30 * 224, d = r / std::sqrt(2.0);
        EXPECT_TRUE(sameColor(pixelAt(large, QPointF(128 + d, 128 - d)), row.colors.ground, 0)) << name;
    }
}

TEST(AppIconTest, UpToThirtyTwoPixelsTheRingsEdgesFallOnPixelBoundaries)
{
    // Down the top arc's axis: ground, then only whole pixels of the mark, then ground again. An edge
    // at a fractional place would leave a pixel half covered; the ring's curvature leaves a few percent.
    const AppIconColors colors = zq::appIconColors(Colorway::consensusMint);
    for (int size : {16, 22, 24, 32}) {
        const QImage icon = zq::appIconImage(Colorway::consensusMint, size);
        zq::test::saveRender(icon, QStringLiteral("app-icon-consensusMint-%1").arg(size));
        for (int y = 0; y < size / 2; ++y) {
            const QColor at = pixel(icon, size / 2, y);
            if (at.alpha() == 0)
                continue;
            const double covered = markCoverage(at, colors);
            EXPECT_TRUE(covered < 0.15 || covered > 0.85)
                << size << " px, row " << y << ": a pixel " << covered << " covered";
        }
        const int markRows = markedPixelsDownTheAxis(icon, colors);
        EXPECT_GE(markRows, 1) << size;
        EXPECT_LE(markRows, 2) << size;
    }
    // Larger sizes draw the artwork's own outline.
    for (int size : {48, 64, 128})
        zq::test::saveRender(zq::appIconImage(Colorway::signalPurple, size),
                             QStringLiteral("app-icon-signalPurple-%1").arg(size));
}

TEST(AppIconTest, TheAssetOfEachColorwaysNameHoldsEverySizeAndNoOtherNameHasOne)
{
    for (Colorway colorway : zq::kAllColorways) {
        const QIcon icon = zq::appIconAsset(zq::appIconName(colorway));
        ASSERT_FALSE(icon.isNull()) << zq::appIconName(colorway).toStdString();
        EXPECT_EQ(icon.availableSizes().size(), zq::kAppIconSizes.size());
        EXPECT_EQ(icon.pixmap(256).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
                  zq::appIconImage(colorway, 256));
    }
    for (const char *name : {"", "AppIcon-consensusMint", "appicon", "AppIcon-", "ZepaRing"})
        EXPECT_TRUE(zq::appIconAsset(QString::fromLatin1(name)).isNull()) << name;
}

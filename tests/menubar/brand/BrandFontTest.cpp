#include "menubar/brand/BrandFont.h"

#include <QFontInfo>
#include <QFontMetricsF>

#include <gtest/gtest.h>

using zq::BrandWeight;

namespace {

const QString kMissingFamily = QStringLiteral("Zq Missing Family");

// Whether every glyph advances alike (the font database's own flag is unreliable for some fonts).
bool isMonospaced(const QFont &font)
{
    const QFontMetricsF metrics(font);
    return metrics.horizontalAdvance(QLatin1Char('i')) == metrics.horizontalAdvance(QLatin1Char('M'));
}

} // namespace

TEST(BrandFontTest, TheBrandFamilyIsBundledAtThreeWeights)
{
    ASSERT_TRUE(zq::registerBrandFonts());
    const struct {
        BrandWeight weight;
        int axis;
    } cases[] = {{BrandWeight::light, 300}, {BrandWeight::regular, 400}, {BrandWeight::medium, 500}};
    for (const auto &c : cases) {
        const auto font = zq::brandQFont(QStringLiteral("Chivo Mono"), 13, c.weight);
        ASSERT_TRUE(font.has_value());
        const QFontInfo info(*font);
        EXPECT_EQ(info.family(), QStringLiteral("Chivo Mono"));
        EXPECT_EQ(info.weight(), c.axis) << c.axis;
        EXPECT_EQ(info.pixelSize(), 13);
        EXPECT_TRUE(isMonospaced(*font));
        EXPECT_EQ(QFontInfo(zq::brandFontOf(QString::fromLatin1(zq::kBrandFontFamily), c.weight, 13)).family(),
                  QStringLiteral("Chivo Mono"));
    }
}

TEST(BrandFontTest, AMissingFamilyFallsBackToTheSystemMonospacedFontAtTheSameWeight)
{
    EXPECT_FALSE(zq::brandQFont(kMissingFamily, 13, BrandWeight::medium).has_value());
    const QFont fallback = zq::brandFontOf(kMissingFamily, BrandWeight::medium, 13);
    const QFontInfo info(fallback);
    EXPECT_NE(info.family(), QStringLiteral("Chivo Mono"));
    EXPECT_TRUE(isMonospaced(fallback)) << info.family().toStdString();
    EXPECT_EQ(info.pixelSize(), 13);
    EXPECT_EQ(fallback.weight(), QFont::Medium);
    EXPECT_EQ(zq::brandFontOf(kMissingFamily, BrandWeight::light, 9).weight(), QFont::Light);
}

#include "rewards/stats/StatsPageLayout.h"

#include <gtest/gtest.h>

using namespace zq;
using namespace zq::StatsPageLayout;

TEST(StatsPageLayoutTest, LedgerAndDialSitSideBySideFrom680Points)
{
    // The card grows taller as it narrows; the dial asks for little.
    const auto heights = [](int part, double width) { return part == 0 ? 200000.0 / width : 120.0; };

    const LedgerOrbitPlacement wide = placeLedgerAndOrbit(760, 13, heights);
    EXPECT_TRUE(wide.sideBySide);
    EXPECT_DOUBLE_EQ(wide.ledger.width(), (760 - 13) * 0.6);
    EXPECT_DOUBLE_EQ(wide.orbit.left(), wide.ledger.width() + 13);
    EXPECT_DOUBLE_EQ(wide.orbit.right(), 760);
    EXPECT_DOUBLE_EQ(wide.orbit.height(), wide.ledger.height()) << "the dial matches the card's height";
    EXPECT_DOUBLE_EQ(wide.ledger.height(), 200000.0 / ((760 - 13) * 0.6));

    EXPECT_TRUE(placeLedgerAndOrbit(680, 13, heights).sideBySide);
    const LedgerOrbitPlacement narrow = placeLedgerAndOrbit(679, 13, heights);
    EXPECT_FALSE(narrow.sideBySide);
    EXPECT_DOUBLE_EQ(narrow.ledger.width(), 679);
    EXPECT_DOUBLE_EQ(narrow.orbit.top(), 200000.0 / 679 + 13);
    EXPECT_DOUBLE_EQ(narrow.orbit.height(), 120);
    EXPECT_DOUBLE_EQ(narrow.size().height(), 200000.0 / 679 + 13 + 120);
}

TEST(StatsPageLayoutTest, DialDotsLightByHalvesAwayFromZeroAndRunClockwise)
{
    EXPECT_EQ(litDotCount(0.5), 14);
    EXPECT_EQ(litDotCount(0.51), 14);
    EXPECT_EQ(litDotCount(0.52), 15);
    EXPECT_EQ(litDotCount(1.0), 28);
    EXPECT_EQ(litDotCount(3.0), 28);
    EXPECT_EQ(litDotCount(0), 0);
    EXPECT_EQ(litDotCount(-0.4), 0);
    EXPECT_EQ(litDotCount(std::nan("")), 0);

    const QRectF ring(0, 0, 120, 120);
    const QPointF top = dotCentre(0, ring);
    EXPECT_NEAR(top.x(), 60, 1e-9);
    EXPECT_NEAR(top.y(), 5, 1e-9) << "radius 55 on this page";
    const QPointF quarter = dotCentre(7, ring);
    EXPECT_NEAR(quarter.x(), 115, 1e-9) << "a quarter turn clockwise is three o'clock";
    EXPECT_NEAR(quarter.y(), 60, 1e-9);
}

TEST(StatsPageLayoutTest, BarHeightsScaleToTheLargestDay)
{
    const std::array<qint64, 7> week{0, 50, 100, -3, 0, 0, 0};
    EXPECT_DOUBLE_EQ(barHeight(0, week), 2);
    EXPECT_DOUBLE_EQ(barHeight(50, week), 22);
    EXPECT_DOUBLE_EQ(barHeight(100, week), 44);
    EXPECT_DOUBLE_EQ(barHeight(-3, week), 2) << "a negative count is drawn like 0";

    const std::array<qint64, 7> ones{1, 0, 1, 0, 0, 0, 0};
    EXPECT_DOUBLE_EQ(barHeight(1, ones), 44) << "a largest count of 1 fills the bar";
    const std::array<qint64, 7> empty{};
    EXPECT_DOUBLE_EQ(barHeight(0, empty), 2);
}

#include "rewards/motion/PillAnimationOption.h"
#include "pipeline/SettingsDefaults.h"
#include "rewards/motion/MotionStore.h"
#include "runtime/Settings.h"

#include <gtest/gtest.h>

using namespace zq;

namespace {

class PillAnimationOptionTest : public ::testing::Test {
protected:
    PillAnimationOptionTest() { registerDefaults(settings); }

    std::vector<PillAnimationOption> tiles(double measure, Colorway colorway = Colorway::consensusMint)
    {
        MotionStore motion(settings);
        return PillAnimationOption::options(motion, measure, colorway);
    }

    rt::Settings settings{QString()};
};

} // namespace

TEST_F(PillAnimationOptionTest, AFreshInstallLocksTheTieredStyles)
{
    const auto fresh = tiles(0);
    ASSERT_EQ(fresh.size(), 4u);
    EXPECT_EQ(fresh[0].style, PillAnimationStyle::surface);
    EXPECT_EQ(fresh[1].style, PillAnimationStyle::logoBars);
    EXPECT_EQ(fresh[2].style, PillAnimationStyle::scaledPieces);
    EXPECT_EQ(fresh[3].style, PillAnimationStyle::bandSwell);
    EXPECT_TRUE(fresh[1].isSelected);
    EXPECT_EQ(fresh[1].accessibilityValue(), "Selected");
    EXPECT_EQ(fresh[0].accessibilityValue(), "Available");
    EXPECT_FALSE(fresh[2].isSelectable);
    EXPECT_EQ(fresh[2].unlockNote, QString::fromUtf8("Unlocks at 4h reclaimed · 4h 0m to go"));
    EXPECT_EQ(fresh[3].unlockNote, QString::fromUtf8("Unlocks at 12h reclaimed · 12h 0m to go"));
    EXPECT_EQ(fresh[3].accessibilityValue(), *fresh[3].unlockNote);
    EXPECT_EQ(tiles(-5), fresh) << "a negative measure counts as 0";
}

TEST_F(PillAnimationOptionTest, NotesCountDownToTheThreshold)
{
    EXPECT_TRUE(tiles(14370)[2].unlockNote->endsWith("30s to go"));
    EXPECT_TRUE(tiles(14340)[2].unlockNote->endsWith("1m to go"));
    const auto unlocked = tiles(14400);
    EXPECT_TRUE(unlocked[2].isSelectable);
    EXPECT_FALSE(unlocked[2].unlockNote);
    EXPECT_EQ(tiles(40000)[3].unlockNote, QString::fromUtf8("Unlocks at 12h reclaimed · 53m to go"));
}

TEST_F(PillAnimationOptionTest, AGrandfatheredStyleIsSelectableWithoutANote)
{
    settings.setValue("pillAnimation", QStringLiteral("band-swell"));
    const auto grandfathered = tiles(0, Colorway::monochrome);
    EXPECT_TRUE(grandfathered[3].isSelectable);
    EXPECT_FALSE(grandfathered[3].unlockNote);
    EXPECT_TRUE(grandfathered[3].isSelected);
    EXPECT_EQ(grandfathered[3].colorway, Colorway::monochrome);
}

TEST_F(PillAnimationOptionTest, RemainingTimeIsCutToItsUnits)
{
    EXPECT_EQ(remainingTimeText(59), "59s");
    EXPECT_EQ(remainingTimeText(59.99), "59s");
    EXPECT_EQ(remainingTimeText(-4), "0s");
    EXPECT_EQ(remainingTimeText(3599), "59m");
    EXPECT_EQ(remainingTimeText(3660), "1h 1m");
    EXPECT_EQ(remainingTimeText(14399.5), "3h 59m");
    EXPECT_EQ(remainingTimeText(14400), "4h 0m");
    EXPECT_EQ(remainingTimeText(std::nan("")), "0s");
}

TEST_F(PillAnimationOptionTest, SyntheticVoiceCoversTheLast651Milliseconds)
{
    for (double t : {0.0, 12.5, 789456123.25}) {
        const LevelHistory history = syntheticHistory(rt::seconds(t));
        ASSERT_EQ(history.count(), 32);
        EXPECT_EQ(history.head(), 0) << "the ring filled in order";
        for (int i = 0; i < 32; ++i) {
            EXPECT_GE(history.at(i).level, 0.0);
            EXPECT_LE(history.at(i).level, 1.0);
            if (i > 0) {
                EXPECT_EQ(history.at(i).t - history.at(i - 1).t, std::chrono::milliseconds(21));
            }
        }
        EXPECT_EQ(history.at(31).t, rt::seconds(t));
    }
    using std::chrono::seconds;
    EXPECT_EQ(previewTime(seconds(110), seconds(100)), rt::seconds(103.5)) << "0.35 of real time";
    EXPECT_EQ(previewTime(seconds(90), seconds(100)), seconds(100)) << "never before its start";
}

TEST_F(PillAnimationOptionTest, UnlockLineText)
{
    EXPECT_EQ(motionUnlockText(PillAnimationStyle::scaledPieces),
              QString::fromUtf8("Scaled pieces unlocked. General › Appearance › Motion"));
}

#include "audio/LevelHistory.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using zq::LevelHistory;
using zq::rt::seconds;

TEST(LevelHistoryTest, ReadsInterpolateBetweenSamplesAndHoldAtTheEnds)
{
    LevelHistory history;
    EXPECT_EQ(history.level(seconds(100), seconds(0)), 0.0) << "an empty history reads 0";

    history.append(seconds(10.0), 0.2);
    EXPECT_EQ(history.level(seconds(5), seconds(0)), 0.2);
    EXPECT_EQ(history.level(seconds(50), seconds(0)), 0.2) << "one sample answers every read";

    history.append(seconds(10.1), 0.6);
    EXPECT_NEAR(history.level(seconds(10.1), seconds(0.05)), 0.4, 1e-9);
    EXPECT_EQ(history.level(seconds(9.0), seconds(0)), 0.2);
    EXPECT_EQ(history.level(seconds(11.0), seconds(0)), 0.6);
}

TEST(LevelHistoryTest, EqualTimesDoNotDivideByZero)
{
    LevelHistory history;
    history.append(seconds(5.0), 0.3);
    history.append(seconds(5.0), 0.9);
    EXPECT_EQ(history.level(seconds(5.0), seconds(0)), 0.3) << "the oldest wins at its own time";
    history.append(seconds(6.0), 0.1);
    const double between = history.level(seconds(5.5), seconds(0));
    EXPECT_NEAR(between, 0.5, 1e-9);
}

TEST(LevelHistoryTest, RingKeepsTheNewest32InTimeOrder)
{
    LevelHistory history;
    for (int i = 1; i <= 32; ++i)
        history.append(seconds(i), i / 100.0);
    EXPECT_EQ(history.head(), 0) << "the 32nd append wraps the head to 0";
    history.append(seconds(33), 0.33);
    EXPECT_EQ(history.count(), 32);
    EXPECT_EQ(history.head(), 1);
    EXPECT_EQ(history.level(seconds(0), seconds(0)), 0.02) << "append 1 was overwritten; append 2 is the oldest";
    EXPECT_EQ(history.level(seconds(40), seconds(0)), 0.33);
    EXPECT_NEAR(history.level(seconds(32.5), seconds(0)), (0.32 + 0.33) / 2, 1e-9)
        << "interpolation across the wrap point";
}

TEST(LevelHistoryTest, LevelsAreClampedAndCopiesAreIndependent)
{
    LevelHistory history;
    history.append(seconds(1), 1.7);
    history.append(seconds(2), -0.1);
    history.append(seconds(3), std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(history.at(0).level, 1.0);
    EXPECT_EQ(history.at(1).level, 0.0);
    EXPECT_EQ(history.at(2).level, 0.0) << "a NaN level must not poison later reads";
    EXPECT_FALSE(std::isnan(history.level(seconds(2.5), seconds(0))));

    LevelHistory copy = history;
    EXPECT_EQ(copy, history);
    copy.append(seconds(4), 0.5);
    EXPECT_NE(copy, history);
    EXPECT_EQ(history.count(), 3);
}

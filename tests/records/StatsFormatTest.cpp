#include "records/StatsFormat.h"

#include <gtest/gtest.h>

#include <limits>

using namespace zq;

TEST(StatsFormatTest, CountsGroupDigitsByLocale)
{
    EXPECT_EQ(StatsFormat::count(12345, QLocale(QLocale::English, QLocale::UnitedStates)), "12,345");
    EXPECT_EQ(StatsFormat::count(12345, QLocale(QLocale::German, QLocale::Germany)), "12.345");
    EXPECT_EQ(StatsFormat::count(1234567, QLocale(QLocale::French, QLocale::France)),
              QString::fromUtf8("1\u202F234\u202F567"));
    EXPECT_EQ(StatsFormat::count(999, QLocale(QLocale::English, QLocale::UnitedStates)), "999");
    EXPECT_EQ(StatsFormat::count(0, QLocale(QLocale::German, QLocale::Germany)), "0");
    EXPECT_EQ(StatsFormat::count(-1200, QLocale(QLocale::English, QLocale::UnitedStates)), "-1,200");
}

TEST(StatsFormatTest, DurationsCutToTheirLargestUnits)
{
    EXPECT_EQ(StatsFormat::duration(0), "0 s");
    EXPECT_EQ(StatsFormat::duration(45), "45 s");
    EXPECT_EQ(StatsFormat::duration(59.9), "59 s") << "fractions are cut, never rounded up";
    EXPECT_EQ(StatsFormat::duration(-3), "0 s");
    EXPECT_EQ(StatsFormat::duration(-0.5), "0 s");
    EXPECT_EQ(StatsFormat::duration(60), "1 m");
    EXPECT_EQ(StatsFormat::duration(779), "12 m");
    EXPECT_EQ(StatsFormat::duration(3599), "59 m");
    EXPECT_EQ(StatsFormat::duration(3600), "1 h 0 m");
    EXPECT_EQ(StatsFormat::duration(3900), "1 h 5 m");
    EXPECT_EQ(StatsFormat::duration(7200), "2 h 0 m");
    EXPECT_EQ(StatsFormat::duration(90061), "25 h 1 m") << "hours do not roll over into days";
    EXPECT_EQ(StatsFormat::duration(std::numeric_limits<double>::quiet_NaN()), "0 s");
    EXPECT_FALSE(StatsFormat::duration(std::numeric_limits<double>::infinity()).isEmpty());
}

TEST(StatsFormatTest, RatiosKeepOneDecimalBelowAHundredOfTheirUnit)
{
    EXPECT_EQ(StatsFormat::ratio(12), QString::fromUtf8("12×"));
    EXPECT_EQ(StatsFormat::ratio(12.46), QString::fromUtf8("12.5×"));
    EXPECT_EQ(StatsFormat::ratio(150), QString::fromUtf8("150×"));
    EXPECT_EQ(StatsFormat::ratio(1500), QString::fromUtf8("1.5K×"));
    EXPECT_EQ(StatsFormat::ratio(2'000'000), QString::fromUtf8("2M×"));
    EXPECT_EQ(StatsFormat::ratio(4.5e9), QString::fromUtf8("4.5B×"));
    EXPECT_EQ(StatsFormat::ratio(999.96), QString::fromUtf8("1000×")) << "rounding up never switches to K";
    EXPECT_EQ(StatsFormat::ratio(99.96), QString::fromUtf8("100×")) << "a rounded 100.0 loses its .0";
    EXPECT_EQ(StatsFormat::ratio(250'000), QString::fromUtf8("250K×"));
}

TEST(StatsFormatTest, RatiosIgnoreTheProcessLocale)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QString text = StatsFormat::ratio(12.46);
    QLocale::setDefault(saved);
    EXPECT_EQ(text, QString::fromUtf8("12.5×"));
}

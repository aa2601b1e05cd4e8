#include "menubar/MenuWeekRecapContent.h"

#include "records/StatsFormat.h"

#include <gtest/gtest.h>

using zq::MenuWeekRecapContent;
using zq::MenuWeekRecapLine;

namespace {

const QLocale kEnglish(QLocale::English, QLocale::UnitedStates);

zq::WeekSummary summary(int week, qint64 words, double speaking)
{
    zq::WeekSummary s;
    s.week.weekOfYear = week;
    s.words = words;
    s.speaking = speaking;
    return s;
}

} // namespace

TEST(CompactWordCountTest, ThousandsAndMillionsWithOneDecimalRoundedHalfToEven)
{
    const std::pair<qint64, const char *> cases[] = {
        {-5, "0"},      {0, "0"},        {999, "999"},      {1000, "1k"},      {1150, "1.2k"},
        {1234, "1.2k"}, {1250, "1.2k"},  {1350, "1.4k"},    {1950, "2k"},      {999499, "999.5k"},
        {999500, "1M"}, {1000000, "1M"}, {2500000, "2.5M"}, {2450000, "2.4M"}, {12345678, "12.3M"},
    };
    for (const auto &[count, expected] : cases)
        EXPECT_EQ(zq::StatsFormat::compactWordCount(count, kEnglish), QString::fromLatin1(expected)) << count;
}

TEST(CompactWordCountTest, UsesTheLocaleDecimalSignWithoutGrouping)
{
    const QLocale german(QLocale::German, QLocale::Germany);
    EXPECT_EQ(zq::StatsFormat::compactWordCount(1234, german), QStringLiteral("1,2k"));
    EXPECT_EQ(zq::StatsFormat::compactWordCount(999499, german), QStringLiteral("999,5k"));
    EXPECT_EQ(zq::StatsFormat::compactWordCount(998, german), QStringLiteral("998"));
}

TEST(WeekRecapContentTest, WordsAloneWhenNothingWasReclaimed)
{
    EXPECT_EQ(
        zq::weekRecapContent(summary(49, 0, 0), 40, kEnglish),
        (MenuWeekRecapContent{QStringLiteral("WEEK 49"), {{QStringLiteral("0"), QStringLiteral("words spoken")}}}));
    // 400 words take 600 s to type: speaking as long or longer reclaims nothing.
    EXPECT_EQ(zq::weekRecapContent(summary(7, 400, 600), 40, kEnglish).lines.size(), 1);
    EXPECT_EQ(zq::weekRecapContent(summary(7, 400, 601), 40, kEnglish).lines.size(), 1);
    EXPECT_EQ(zq::weekRecapContent(summary(7, 400, 1), 0, kEnglish).lines.size(), 1) << "no typing speed";
    EXPECT_EQ(zq::weekRecapContent(summary(7, 400, 1), -3, kEnglish).lines.size(), 1);
    EXPECT_EQ(zq::weekRecapContent(summary(1, 5, 0), 40, kEnglish).weekLabel, QStringLiteral("WEEK 1"));
}

TEST(WeekRecapContentTest, ReclaimedTimeIsCutToWholeUnits)
{
    const auto reclaimed = [](qint64 words, double speaking) {
        const MenuWeekRecapContent content = zq::weekRecapContent(summary(49, words, speaking), 40, kEnglish);
        return content.lines.size() == 2 ? content.lines[1] : MenuWeekRecapLine{};
    };
    EXPECT_EQ(reclaimed(400, 570), (MenuWeekRecapLine{QStringLiteral("30 s"), QStringLiteral("reclaimed")}));
    // 2400 words are 3600 s of typing.
    EXPECT_EQ(reclaimed(2400, 0.1).value, QStringLiteral("59 m"));
    EXPECT_EQ(reclaimed(2400, 0).value, QStringLiteral("1 h 0 m"));
}

TEST(WeekRecapContentTest, ReadsTheWholeCardAsOneSentence)
{
    const MenuWeekRecapContent content{QStringLiteral("WEEK 49"),
                                       {{QStringLiteral("1.2k"), QStringLiteral("words spoken")},
                                        {QStringLiteral("14 m"), QStringLiteral("reclaimed")}}};
    EXPECT_EQ(content.accessibilityText(), QStringLiteral("This week, WEEK 49. 1.2k words spoken. 14 m reclaimed."));
}

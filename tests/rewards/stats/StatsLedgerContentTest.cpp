#include "rewards/stats/StatsLedgerContent.h"
#include "rewards/depth/InviteService.h"

#include <gtest/gtest.h>

using namespace zq;

namespace {

const QLocale english(QLocale::English, QLocale::UnitedStates);

WeekSummary week(int number, qint64 words, double speaking = 0)
{
    WeekSummary summary;
    summary.week.weekOfYear = number;
    summary.words = words;
    summary.speaking = speaking;
    summary.takes = words > 0 ? 1 : 0;
    return summary;
}

using Row = StatsLedgerContent::Row;

} // namespace

TEST(StatsLedgerContentTest, RowsHoldTypedAndReclaimedTime)
{
    WeekSummary summary = week(7, 1200, 600);
    summary.dailyWords = {100, 0, 300, 0, 800, 0, 0};
    const StatsLedgerContent content(summary, 40, english, std::nullopt);
    EXPECT_EQ(content.rows, (std::vector<Row>{{"time speaking", "10 m", false},
                                              {"same words, typed", "30 m", false},
                                              {"reclaimed", "20 m", true}}));
    EXPECT_EQ(content.wordCount, "1,200");
    EXPECT_EQ(content.weekLabel, "WEEK 7");
    EXPECT_EQ(content.dailyWords, summary.dailyWords);
    EXPECT_EQ(content.dayLabels, (QStringList{"M", "T", "W", "T", "F", "S", "S"}));
    EXPECT_EQ(content.brand, "ZEPA QUARN");
    EXPECT_EQ(content.website, InviteService::host());

    const StatsLedgerContent german(summary, 40, QLocale(QLocale::German, QLocale::Germany), std::nullopt);
    EXPECT_EQ(german.wordCount, "1.200");
}

TEST(StatsLedgerContentTest, NoReclaimedRowUnlessTypingTakesLonger)
{
    const StatsLedgerContent equal(week(7, 40, 60), 40, english, std::nullopt);
    ASSERT_EQ(equal.rows.size(), 2u) << "typed time equal to speaking time reclaims nothing";
    EXPECT_EQ(equal.rows[1], (Row{"same words, typed", "1 m", false}));

    for (qint64 wpm : {0, -5}) {
        const StatsLedgerContent content(week(7, 1200, 600), wpm, english, std::nullopt);
        ASSERT_EQ(content.rows.size(), 2u) << wpm;
        EXPECT_EQ(content.rows[1].value, "0 s") << wpm;
    }

    const StatsLedgerContent slow(week(7, 1200, 600), 25, english, std::nullopt);
    EXPECT_EQ(slow.rows.back(), (Row{"reclaimed", "38 m", true})) << "2880 s typed less 600 s spoken";
}

TEST(StatsLedgerContentTest, WebsiteCarriesTheInviteCode)
{
    EXPECT_EQ(StatsLedgerContent(week(1, 5), 40, english, QStringLiteral("")).website, InviteService::host())
        << "an empty code is no code";
    EXPECT_EQ(StatsLedgerContent(week(1, 5), 40, english, QStringLiteral("7K3M9Q")).website,
              InviteService::host() + "/i/7K3M9Q");
}

TEST(StatsLedgerContentTest, SpokenSummaryJoinsEveryPart)
{
    const StatsLedgerContent content(week(7, 1200, 600), 40, english, QStringLiteral("7K3M9Q"));
    EXPECT_EQ(content.accessibilityText(),
              "WEEK 7. 1,200 words spoken. time speaking 10 m. same words, typed 30 m. reclaimed 20 m. "
              "Words Monday through Sunday. ZEPA QUARN. " +
                  InviteService::host() + "/i/7K3M9Q");
}

TEST(StatsOrbitComparisonTest, PercentDialAndSentence)
{
    const struct {
        qint64 previous;
        qint64 selected;
        QString percent;
        double dial;
        QString sentence;
    } cases[] = {
        {0, 500, QString(QChar(0x2014)), 0, "No comparison available versus week 6"},
        {100, 100, "0%", 0, "No change in words versus week 6"},
        {200, 199, "-1%", 0.01, "1 percent fewer words versus week 6"},
        {200, 201, "+1%", 0.01, "1 percent more words versus week 6"},
        {100, 137, "+37%", 0.37, "37 percent more words versus week 6"},
        {100, 40, "-60%", 0.60, "60 percent fewer words versus week 6"},
        {10, 0, "-100%", 1, "100 percent fewer words versus week 6"},
        {100, 350, "+250%", 1, "250 percent more words versus week 6"},
        {10, 109, "+990%", 1, "990 percent more words versus week 6"},
        {10, 120, QString::fromUtf8("12×"), 1, "1100 percent more words versus week 6"},
        {1, 1500, QString::fromUtf8("1.5K×"), 1, "149900 percent more words versus week 6"},
    };
    for (const auto &c : cases) {
        const StatsOrbitComparison orbit(week(7, c.selected), week(6, c.previous));
        EXPECT_EQ(orbit.percent, c.percent) << c.previous << " → " << c.selected;
        EXPECT_DOUBLE_EQ(orbit.dialProgress, c.dial) << c.previous << " → " << c.selected;
        EXPECT_EQ(orbit.accessibilityLabel, c.sentence);
        EXPECT_EQ(orbit.previousWeekLabel, "VS WEEK 6");
    }
}

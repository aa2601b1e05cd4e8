#include "records/StatsWeekSelection.h"

#include <gtest/gtest.h>

using namespace zq;

namespace {

const QTimeZone berlin(QByteArrayLiteral("Europe/Berlin"));

QDateTime at(int y, int m, int d, int h = 12, const QTimeZone &zone = berlin)
{
    return QDateTime(QDate(y, m, d), QTime(h, 0), zone);
}

} // namespace

TEST(StatsWeekSelectionTest, IsoWeekEdgesAroundTheNewYear)
{
    const struct {
        QDate day;
        int week;
        int year;
        QDate monday;
    } cases[] = {
        {QDate(2021, 1, 3), 53, 2020, QDate(2020, 12, 28)},
        {QDate(2024, 12, 30), 1, 2025, QDate(2024, 12, 30)},
        {QDate(2027, 1, 1), 53, 2026, QDate(2026, 12, 28)},
        {QDate(2026, 1, 4), 1, 2026, QDate(2025, 12, 29)},
    };
    for (const auto &c : cases) {
        const StatsWeek week = StatsWeek::containing(at(c.day.year(), c.day.month(), c.day.day()), berlin);
        EXPECT_EQ(week.weekOfYear, c.week) << c.day.toString(Qt::ISODate).toStdString();
        EXPECT_EQ(week.yearForWeekOfYear, c.year) << c.day.toString(Qt::ISODate).toStdString();
        EXPECT_EQ(week.start, QDateTime(c.monday, QTime(0, 0), berlin)) << "weeks start on Monday at midnight";
    }
}

TEST(StatsWeekSelectionTest, PagingStopsAtTheCurrentWeek)
{
    StatsWeekSelection selection = StatsWeekSelection::containing(at(2026, 3, 5), berlin);
    const StatsWeek current = selection.currentWeek();
    EXPECT_EQ(selection.selectedWeek(), current);
    EXPECT_TRUE(StatsWeekNavigationContent(selection).isNextDisabled);

    selection.next();
    EXPECT_EQ(selection.selectedWeek(), current) << "never past the current week";

    selection.previous();
    EXPECT_EQ(selection.selectedWeek().weekOfYear, current.weekOfYear - 1);
    EXPECT_FALSE(StatsWeekNavigationContent(selection).isNextDisabled);
    EXPECT_EQ(selection.currentWeek(), current) << "the current week stays fixed";

    selection.next();
    EXPECT_EQ(selection.selectedWeek(), current);
    EXPECT_TRUE(StatsWeekNavigationContent(selection).isNextDisabled);
}

TEST(StatsWeekSelectionTest, PagingBackAcrossTheYearFollowsIsoWeeks)
{
    StatsWeekSelection selection = StatsWeekSelection::containing(at(2021, 1, 6), berlin);
    ASSERT_EQ(selection.selectedWeek().weekOfYear, 1);
    selection.previous();
    EXPECT_EQ(selection.selectedWeek().weekOfYear, 53);
    EXPECT_EQ(selection.selectedWeek().yearForWeekOfYear, 2020);
    EXPECT_EQ(StatsWeekNavigationContent(selection).weekLabel, "WEEK 53") << "the label shows only the number";
    selection.previous();
    EXPECT_EQ(selection.selectedWeek().weekOfYear, 52);

    StatsWeekSelection later = StatsWeekSelection::containing(at(2026, 1, 1), berlin);
    ASSERT_EQ(later.selectedWeek().weekOfYear, 1);
    later.previous();
    EXPECT_EQ(later.selectedWeek().weekOfYear, 52) << "2025 has 52 ISO weeks";
    EXPECT_EQ(later.selectedWeek().start, QDateTime(QDate(2025, 12, 22), QTime(0, 0), berlin));
}

TEST(StatsWeekSelectionTest, PagingAcrossADaylightSavingWeekKeepsMidnightStarts)
{
    // Berlin moves its clocks forward on Sunday 2026-03-29 and back on Sunday 2026-10-25.
    StatsWeekSelection spring = StatsWeekSelection::containing(at(2026, 4, 1), berlin);
    spring.previous();
    EXPECT_EQ(spring.selectedWeek().start, QDateTime(QDate(2026, 3, 23), QTime(0, 0), berlin));
    EXPECT_EQ(spring.selectedWeek().start.secsTo(spring.currentWeek().start), 7 * 86400 - 3600)
        << "the week with the change is an hour short";
    spring.next();
    EXPECT_EQ(spring.selectedWeek(), spring.currentWeek());

    StatsWeekSelection autumn = StatsWeekSelection::containing(at(2026, 10, 28), berlin);
    autumn.previous();
    EXPECT_EQ(autumn.selectedWeek().start, QDateTime(QDate(2026, 10, 19), QTime(0, 0), berlin));
    EXPECT_EQ(StatsWeekSelection::weekBefore(autumn.selectedWeek(), berlin).start,
              QDateTime(QDate(2026, 10, 12), QTime(0, 0), berlin));
}

TEST(StatsWeekSelectionTest, NavigationTexts)
{
    StatsWeekSelection selection = StatsWeekSelection::containing(at(2026, 2, 12), berlin);
    const StatsWeekNavigationContent content(selection);
    EXPECT_EQ(content.weekLabel, "WEEK 7");
    EXPECT_EQ(content.previousAccessibilityLabel, "Previous week");
    EXPECT_EQ(content.nextAccessibilityLabel, "Next week");
}

#include "records/StatsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <limits>

using namespace zq;

namespace {

const QTimeZone berlin(QByteArrayLiteral("Europe/Berlin"));

QDateTime local(int y, int m, int d, int h, int min, const QTimeZone &zone = berlin)
{
    return QDateTime(QDate(y, m, d), QTime(h, min), zone);
}

class StatsStoreTest : public ::testing::Test {
protected:
    QString file() const { return dir.filePath(QStringLiteral("stats.json")); }
    void write(const QByteArray &bytes)
    {
        QFile f(file());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    QTemporaryDir dir;
};

TEST_F(StatsStoreTest, CommitNeedsAnArmedTakeAndRoundsHalvesAway)
{
    ASSERT_TRUE(berlin.isValid());
    StatsStore store(dir.path(), berlin);
    QSignalSpy changed(&store, &StatsStore::daysChanged);
    EXPECT_FALSE(store.commitTake(10, local(2026, 3, 5, 12, 0)));
    EXPECT_FALSE(QFileInfo::exists(file()));

    store.setArmedTake(2.0625);
    EXPECT_TRUE(store.commitTake(7, local(2026, 3, 5, 12, 0)));
    EXPECT_FALSE(store.commitTake(7, local(2026, 3, 5, 12, 0))) << "one arming, one commit";
    store.setArmedTake(0.0004);
    EXPECT_TRUE(store.commitTake(0, local(2026, 3, 5, 13, 0)));
    EXPECT_EQ(changed.count(), 2);

    EXPECT_EQ(store.days().value(QStringLiteral("2026-03-05")), (DayStats{2, 7, 2063}));
    EXPECT_EQ(StatsStore(dir.path(), berlin).days(), store.days());

    QFile f(file());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QJsonObject ledger = QJsonDocument::fromJson(f.readAll()).object();
    EXPECT_EQ(ledger.value(QStringLiteral("version")).toInt(), 1);
    EXPECT_EQ(ledger.value(QStringLiteral("days")).toObject().value(QStringLiteral("2026-03-05")).toObject(),
              (QJsonObject{
                  {QStringLiteral("takes"), 2}, {QStringLiteral("words"), 7}, {QStringLiteral("speakingMs"), 2063}}));
}

TEST_F(StatsStoreTest, DaysFollowTheStoresTimeZone)
{
    StatsStore store(dir.path(), berlin);
    store.setArmedTake(1.0);
    store.commitTake(1, local(2026, 3, 5, 23, 59));
    store.setArmedTake(1.0);
    store.commitTake(1, local(2026, 3, 6, 0, 1));
    EXPECT_EQ(store.days().keys(), (QStringList{QStringLiteral("2026-03-05"), QStringLiteral("2026-03-06")}));

    // 23:30 UTC is already the next day in Berlin, and still the same day in New York.
    const QDateTime utc(QDate(2026, 7, 1), QTime(23, 30), Qt::UTC);
    EXPECT_EQ(store.dayKey(utc), QStringLiteral("2026-07-02"));
    StatsStore newYork(QDir(dir.path()).filePath(QStringLiteral("ny")),
                       QTimeZone(QByteArrayLiteral("America/New_York")));
    EXPECT_EQ(newYork.dayKey(utc), QStringLiteral("2026-07-01"));
}

TEST_F(StatsStoreTest, IsoWeeks)
{
    // Sunday 2026-03-08: the week starts Monday 2026-03-02 at local midnight.
    const StatsWeek sunday = StatsWeek::containing(local(2026, 3, 8, 18, 0), berlin);
    EXPECT_EQ(sunday.start, local(2026, 3, 2, 0, 0));
    EXPECT_EQ(sunday.weekOfYear, 10);
    EXPECT_EQ(sunday.yearForWeekOfYear, 2026);

    // 1 January 2021 (a Friday) belongs to week 53 of 2020; 31 December 2024 to week 1 of 2025.
    const StatsWeek newYear = StatsWeek::containing(local(2021, 1, 1, 0, 30), berlin);
    EXPECT_EQ(newYear.weekOfYear, 53);
    EXPECT_EQ(newYear.yearForWeekOfYear, 2020);
    EXPECT_EQ(newYear.start, local(2020, 12, 28, 0, 0));
    const StatsWeek yearEnd = StatsWeek::containing(local(2024, 12, 31, 23, 0), berlin);
    EXPECT_EQ(yearEnd.weekOfYear, 1);
    EXPECT_EQ(yearEnd.yearForWeekOfYear, 2025);

    // A week whose Monday starts at 01:00 because the clock skips midnight (Santiago, 2022-09-11).
    const QTimeZone santiago(QByteArrayLiteral("America/Santiago"));
    const StatsWeek skipped = StatsWeek::containing(local(2022, 9, 14, 12, 0, santiago), santiago);
    EXPECT_TRUE(skipped.start.isValid());
    EXPECT_EQ(skipped.start.toTimeZone(santiago).date(), QDate(2022, 9, 12));
}

TEST_F(StatsStoreTest, IsoWeeksAreTakenInTheStoresTimeZone)
{
    // Sunday 2026-03-08 23:30 UTC is Monday 00:30 in Berlin (week 11) and Sunday evening in New
    // York (week 10).
    const QDateTime utc(QDate(2026, 3, 8), QTime(23, 30), Qt::UTC);
    const StatsWeek inBerlin = StatsWeek::containing(utc, berlin);
    EXPECT_EQ(inBerlin.weekOfYear, 11);
    EXPECT_EQ(inBerlin.start, local(2026, 3, 9, 0, 0));
    const QTimeZone newYork(QByteArrayLiteral("America/New_York"));
    const StatsWeek inNewYork = StatsWeek::containing(utc, newYork);
    EXPECT_EQ(inNewYork.weekOfYear, 10);
    EXPECT_EQ(inNewYork.start, local(2026, 3, 2, 0, 0, newYork));

    // The store counts the take on the Berlin Monday, in the Berlin week.
    StatsStore store(dir.path(), berlin);
    store.setArmedTake(2.0);
    ASSERT_TRUE(store.commitTake(5, utc));
    const WeekSummary week = store.summary(inBerlin);
    EXPECT_EQ(week.words, 5);
    EXPECT_EQ(week.dailyWords[0], 5) << "Monday";
    EXPECT_EQ(store.summary(StatsWeek::containing(local(2026, 3, 8, 12, 0), berlin)).words, 0);
}

TEST_F(StatsStoreTest, WeekSummaryAcrossADaylightSavingChange)
{
    StatsStore store(dir.path(), berlin);
    // Berlin moves to summer time on Sunday 2026-03-29: the week of Monday 23 March is 167 hours long.
    const std::pair<QDateTime, qint64> takes[] = {{local(2026, 3, 23, 0, 0), 100},
                                                  {local(2026, 3, 28, 23, 59), 5},
                                                  {local(2026, 3, 29, 23, 59), 7},
                                                  {local(2026, 3, 30, 0, 0), 1000},
                                                  {local(2026, 3, 22, 23, 59), 1000}};
    for (const auto &[when, words] : takes) {
        store.setArmedTake(1.5);
        store.commitTake(words, when);
    }
    const WeekSummary summary = store.summary(StatsWeek::containing(local(2026, 3, 29, 12, 0), berlin));
    EXPECT_EQ(summary.dailyWords, (std::array<qint64, 7>{100, 0, 0, 0, 0, 5, 7}));
    EXPECT_EQ(summary.words, 112);
    EXPECT_EQ(summary.takes, 3);
    EXPECT_DOUBLE_EQ(summary.speaking, 4.5);

    const WeekSummary empty = store.summary(StatsWeek::containing(local(2025, 6, 1, 12, 0), berlin));
    EXPECT_EQ(empty.dailyWords, (std::array<qint64, 7>{}));
    EXPECT_EQ(empty.takes, 0);
    EXPECT_EQ(empty.speaking, 0.0);
}

TEST_F(StatsStoreTest, LifetimeFigures)
{
    write(R"({"version":2,"days":{"2026-01-01":{"takes":3,"words":400,"speakingMs":120000}}})");
    StatsStore store(dir.path(), berlin);
    EXPECT_EQ(store.lifetimeTakes(), 3) << "another version loads normally";
    EXPECT_DOUBLE_EQ(store.lifetimeReclaimed(), 480.0);

    write(R"({"version":1,"days":{"2026-01-01":{"takes":1,"words":10,"speakingMs":60000}}})");
    EXPECT_EQ(StatsStore(dir.path(), berlin).lifetimeReclaimed(), 0.0);
}

TEST_F(StatsStoreTest, OneDamagedDayHidesNoOtherDay)
{
    const QByteArray original = R"({"version":1,"days":{"2026-01-01":{"takes":1,"words":10,"speakingMs":4000},)"
                                R"("2026-01-02":{"takes":"two","words":2,"speakingMs":3},)"
                                R"("2026-01-03":[],"2026-01-04":{"takes":2,"words":20,"speakingMs":8000}}})";
    write(original);
    {
        StatsStore store(dir.path(), berlin);
        EXPECT_EQ(store.days().keys(), (QStringList{"2026-01-01", "2026-01-04"}));
        EXPECT_EQ(store.lifetimeTakes(), 3);
    }
    const QStringList aside = QDir(dir.path()).entryList({QStringLiteral("stats.json.corrupt-*")}, QDir::Files);
    ASSERT_EQ(aside.size(), 1);
    QFile kept(QDir(dir.path()).filePath(aside.first()));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), original);
    EXPECT_EQ(StatsStore(dir.path(), berlin).lifetimeTakes(), 3) << "the good days were written back";

    // A wrong-typed version is one bad key too: it hides no day, and the original is kept.
    QTemporaryDir other;
    const QByteArray badVersion = R"({"version":"1","days":{"2026-01-05":{"takes":4,"words":40,"speakingMs":9000}}})";
    QFile file(other.filePath(QStringLiteral("stats.json")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(badVersion);
    file.close();
    EXPECT_EQ(StatsStore(other.path(), berlin).lifetimeTakes(), 4);
    EXPECT_EQ(QDir(other.path()).entryList({QStringLiteral("stats.json.corrupt-*")}, QDir::Files).size(), 1);
    EXPECT_EQ(StatsStore(other.path(), berlin).lifetimeTakes(), 4);
}

TEST_F(StatsStoreTest, UndecodableFileIsKeptAside)
{
    const QByteArray cases[] = {R"({"version":1,"days":{"2026-01-01":{"takes":1,"words":2}}})", R"({"days":{}})",
                                R"({"version":1,"days":{"d":{"takes":1.5,"words":2,"speakingMs":3}}})", "[]"};
    for (const QByteArray &bad : cases) {
        QTemporaryDir folder;
        QFile f(folder.filePath(QStringLiteral("stats.json")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bad);
        f.close();
        StatsStore store(folder.path(), berlin);
        EXPECT_TRUE(store.days().isEmpty()) << bad.constData();
        EXPECT_EQ(QDir(folder.path()).entryList({QStringLiteral("stats.json.corrupt-*")}, QDir::Files).size(), 1)
            << bad.constData();
    }
}

TEST_F(StatsStoreTest, ImpossibleDayCountsAreDroppedAndLifetimeSumsHoldAtTheLimit)
{
    // Extreme values as a damaged or hand-edited file holds them: each such day is dropped like any
    // undecodable one, and no sum over the rest can overflow.
    const QByteArray original = R"({"version":1,"days":{"2026-01-01":{"takes":2,"words":400,"speakingMs":120000},)"
                                R"("2026-01-02":{"takes":9223372036854775807,"words":1,"speakingMs":1},)"
                                R"("2026-01-03":{"takes":1,"words":9223372036854775807,"speakingMs":1},)"
                                R"("2026-01-04":{"takes":1,"words":1,"speakingMs":9223372036854775807},)"
                                R"("2026-01-05":{"takes":-1,"words":1,"speakingMs":1},)"
                                R"("2026-01-06":{"takes":1,"words":-9223372036854775807,"speakingMs":1},)"
                                R"("2026-01-07":{"takes":1,"words":1,"speakingMs":-5},)"
                                R"("2026-01-08":{"takes":1000000,"words":1000000000,"speakingMs":604800000},)"
                                R"("2026-01-09":{"takes":1000001,"words":1,"speakingMs":1}}})";
    write(original);
    {
        StatsStore store(dir.path(), berlin);
        EXPECT_EQ(store.days().keys(), (QStringList{"2026-01-01", "2026-01-08"})) << "the most a day can hold loads";
        EXPECT_EQ(store.lifetimeTakes(), 1000002);
        EXPECT_DOUBLE_EQ(store.lifetimeReclaimed(), 1000000400.0 / 40.0 * 60.0 - 604920.0);
        const WeekSummary week = store.summary(StatsWeek::containing(local(2026, 1, 5, 12, 0), berlin));
        EXPECT_EQ(week.words, 1000000000);
    }
    EXPECT_EQ(QDir(dir.path()).entryList({QStringLiteral("stats.json.corrupt-*")}, QDir::Files).size(), 1)
        << "the file with the dropped days is kept";

    // Counts that reach the largest value in memory stay there rather than wrapping negative.
    QTemporaryDir other;
    StatsStore store(other.path(), berlin);
    for (int i = 0; i < 2; ++i) {
        store.setArmedTake(1.0);
        ASSERT_TRUE(store.commitTake(std::numeric_limits<qint64>::max(), local(2026, 2, 2, 9, 0)));
    }
    store.setArmedTake(1.0);
    ASSERT_TRUE(store.commitTake(std::numeric_limits<qint64>::max(), local(2026, 2, 3, 9, 0)));
    EXPECT_EQ(store.days().value("2026-02-02").words, std::numeric_limits<qint64>::max());
    EXPECT_EQ(store.summary(StatsWeek::containing(local(2026, 2, 2, 9, 0), berlin)).words,
              std::numeric_limits<qint64>::max());
    EXPECT_GT(store.lifetimeReclaimed(), 1e18);
    EXPECT_EQ(store.lifetimeTakes(), 3);
}

} // namespace

#include "records/MainThreadHangWatchdog.h"
#include "records/DiagnosticJournal.h"

#include "support/VirtualLoop.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace zq;
using namespace std::chrono_literals;

namespace {

// The watchdog's queue and the main thread are two virtual loops: the test decides when the main
// thread answers (runs its loop) and when it is "blocked" (does not).
class MainThreadHangWatchdogTest : public ::testing::Test {
protected:
    MainThreadHangWatchdogTest()
        : journal(dir.path(), queue.clocks(), QStringLiteral("S"), QStringLiteral("1"), QStringLiteral("1"))
    {
        journal.beginSession();
    }

    std::unique_ptr<MainThreadHangWatchdog> makeWatchdog()
    {
        auto watchdog = std::make_unique<MainThreadHangWatchdog>(
            journal, queue, queue.clocks(),
            MainThreadHangWatchdog::Hooks{[this] { ++relaunches; }, [this] { ++terminations; },
                                          [this] { return quitWaiting; }, [this] { ++quitsEnded; }});
        watchdog->start(mainThread);
        return watchdog;
    }

    // Advances the watchdog's clock; the main thread answers after each tick unless blocked.
    void run(rt::Nanos duration, bool blocked)
    {
        const rt::Nanos end = queue.now() + duration;
        while (queue.now() < end) {
            queue.advance(std::min<rt::Nanos>(100ms, end - queue.now()));
            if (!blocked)
                mainThread.runUntilIdle();
        }
    }

    std::vector<std::pair<DiagnosticEvent, DiagnosticMetadata>> events()
    {
        std::vector<std::pair<DiagnosticEvent, DiagnosticMetadata>> found;
        QFile file(journal.currentLogPath());
        if (!file.open(QIODevice::ReadOnly))
            return found;
        for (const QByteArray &line : file.readAll().split('\n')) {
            if (const auto record = DiagnosticRecord::fromJson(line);
                record && record->event != DiagnosticEvent::appLaunched)
                found.emplace_back(record->event, record->metadata);
        }
        return found;
    }

    QTemporaryDir dir;
    test::VirtualLoop queue;
    test::VirtualLoop mainThread;
    DiagnosticJournal journal;
    int relaunches = 0;
    int terminations = 0;
    bool quitWaiting = false;
    int quitsEnded = 0;
};

TEST_F(MainThreadHangWatchdogTest, ResponsiveMainThreadAndShortBlocksRecordNothing)
{
    auto watchdog = makeWatchdog();
    run(60s, false);
    run(5s, true);
    run(20s, false);
    EXPECT_TRUE(events().empty());
    EXPECT_EQ(queue.pendingCount(), 1) << "one timer, re-armed each tick";
}

TEST_F(MainThreadHangWatchdogTest, TenSecondBlockIsAStallThenARecovery)
{
    auto watchdog = makeWatchdog();
    run(10s, false);
    run(10s, true);
    auto seen = events();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].first, DiagnosticEvent::mainThreadStallDetected);
    EXPECT_EQ(seen[0].second.value(QStringLiteral("missed_pings")), QStringLiteral("4"));
    EXPECT_EQ(seen[0].second.value(QStringLiteral("minimum_stall_ms")), QStringLiteral("8000"));

    // The main thread answers all pending pings; the next tick notices.
    mainThread.runUntilIdle();
    run(2s, false);
    seen = events();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].first, DiagnosticEvent::mainThreadRecovered);
    EXPECT_TRUE(seen[1].second.isEmpty());
    EXPECT_EQ(terminations, 0);
    EXPECT_EQ(quitsEnded, 0);
}

TEST_F(MainThreadHangWatchdogTest, AQuitSignalLeftWaitingByAStalledMainThreadEndsTheProcessAsAQuit)
{
    auto watchdog = makeWatchdog();
    // A main thread that answers takes the signal itself, however long the quit waits.
    quitWaiting = true;
    run(10s, false);
    EXPECT_EQ(quitsEnded, 0);
    // One that stops answering never will: by the third ping it leaves unanswered, 4 to 6 s on, well
    // before a fatal stall.
    run(5900ms, true);
    EXPECT_EQ(quitsEnded, 0);
    run(2s, true);
    EXPECT_EQ(quitsEnded, 1);
    ASSERT_FALSE(events().empty());
    EXPECT_EQ(events().back().first, DiagnosticEvent::appTerminated) << "a quit, not a crash at the next start";
    run(60s, true);
    EXPECT_EQ(quitsEnded + terminations, 1);
}

TEST_F(MainThreadHangWatchdogTest, FatalStallRelaunchesOnlyAfterTwoMinutesOfLife)
{
    struct Case {
        rt::Nanos aliveBefore;
        const char *relaunch;
        int relaunches;
    };
    for (const Case c : {Case{200s, "true", 1}, Case{60s, "false", 0}}) {
        QTemporaryDir folder;
        test::VirtualLoop q;
        test::VirtualLoop main;
        DiagnosticJournal j(folder.path(), q.clocks(), QStringLiteral("S"), QStringLiteral("1"), QStringLiteral("1"));
        j.beginSession();
        int relaunched = 0;
        int terminated = 0;
        MainThreadHangWatchdog watchdog(j, q, q.clocks(),
                                        {[&] { ++relaunched; }, [&] { ++terminated; }, [] { return false; }, [] {}});
        watchdog.start(main);
        while (q.now() < c.aliveBefore) {
            q.advance(1s);
            main.runUntilIdle();
        }
        q.advance(35s); // blocked
        EXPECT_EQ(terminated, 1) << c.relaunch;
        EXPECT_EQ(relaunched, c.relaunches) << c.relaunch;
        ASSERT_TRUE(j.state());
        EXPECT_EQ(j.state()->lastEvent, DiagnosticEvent::mainThreadStallFatal) << "on disk before the end";
        QFile file(j.currentLogPath());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const auto last = DiagnosticRecord::fromJson(file.readAll().trimmed().split('\n').last());
        ASSERT_TRUE(last);
        EXPECT_EQ(last->metadata.value(QStringLiteral("relaunch")), QLatin1String(c.relaunch));
        EXPECT_EQ(last->metadata.value(QStringLiteral("missed_pings")), QStringLiteral("15"));
    }
}

TEST_F(MainThreadHangWatchdogTest, StartTwiceAndStopKeepOneTimer)
{
    auto watchdog = makeWatchdog();
    watchdog->start(mainThread);
    EXPECT_EQ(queue.pendingCount(), 1);
    queue.advance(2s);
    EXPECT_EQ(mainThread.pendingCount(), 1) << "one ping per tick";
    watchdog->stop();
    EXPECT_FALSE(watchdog->isRunning());
    queue.advance(60s);
    EXPECT_EQ(mainThread.pendingCount(), 1) << "no pings after stop";
    mainThread.runUntilIdle(); // a late answer is harmless
    watchdog->start(mainThread);
    queue.advance(2s);
    EXPECT_EQ(mainThread.pendingCount(), 1);
}

TEST_F(MainThreadHangWatchdogTest, LateAndOutOfOrderAnswersNeverLowerTheCount)
{
    auto watchdog = makeWatchdog();
    run(2s, true);
    watchdog->acknowledge(5);
    watchdog->acknowledge(1);
    // Ping 2..5 are "answered" already; missed stays low while the main thread is blocked briefly.
    run(8s, true);
    EXPECT_TRUE(events().empty());
}

TEST(MainThreadHangWatchdogRelaunch, CommandWaitsAndPassesArgumentsUnparsed)
{
    const QStringList command = MainThreadHangWatchdog::relaunchCommand(
        QStringLiteral("/opt/zq/zepaquarn"), {QStringLiteral("--flag"), QStringLiteral("a b; rm -rf ~")});
    ASSERT_EQ(command.size(), 5);
    EXPECT_EQ(command[0], QStringLiteral("-c"));
    EXPECT_TRUE(command[1].startsWith(QStringLiteral("sleep 3;")));
    EXPECT_EQ(command[2], QStringLiteral("/opt/zq/zepaquarn"));
    EXPECT_EQ(command[4], QStringLiteral("a b; rm -rf ~")) << "a positional parameter, never shell text";
}

} // namespace

// Quitting the real application while its speech model is still loading, and while a paste waits for
// the window in front to fetch its text.
#include "support/DesktopDriver.h"
#include "support/E2EEnvironment.h"
#include "support/Polling.h"
#include "support/ServiceEnvironment.h"

#include <QDir>

#include <gtest/gtest.h>

#include <csignal>

using namespace std::chrono_literals;
using zq::DiagnosticEvent;
using zq::test::E2EEnvironment;

TEST(QuitE2ETest, AQuitDuringTheSpeechModelsLoadWaitsForItWithinTheBound)
{
    E2EEnvironment env;
    const bool started = env.start();
    ZQ_REQUIRE_SERVICE(started, env.errorString());
    ASSERT_TRUE(env.writeSettings()) << env.errorString().toStdString();
    // The load starts before the tray icon and takes a few hundred milliseconds; a first launch
    // also cuts the dictionary beside it. The quit comes as soon as the launch is logged.
    ASSERT_TRUE(env.startApp(30s, QByteArrayLiteral("app: launched"))) << env.errorString().toStdString();
    ASSERT_EQ(::kill(env.appPid(), SIGTERM), 0);

    // The whole quit is bounded; the load takes under a second and the rest of the teardown far
    // less, so the quit ends well within it, without being cut short.
    const std::optional<int> exit = env.waitForAppExit(4s);
    EXPECT_EQ(exit, 0) << "the application's log:\n" << env.appLogTail().toStdString();
    EXPECT_TRUE(env.waitForAppLog(QByteArrayLiteral("speech model still loading at close"), 0ms))
        << "the model had loaded before the quit reached it; the application's log:\n"
        << env.appLogTail().toStdString();
    EXPECT_FALSE(env.waitForAppLog(QByteArrayLiteral("ending without them"), 0ms));
}

// A window that stops answering (frozen here) never fetches the pasted text, and the quit comes while
// the paste waits for it: by a logout's SIGTERM and by the tray panel's Quit, a few times in a row. Each
// ends cleanly with the take in the History, and tells of no paste that no window took.
TEST(QuitE2ETest, AQuitWhileAPasteWaitsForTheWindowsFetchEndsCleanlyAndKeepsTheTake)
{
    E2EEnvironment env;
    const bool started = env.start();
    ZQ_REQUIRE_SERVICE(started, env.errorString());
    ASSERT_FALSE(E2EEnvironment::speechSamples().empty()) << "missing " << E2EEnvironment::speechPath().toStdString();
    ASSERT_TRUE(env.writeSettings()) << env.errorString().toStdString();
    const zq::test::DesktopDriver desktop(env.display());
    const pid_t target = pid_t(env.target().processId());
    ASSERT_GT(target, 0);
    // The paste is posted in the same turn as the final text is journalled; a quit that reaches the
    // application only after the whole wait finds no paste waiting, and its round is run again.
    constexpr int kRounds = 3;
    constexpr int kAttempts = 8;
    const QByteArray quitInTheWait = QByteArrayLiteral("paste: quitting before the restore");
    int takes = 0;
    for (const bool viaTray : {false, true}) {
        int caught = 0;
        for (int attempt = 0; attempt < kAttempts && caught < kRounds; ++attempt) {
            SCOPED_TRACE(testing::Message() << (viaTray ? "the tray's Quit" : "SIGTERM") << ", attempt " << attempt);
            ASSERT_TRUE(env.startApp()) << env.errorString().toStdString();
            ASSERT_TRUE(env.target().activate()) << "the target window cannot take the keyboard focus";
            ASSERT_TRUE(env.pressTrigger());
            ASSERT_TRUE(
                env.waitForJournal(DiagnosticEvent::audioStartCompleted, takes + 1, zq::test::kLoadedMachineTimeout))
                << env.appLogTail().toStdString();
            ASSERT_TRUE(env.speakIntoTake(E2EEnvironment::speechSamples()))
                << env.errorString().toStdString() << "; log:\n"
                << env.appLogTail().toStdString();
            // Frozen before the paste: it holds the keyboard focus but answers nothing.
            ASSERT_EQ(::kill(target, SIGSTOP), 0);
            const bool released = env.releaseTrigger();
            const bool pasted =
                env.waitForJournal(DiagnosticEvent::transcriptionCompleted, takes + 1, zq::test::kLoadedMachineTimeout);
            const int waitsBefore = env.appLogCount(quitInTheWait);
            bool quitAsked = false;
            if (released && pasted) {
                if (viaTray) {
                    quitAsked = desktop.openPanel().isValid() && desktop.keys({QStringLiteral("ctrl+q")});
                } else {
                    quitAsked = ::kill(env.appPid(), SIGTERM) == 0;
                }
            }
            const std::optional<int> exit = quitAsked ? env.waitForAppExit(15s) : std::nullopt;
            ::kill(target, SIGCONT);
            ASSERT_TRUE(released && pasted) << "no transcript; log:\n" << env.appLogTail().toStdString();
            ASSERT_TRUE(quitAsked) << "the quit could not be asked for";
            ASSERT_EQ(exit, 0) << "log:\n" << env.appLogTail().toStdString();
            ++takes;
            if (env.appLogCount(quitInTheWait) > waitsBefore)
                ++caught;
            EXPECT_EQ(env.history().size(), takes) << "the take is not in the History";
            EXPECT_EQ(env.journalCount(DiagnosticEvent::pasteSucceeded), 0) << "a paste no window took was a success";
            EXPECT_TRUE(env.stats().value(QStringLiteral("days")).toObject().isEmpty())
                << "a paste no window took was counted";
            EXPECT_TRUE(QDir(env.stateDir() + QStringLiteral("/CrashReports"))
                            .entryList({QStringLiteral("*.crash")}, QDir::Files)
                            .isEmpty())
                << "the quit crashed; log:\n"
                << env.appLogTail().toStdString();
            if (HasFailure())
                return;
        }
        EXPECT_EQ(caught, kRounds) << "too few quits reached the application within the wait";
    }
    // Delivered takes are no interrupted ones: none comes back as an incident at the next launch.
    ASSERT_TRUE(env.startApp()) << env.errorString().toStdString();
    ASSERT_EQ(::kill(env.appPid(), SIGTERM), 0);
    EXPECT_EQ(env.waitForAppExit(15s), 0) << env.appLogTail().toStdString();
    EXPECT_TRUE(env.incidents().isEmpty());
}

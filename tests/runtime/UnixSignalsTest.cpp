#include "runtime/UnixSignals.h"

#include <QCoreApplication>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <csignal>

#include <unistd.h>

using zq::rt::UnixSignals;

namespace {

void customHandler(int) {}

} // namespace

TEST(UnixSignalsTest, QuitSignalsArriveInOrderOnTheEventLoop)
{
    UnixSignals quitSignals;
    ASSERT_TRUE(quitSignals.isInstalled());
    QSignalSpy spy(&quitSignals, &UnixSignals::received);
    EXPECT_FALSE(UnixSignals::quitAsked());

    // raise() runs the handler before it returns: the bytes are already in the pipe.
    ::raise(SIGTERM);
    ::raise(SIGINT);
    ::raise(SIGHUP);
    EXPECT_TRUE(spy.isEmpty()) << "nothing is delivered inside the handler";
    EXPECT_TRUE(UnixSignals::quitAsked()) << "seen by a watchdog while the loop never reads the pipe";

    QCoreApplication::processEvents();
    if (spy.size() < 3)
        spy.wait(5000); // guard against a dispatcher that needs a second pass
    ASSERT_EQ(spy.size(), 3);
    EXPECT_EQ(spy.at(0).at(0).toInt(), SIGTERM);
    EXPECT_EQ(spy.at(1).at(0).toInt(), SIGINT);
    EXPECT_EQ(spy.at(2).at(0).toInt(), SIGHUP);
}

TEST(UnixSignalsTest, ThePreviousHandlersAreRestored)
{
    struct sigaction custom {};
    custom.sa_handler = customHandler;
    sigemptyset(&custom.sa_mask);
    struct sigaction saved {};
    ASSERT_EQ(::sigaction(SIGHUP, &custom, &saved), 0);

    {
        UnixSignals quitSignals;
    }

    struct sigaction now {};
    ::sigaction(SIGHUP, nullptr, &now);
    EXPECT_EQ(now.sa_handler, &customHandler);
    ::sigaction(SIGHUP, &saved, nullptr);
}

TEST(UnixSignalsTest, AQuitSignalNoThreadTookIsSeenWaiting)
{
    // A process of one thread that holds the signal back, as a main thread stuck in a call does.
    EXPECT_EXIT(
        {
            sigset_t quit{};
            sigaddset(&quit, SIGHUP);
            ::pthread_sigmask(SIG_BLOCK, &quit, nullptr);
            const bool before = UnixSignals::quitSignalWaiting();
            ::kill(::getpid(), SIGHUP);
            ::_exit(!before && UnixSignals::quitSignalWaiting() ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

#include "runtime/UnixSignals.h"

#include <QCoreApplication>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <csignal>

using zq::rt::UnixSignals;

namespace {

void customHandler(int) {}

} // namespace

TEST(UnixSignalsTest, QuitSignalsArriveInOrderOnTheEventLoop)
{
    UnixSignals quitSignals;
    ASSERT_TRUE(quitSignals.isInstalled());
    QSignalSpy spy(&quitSignals, &UnixSignals::received);

    // raise() runs the handler before it returns: the bytes are already in the pipe.
    ::raise(SIGTERM);
    ::raise(SIGINT);
    ::raise(SIGHUP);
    EXPECT_TRUE(spy.isEmpty()) << "nothing is delivered inside the handler";

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

// Quitting the real application while its speech model is still loading.
#include "support/E2EEnvironment.h"
#include "support/ServiceEnvironment.h"

#include <gtest/gtest.h>

#include <csignal>

using namespace std::chrono_literals;
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

    // The quit waits for threads 3 s at most once the stores are written; the rest of the
    // teardown takes far less than the second allowed beside it.
    const std::optional<int> exit = env.waitForAppExit(4s);
    EXPECT_EQ(exit, 0) << "the application's log:\n" << env.appLogTail().toStdString();
    EXPECT_TRUE(env.waitForAppLog(QByteArrayLiteral("speech model still loading at close"), 0ms))
        << "the model had loaded before the quit reached it; the application's log:\n"
        << env.appLogTail().toStdString();
    EXPECT_FALSE(env.waitForAppLog(QByteArrayLiteral("ending without them"), 0ms));
}

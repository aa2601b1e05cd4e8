// Quitting the real application while its speech model is still loading.
#include "support/E2EEnvironment.h"
#include "support/Polling.h"
#include "support/ServiceEnvironment.h"
#include "support/ThreadHold.h"

#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

using namespace std::chrono_literals;
using zq::test::E2EEnvironment;
using zq::test::ThreadHold;

TEST(QuitE2ETest, AQuitOneSecondAfterLaunchDoesNotWaitForTheSpeechModel)
{
    E2EEnvironment env;
    const bool started = env.start();
    ZQ_REQUIRE_SERVICE(started, env.errorString());
    ASSERT_TRUE(env.writeSettings()) << env.errorString().toStdString();
    QElapsedTimer sinceLaunch;
    sinceLaunch.start();
    ASSERT_TRUE(env.startApp(30s, QByteArrayLiteral("app: launched"))) << env.errorString().toStdString();

    // The model's load is held where it stands, so it is still loading at the quit however fast
    // this machine reads it.
    const std::vector<pid_t> loading = ThreadHold::threadsNamed(env.appPid(), QByteArrayLiteral("zq-speech-model"));
    ASSERT_FALSE(loading.empty()) << "the speech model was loaded before the test could hold it";
    ThreadHold hold;
    const bool held = hold.hold(loading.front());
    ZQ_REQUIRE_SERVICE(held, hold.errorString());
    for (std::size_t i = 1; i < loading.size(); ++i)
        hold.hold(loading[i]); // a helper of the load; it may have finished already

    QThread::msleep(static_cast<unsigned long>(std::max<qint64>(0, 1000 - sinceLaunch.elapsed())));
    ASSERT_EQ(::kill(env.appPid(), SIGTERM), 0);
    const bool quitWithoutTheModel = hold.waitUntilEnded(zq::test::kLoadedMachineTimeout);
    if (!quitWithoutTheModel)
        hold.release(); // a quit that waits for the model gets it, so the application still ends
    EXPECT_TRUE(quitWithoutTheModel) << "the quit waited for the speech model";
    EXPECT_EQ(env.waitForAppExit(zq::test::kLoadedMachineTimeout), 0) << env.appLogTail().toStdString();
    EXPECT_FALSE(env.waitForAppLog(QByteArrayLiteral("speech model ready"), 0ms));
}

// Quitting the real application while its speech model is still loading.
#include "platform/linux/PocketSphinxDecoder.h"
#include "support/E2EEnvironment.h"
#include "support/OpenGate.h"
#include "support/Polling.h"
#include "support/ServiceEnvironment.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

using namespace std::chrono_literals;
using zq::test::E2EEnvironment;
using zq::test::OpenGate;

TEST(QuitE2ETest, AQuitOneSecondAfterLaunchDoesNotWaitForTheSpeechModel)
{
    const zq::platform::PocketSphinxModel model = zq::platform::PocketSphinxModel::debianEnglish();
    // The model's load waits before it reads the first of its files, so it is still loading at the
    // quit however fast this machine reads them; it waits in a system call, as behind a slow disk.
    OpenGate gate(QFile::encodeName(QFileInfo(model.acousticModel).path() + QLatin1Char('/')));
    ZQ_REQUIRE_SERVICE(gate.isReady(), gate.errorString());
    E2EEnvironment env;
    const bool started = env.start();
    ZQ_REQUIRE_SERVICE(started, env.errorString());
    ASSERT_TRUE(env.writeSettings()) << env.errorString().toStdString();
    env.addAppVariables(gate.variables());
    QElapsedTimer sinceLaunch;
    sinceLaunch.start();
    ASSERT_TRUE(env.startApp(30s, QByteArrayLiteral("app: launched"))) << env.errorString().toStdString();

    const QStringList held = gate.waitUntilHeld(zq::test::kLoadedMachineTimeout);
    ASSERT_FALSE(held.isEmpty()) << "the speech model's load never began; the application's log:\n"
                                 << env.appLogTail().toStdString();
    EXPECT_TRUE(held.front().startsWith(QLatin1String("zq-speech-model "))) << held.front().toStdString();

    QThread::msleep(static_cast<unsigned long>(std::max<qint64>(0, 1000 - sinceLaunch.elapsed())));
    ASSERT_EQ(::kill(env.appPid(), SIGTERM), 0);
    // A quit that waits for the model is still waiting when the wait ends (and the application is
    // killed).
    const std::optional<int> exit = env.waitForAppExit(zq::test::kLoadedMachineTimeout);
    EXPECT_EQ(exit, 0) << (exit ? "" : "the quit waited for the speech model; ") << "the application's log:\n"
                       << env.appLogTail().toStdString();
    EXPECT_FALSE(env.waitForAppLog(QByteArrayLiteral("speech model ready"), 0ms));
}

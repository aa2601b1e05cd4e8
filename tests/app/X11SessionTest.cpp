// A lost display ends the process from the toolkit's last warning: what is in flight is kept and
// written first, and exit()'s teardown never runs.
#include "app/X11Session.h"

#include "records/StoreWriter.h"
#include "runtime/QuitDeadline.h"
#include "runtime/Settings.h"
#include "support/Polling.h"
#include "support/TestFiles.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include <unistd.h>

using namespace zq;
using namespace std::chrono_literals;

namespace {

// Whether the process's first thread is asleep, waiting for something.
bool firstThreadWaits()
{
    QFile stat(QStringLiteral("/proc/self/task/%1/stat").arg(::getpid()));
    if (!stat.open(QIODevice::ReadOnly))
        return true; // gone
    const QByteArray line = stat.readAll();
    const qsizetype state = line.lastIndexOf(')') + 2;
    return state < 2 || state >= line.size() || line[state] == 'S';
}

TEST(X11SessionDeathTest, ALostDisplayKeepsWhatIsInFlightThenEndsWithoutTheTeardown)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString historyFile = dir.filePath(QStringLiteral("history.json"));
    const QString settingsFile = dir.filePath(QStringLiteral("settings.json"));
    EXPECT_EXIT(
        {
            // exit()'s teardown runs this: the status would tell.
            std::atexit([] { std::_Exit(3); });
            rt::Settings settings(settingsFile);
            settings.setValue(QStringLiteral("backend"), QStringLiteral("openai"));
            StoreWriter writer;
            std::atomic<bool> waitedFor = false;
            // Held back until the ending thread waits for the stores: an end that does not wait loses it.
            const auto keepInFlight = [&] {
                writer.write(
                    historyFile,
                    [&] {
                        while (!waitedFor || !firstThreadWaits())
                            std::this_thread::yield();
                        return QByteArray("[\"kept\"]");
                    },
                    "history");
            };
            const auto waitForStores = [&] {
                waitedFor = true;
                writer.waitUntilWritten();
            };
            bool displayGone = false;
            const X11Session::DisplayLossHandler handler([&displayGone] { return displayGone; },
                                                         [&] {
                                                             X11Session::settleForDisplayLoss(
                                                                 keepInFlight, settings, waitForStores,
                                                                 test::kLoadedMachineTimeout);
                                                         });
            qWarning("a warning while the display lives");
            displayGone = true;
            qWarning("The X11 connection broke");
            std::exit(2); // the toolkit's own end
        },
        testing::ExitedWithCode(1), "a warning while the display lives.*The X11 connection broke");
    EXPECT_EQ(test::readFile(historyFile), QByteArray("[\"kept\"]")) << "the History write was waited for";
    const rt::Settings written(settingsFile);
    EXPECT_EQ(written.value(QStringLiteral("backend")), rt::SettingValue(QStringLiteral("openai")));

    // A stores' write that never returns (its folder stopped answering) holds the end only until its
    // bound; without one the outer bound ends the process with another status.
    EXPECT_EXIT(
        {
            const rt::QuitDeadline outer(test::kLoadedMachineTimeout, 3);
            rt::Settings settings(settingsFile);
            const auto neverWritten = [] {
                for (;;)
                    std::this_thread::sleep_for(1h);
            };
            const X11Session::DisplayLossHandler handler(
                [] { return true; }, [&] { X11Session::settleForDisplayLoss([] {}, settings, neverWritten, 10ms); });
            qWarning("The X11 connection broke");
            std::exit(2);
        },
        testing::ExitedWithCode(1), "ending without them");
}

} // namespace

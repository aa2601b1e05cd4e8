#include "pipeline/DictationController.h"
#include "pipeline/SettingsDefaults.h"
#include "platform/linux/x11/X11EscapeKeyGrab.h"
#include "platform/linux/x11/X11EventTap.h"
#include "platform/linux/x11/X11SyntheticKeys.h"

#include "support/FakeCaptureCore.h"
#include "support/FakeDictationServices.h"
#include "support/Polling.h"
#include "support/ServiceEnvironment.h"
#include "support/TextTargetWindow.h"
#include "support/XvfbServer.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <X11/Xlib.h>
#include <X11/keysym.h>

using namespace zq;
using namespace zq::test;
using namespace std::chrono_literals;

namespace {

// The controller on fakes, but with the real event tap and Escape grab on the test's display, and another
// application's focused text field in front: the keys come from XTest, as typed.
class X11EscapeKeyGrabTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!requireService(!sharedDisplay().isEmpty(), sharedDisplayError()))
            return;
        ASSERT_TRUE(target.start(sharedDisplay())) << target.errorString().toStdString();
        ASSERT_TRUE(target.activate());
        rig.settings.setValue(keys::triggerKey, QStringLiteral("f5"));
        DictationController::Dependencies deps = rig.dependencies();
        deps.eventSource = &tap;
        deps.escapeGrab = &grab;
        rig.controller = std::make_unique<DictationController>(std::move(deps));
        rig.made = rig.controller.get();
        ASSERT_TRUE(rig.controller->ensureHotkeyTapRunning());
    }

    // A tap of the trigger locks a take, brought live.
    void startLockedTake()
    {
        xdotool({QStringLiteral("key"), QStringLiteral("F5")});
        ASSERT_TRUE(rig.loop.runUntil([&] { return rig.made->isAudioStartPending(); }, kLoadedMachineTimeout));
        ASSERT_TRUE(rig.bringLive());
    }

    // Types `chord` (an Escape) and waits for the take's cancel.
    void cancelWith(const QString &chord)
    {
        const int cancels = rig.count(DiagnosticEvent::dictationCancelled);
        xdotool({QStringLiteral("key"), chord});
        ASSERT_TRUE(rig.loop.runUntil([&] { return rig.count(DiagnosticEvent::dictationCancelled) > cancels; },
                                      kLoadedMachineTimeout));
        EXPECT_TRUE(rig.made->pillState().is(PillState::Kind::hidden));
    }

    // Whether an Escape reached the window since `since`. A key typed after it is waited for: whatever
    // was typed before has arrived by then.
    bool escapeReachedTheWindowSince(std::chrono::nanoseconds since)
    {
        EXPECT_TRUE(target.clear());
        xdotool({QStringLiteral("key"), QStringLiteral("a")});
        EXPECT_TRUE(target.waitForText([](const QString &text) { return text == u"a"; }, kLoadedMachineTimeout));
        const auto &keys = target.keyEvents();
        return std::any_of(keys.begin(), keys.end(),
                           [&](const auto &key) { return key.key == Qt::Key_Escape && key.at >= since; });
    }

    TextTargetWindow target;
    platform::X11EventTap tap{std::make_shared<platform::X11SyntheticKeys>()};
    platform::X11EscapeKeyGrab grab{sharedDisplay().toLocal8Bit()};
    // Last: its controller uses the tap and the grab.
    FakeDictationServices rig{FakeDictationServices::Options{false, false}};
};

TEST_F(X11EscapeKeyGrabTest, ATakesEscapeCancelsItAndReachesTheWindowOnlyOnceTheTakeEnded)
{
    // Alone, and with a modifier down (a modifier trigger still held). The take over, the same Escape is
    // the window's again, and cancels nothing.
    for (const char *chord : {"Escape", "ctrl+Escape"}) {
        SCOPED_TRACE(chord);
        startLockedTake();
        const auto beforeCancel = TextTargetWindow::monotonicNow();
        cancelWith(QString::fromLatin1(chord));
        EXPECT_FALSE(escapeReachedTheWindowSince(beforeCancel)) << "the take's Escape reached the window";
        const auto afterTake = TextTargetWindow::monotonicNow();
        xdotool({QStringLiteral("key"), QString::fromLatin1(chord)});
        EXPECT_TRUE(target.waitForKeyRelease(Qt::Key_Escape, afterTake, kLoadedMachineTimeout));
    }
    EXPECT_EQ(rig.count(DiagnosticEvent::dictationCancelled), 2);

    // Finished, a take gives Escape back as well.
    startLockedTake();
    xdotool({QStringLiteral("key"), QStringLiteral("F5")});
    ASSERT_TRUE(rig.loop.runUntil([&] { return !rig.made->isRecording(); }, kLoadedMachineTimeout));
    const auto afterFinish = TextTargetWindow::monotonicNow();
    xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
    EXPECT_TRUE(target.waitForKeyRelease(Qt::Key_Escape, afterFinish, kLoadedMachineTimeout));
}

TEST_F(X11EscapeKeyGrabTest, AnEscapeAnotherApplicationGrabbedStillCancelsTheTake)
{
    Display *other = XOpenDisplay(sharedDisplay().toLocal8Bit().constData());
    ASSERT_NE(other, nullptr);
    const Window root = DefaultRootWindow(other);
    const int escape = XKeysymToKeycode(other, XK_Escape);
    XGrabKey(other, escape, AnyModifier, root, False, GrabModeAsync, GrabModeAsync);
    XSync(other, False);

    AudioLogCapture log;
    startLockedTake();
    EXPECT_TRUE(log.contains(QStringLiteral("256 of 256 grabs of Escape refused")));
    cancelWith(QStringLiteral("Escape"));
    XCloseDisplay(other);
}

TEST(X11EscapeKeyGrabLostDisplayTest, ALostDisplayHasNothingToLetGoOfAndIsTriedAgainAtTheNextHold)
{
    XvfbServer server;
    ZQ_REQUIRE_SERVICE(server.start(10s, XvfbServer::DisplayNumber::rarelyReused), server.errorString());
    platform::X11EscapeKeyGrab grab(server.display().toLocal8Bit());
    grab.setHeld(true);
    server.stop();
    AudioLogCapture log;
    grab.setHeld(false);
    grab.setHeld(true);
    EXPECT_TRUE(log.contains(QStringLiteral("Escape stays with the windows during takes: cannot open the X display")));
}

} // namespace

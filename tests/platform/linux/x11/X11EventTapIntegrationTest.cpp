#include "pipeline/HotkeyTap.h"
#include "pipeline/SettingsDefaults.h"
#include "pipeline/TriggerKey.h"
#include "platform/linux/x11/X11EventTap.h"
#include "platform/linux/x11/X11KeySynthesizer.h"
#include "platform/linux/x11/X11SyntheticKeys.h"
#include "runtime/Settings.h"

#include "support/FakeCaptureCore.h"
#include "support/Polling.h"
#include "support/ServiceEnvironment.h"
#include "support/VirtualLoop.h"
#include "support/XvfbServer.h"

#include <QScopeGuard>

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <mutex>
#include <set>
#include <sstream>

#include <sys/socket.h>
#include <sys/stat.h>

using namespace zq;
using namespace zq::test;
using namespace std::chrono_literals;
using platform::EventTap;
using platform::X11EventTap;
using platform::X11SyntheticKeys;

namespace {

// The sockets this process has open.
std::set<int> openSockets()
{
    std::set<int> sockets;
    for (int fd = 0; fd < 1024; ++fd) {
        struct stat info {};
        if (::fstat(fd, &info) == 0 && S_ISSOCK(info.st_mode))
            sockets.insert(fd);
    }
    return sockets;
}

// Collects what the source delivers, from its thread.
struct Recorder {
    EventTap::Handlers handlers()
    {
        return {[this](const TriggerEvent &event) {
                    const std::lock_guard lock(mutex);
                    events.push_back(event);
                },
                [this](EventTap::DisabledReason reason) {
                    const std::lock_guard lock(mutex);
                    disabled.push_back(reason);
                },
                {}};
    }
    std::vector<TriggerEvent> snapshot()
    {
        const std::lock_guard lock(mutex);
        return events;
    }
    std::size_t disabledCount()
    {
        const std::lock_guard lock(mutex);
        return disabled.size();
    }

    std::mutex mutex;
    std::vector<TriggerEvent> events;
    std::vector<EventTap::DisabledReason> disabled;
};

class X11EventTapTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!requireService(!sharedDisplay().isEmpty(), sharedDisplayError()))
            return;
        registerDefaults(settings);
    }

    std::unique_ptr<HotkeyTap> makeHotkeyTap()
    {
        return std::make_unique<HotkeyTap>(
            source, settings, loop, loop.clocks(), [this](TriggerAction action) { delivered.push_back(action); },
            [](const QString &) {});
    }

    bool awaitDelivered(std::size_t count)
    {
        return loop.runUntil([&] { return delivered.size() >= count; }, kLoadedMachineTimeout);
    }

    // Lets events that may still be on their way arrive, so a test can check that none did.
    void settle()
    {
        loop.runUntil([] { return false; }, 300ms);
    }

    std::shared_ptr<X11SyntheticKeys> ownKeys = std::make_shared<X11SyntheticKeys>();
    X11EventTap source{ownKeys};
    VirtualLoop loop;
    rt::Settings settings{QString()};
    std::vector<TriggerAction> delivered;
};

TEST_F(X11EventTapTest, TranslatesKeysModifiersAndSideButtonsByPosition)
{
    Recorder recorder;
    ASSERT_TRUE(source.start(recorder.handlers()));
    xdotool({QStringLiteral("keydown"), QStringLiteral("Shift_L"), QStringLiteral("key"), QStringLiteral("a"),
             QStringLiteral("keyup"), QStringLiteral("Shift_L"), QStringLiteral("keyup"), QStringLiteral("a"),
             QStringLiteral("click"), QStringLiteral("8"), QStringLiteral("key"), QStringLiteral("F5")});
    ASSERT_TRUE(waitFor([&] { return recorder.snapshot().size() >= 8; }, kLoadedMachineTimeout));
    const std::vector<TriggerEvent> events = recorder.snapshot();
    const std::uint64_t leftShift = ModifierFlag::shift | ModifierFlag::leftShiftKey;

    struct Expected {
        TriggerEventType type;
        std::int64_t keyCode;
        std::uint64_t flags;
        std::int64_t button;
    };
    const std::vector<Expected> expected = {
        {TriggerEventType::flagsChanged, KeyCode::leftShift, leftShift, 0},
        {TriggerEventType::keyDown, 0, leftShift, 0},
        {TriggerEventType::keyUp, 0, leftShift, 0},
        // xdotool releases Shift twice and "a" a second time: releases of keys that are up are not reported.
        {TriggerEventType::flagsChanged, KeyCode::leftShift, 0, 0},
        {TriggerEventType::otherMouseDown, 0, 0, 3},
        {TriggerEventType::otherMouseUp, 0, 0, 3},
        {TriggerEventType::keyDown, 96, 0, 0},
        {TriggerEventType::keyUp, 96, 0, 0},
    };
    std::ostringstream seen;
    for (const TriggerEvent &event : events)
        seen << static_cast<int>(event.type) << ':' << event.keyCode << ':' << event.flags << ':' << event.buttonNumber
             << ' ';
    ASSERT_EQ(events.size(), expected.size()) << seen.str();
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "event " << i);
        EXPECT_EQ(events[i].type, expected[i].type);
        EXPECT_EQ(events[i].keyCode, expected[i].keyCode);
        EXPECT_EQ(events[i].flags, expected[i].flags);
        EXPECT_EQ(events[i].buttonNumber, expected[i].button);
        EXPECT_FALSE(events[i].isAutoRepeat);
        if (i > 0) {
            EXPECT_GE(events[i].time, events[i - 1].time);
        }
    }
    EXPECT_GT(events.front().time.count(), 0);
}

TEST_F(X11EventTapTest, HoldTapAndEscapeOfABoundTriggerReachTheOwner)
{
    settings.setValue(keys::triggerKey, QStringLiteral("f5"));
    auto tap = makeHotkeyTap();
    ASSERT_TRUE(tap->start());

    xdotool({QStringLiteral("keydown"), QStringLiteral("F5"), QStringLiteral("sleep"), QStringLiteral("0.4"),
             QStringLiteral("keyup"), QStringLiteral("F5")});
    ASSERT_TRUE(awaitDelivered(2));
    EXPECT_EQ(delivered, (std::vector{TriggerAction::start, TriggerAction::finish}));

    tap->resetToIdle();
    delivered.clear();
    xdotool({QStringLiteral("key"), QStringLiteral("F5")});
    ASSERT_TRUE(awaitDelivered(2));
    EXPECT_EQ(delivered, (std::vector{TriggerAction::start, TriggerAction::lock}));

    xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
    ASSERT_TRUE(awaitDelivered(3));
    EXPECT_EQ(delivered.back(), TriggerAction::cancel);
}

TEST_F(X11EventTapTest, OurOwnPasteChordNeverReachesTheTrigger)
{
    // Left Control and V are both triggers here: the chord presses both.
    settings.setValue(keys::triggerKey, QStringLiteral("modifier:59:262144:Left Control (⌃)"));
    settings.setValue(keys::secondaryTriggerKey, QStringLiteral("key:9:V"));
    auto tap = makeHotkeyTap();
    ASSERT_TRUE(tap->start());
    platform::X11KeySynthesizer keys(ownKeys);

    ASSERT_TRUE(keys.postPasteChord(platform::PasteChord::controlV));
    ASSERT_TRUE(keys.postPasteChord(platform::PasteChord::controlV));
    settle();
    EXPECT_TRUE(delivered.empty());

    // The same keys from another XTest client do count.
    xdotool({QStringLiteral("keydown"), QStringLiteral("Control_L")});
    ASSERT_TRUE(awaitDelivered(1));
    xdotool({QStringLiteral("keyup"), QStringLiteral("Control_L")});
    ASSERT_TRUE(awaitDelivered(2));
    EXPECT_EQ(delivered, (std::vector{TriggerAction::start, TriggerAction::lock}));
}

TEST_F(X11EventTapTest, ChangingTheTriggerTakesEffectAtTheNextEvent)
{
    settings.setValue(keys::triggerKey, QStringLiteral("f5"));
    auto tap = makeHotkeyTap();
    ASSERT_TRUE(tap->start());
    xdotool({QStringLiteral("key"), QStringLiteral("F6")});
    settle();
    EXPECT_TRUE(delivered.empty());

    settings.setValue(keys::triggerKey, QStringLiteral("f6"));
    xdotool({QStringLiteral("key"), QStringLiteral("F6")});
    ASSERT_TRUE(awaitDelivered(2));
    EXPECT_EQ(delivered, (std::vector{TriggerAction::start, TriggerAction::lock}));
}

TEST_F(X11EventTapTest, ALostServerIsReportedOnceAndStopStillReturns)
{
    // The tap reconnects to the same display name: with the lowest free number, a server of a test
    // running in parallel could take it over once ours is gone.
    XvfbServer server;
    ZQ_REQUIRE_SERVICE(server.start(10s, XvfbServer::DisplayNumber::rarelyReused), server.errorString());
    X11EventTap tap(ownKeys, server.display().toLocal8Bit());
    Recorder recorder;
    ASSERT_TRUE(tap.start(recorder.handlers()));

    server.stop();
    ASSERT_TRUE(waitFor([&] { return recorder.disabledCount() >= 1; }, kLoadedMachineTimeout));
    EXPECT_EQ(recorder.disabled.front(), EventTap::DisabledReason::connectionLost);
    AudioLogCapture log;
    tap.enable(); // nothing to reconnect to: it keeps trying in the background
    ASSERT_TRUE(waitFor([&] { return log.contains("cannot reconnect yet"); }, kLoadedMachineTimeout))
        << "no reconnection was tried";
    EXPECT_EQ(recorder.disabledCount(), 1u);
    EXPECT_TRUE(tap.isRunning());
    tap.stop();
    EXPECT_FALSE(tap.isRunning());
}

TEST_F(X11EventTapTest, AfterItsOwnConnectionBreaksTheTriggerReleasedMeanwhileOrLaterFinishesTheTake)
{
    settings.setValue(keys::triggerKey, QStringLiteral("f5"));
    auto tap = makeHotkeyTap();
    const std::set<int> others = openSockets();
    ASSERT_TRUE(tap->start());
    const auto releaseF5 = qScopeGuard([] {
        runTool(QStringLiteral("xdotool"), {QStringLiteral("keyup"), QStringLiteral("F5")});
    });
    // Shuts the tap's own connection; the server lives on, and the tap reconnects once the loop runs.
    const auto cutTheTapsConnection = [&] {
        std::vector<int> own;
        std::ranges::set_difference(openSockets(), others, std::back_inserter(own));
        ASSERT_EQ(own.size(), 1u);
        ::shutdown(own.front(), SHUT_RDWR);
    };
    AudioLogCapture log;

    // Still down when the connection is back: its release then is seen.
    xdotool({QStringLiteral("keydown"), QStringLiteral("F5")});
    ASSERT_TRUE(awaitDelivered(1));
    cutTheTapsConnection();
    ASSERT_TRUE(loop.runUntil([&] { return log.contains("event source back"); }, kLoadedMachineTimeout));
    EXPECT_EQ(delivered, std::vector{TriggerAction::start});
    xdotool({QStringLiteral("sleep"), QStringLiteral("0.4"), QStringLiteral("keyup"), QStringLiteral("F5")});
    ASSERT_TRUE(awaitDelivered(2));
    EXPECT_EQ(delivered.back(), TriggerAction::finish);

    // Released while the connection is lost.
    tap->resetToIdle();
    xdotool({QStringLiteral("keydown"), QStringLiteral("F5")});
    ASSERT_TRUE(awaitDelivered(3));
    cutTheTapsConnection();
    xdotool({QStringLiteral("keyup"), QStringLiteral("F5")});
    ASSERT_TRUE(awaitDelivered(4));
    EXPECT_EQ(delivered,
              (std::vector{TriggerAction::start, TriggerAction::finish, TriggerAction::start, TriggerAction::finish}));
}

TEST_F(X11EventTapTest, WithoutAnX11DisplayTheTapDoesNotStart)
{
    Recorder recorder;
    const QByteArray wayland = qgetenv("WAYLAND_DISPLAY");
    qputenv("WAYLAND_DISPLAY", "wayland-0");
    X11EventTap noDisplay(ownKeys, QByteArray());
    EXPECT_FALSE(noDisplay.start(recorder.handlers()));
    EXPECT_FALSE(noDisplay.isRunning());
    wayland.isNull() ? qunsetenv("WAYLAND_DISPLAY") : qputenv("WAYLAND_DISPLAY", wayland);

    X11EventTap unreachable(ownKeys, QByteArrayLiteral(":4095"));
    EXPECT_FALSE(unreachable.start(recorder.handlers()));
}

} // namespace

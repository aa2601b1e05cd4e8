#include "pipeline/HotkeyTap.h"
#include "pipeline/SettingsDefaults.h"
#include "runtime/Settings.h"

#include "support/FakeEventTap.h"
#include "support/TriggerTestSupport.h"
#include "support/VirtualLoop.h"

#include <gtest/gtest.h>

#include <memory>

using namespace zq;
using namespace zq::trigger_test;
using namespace std::chrono_literals;
using zq::test::FakeEventTap;
using zq::test::VirtualLoop;
using Reason = platform::EventTap::DisabledReason;

namespace {

constexpr std::int64_t kF5 = 96;
constexpr std::int64_t kF6 = 97;

class HotkeyTapTest : public ::testing::Test {
protected:
    HotkeyTapTest()
    {
        registerDefaults(settings);
        tap = makeTap();
    }

    std::unique_ptr<HotkeyTap> makeTap()
    {
        return std::make_unique<HotkeyTap>(
            source, settings, loop, loop.clocks(), [this](TriggerAction action) { delivered.push_back(action); },
            [this](const QString &reason) { recorded.append(reason); });
    }

    void setTrigger(const QString &primary, const QString &secondary = {})
    {
        settings.setValue(keys::triggerKey, primary);
        settings.setValue(keys::secondaryTriggerKey, secondary);
    }

    VirtualLoop loop;
    rt::Settings settings{QString()};
    FakeEventTap source;
    Actions delivered;
    QStringList recorded;
    std::unique_ptr<HotkeyTap> tap;
};

TEST_F(HotkeyTapTest, StartIsIdempotentAndARefusedStartCanBeRetried)
{
    source.setRefusesStart(true);
    EXPECT_FALSE(tap->start());
    EXPECT_FALSE(tap->isRunning());
    source.emitEvent(keyDown(kF5, 1.0));
    EXPECT_EQ(loop.pendingCount(), 0) << "a refused start keeps nothing";

    source.setRefusesStart(false);
    EXPECT_TRUE(tap->start());
    EXPECT_TRUE(tap->start());
    EXPECT_TRUE(tap->isRunning());
    EXPECT_EQ(source.startCount(), 2) << "one refused start, then exactly one source";
}

TEST_F(HotkeyTapTest, ActionsReachTheOwnerLaterOnTheLoopInEventOrder)
{
    setTrigger(QStringLiteral("f5"));
    ASSERT_TRUE(tap->start());
    source.emitEvent(keyDown(kF5, 1.0));
    source.emitEvent(keyUp(kF5, 1.5));
    EXPECT_TRUE(delivered.empty()) << "nothing is delivered from inside the source's handler";
    EXPECT_EQ(loop.pendingCount(), 2) << "one work item per event";

    loop.runUntilIdle();
    EXPECT_EQ(delivered, (Actions{start, finish}));
}

TEST_F(HotkeyTapTest, AMacroDeliversStartThenLockBackToBack)
{
    setTrigger(QStringLiteral("f5"), QStringLiteral("macro:0+0,11+0:Macro · A → B"));
    ASSERT_TRUE(tap->start());
    source.emitEvent(keyDown(0, 1.0));
    source.emitEvent(keyDown(11, 1.2));
    loop.runUntilIdle();
    EXPECT_EQ(delivered, (Actions{start, lock}));
}

TEST_F(HotkeyTapTest, TriggerSettingsAreReadAtEveryEvent)
{
    setTrigger(QStringLiteral("f5"), QStringLiteral("not a binding"));
    ASSERT_TRUE(tap->start());
    source.emitEvent(keyDown(kF6, 1.0));
    source.emitEvent(keyUp(kF6, 1.1));
    loop.runUntilIdle();
    EXPECT_TRUE(delivered.empty()) << "a malformed secondary trigger is ignored";

    // The change is made between two events, with the tap running.
    setTrigger(QStringLiteral("f6"));
    source.emitEvent(keyDown(kF6, 2.0));
    loop.runUntilIdle();
    EXPECT_EQ(delivered, (Actions{start}));
    source.emitEvent(keyUp(kF6, 2.1));
    loop.runUntilIdle();
    EXPECT_EQ(delivered, (Actions{start, lock}));
}

TEST_F(HotkeyTapTest, FnActsAsTriggerWhenThePrimaryIsMissingOrMalformed)
{
    for (const rt::SettingValue &stored : {rt::SettingValue(QStringLiteral("FN")), rt::SettingValue(qint64(7))}) {
        settings.setValue(keys::triggerKey, stored);
        tap = makeTap();
        delivered.clear();
        ASSERT_TRUE(tap->start());
        source.emitEvent(flagsChanged(KeyCode::function, ModifierFlag::function, 1.0));
        source.emitEvent(flagsChanged(KeyCode::function, 0, 2.0));
        loop.runUntilIdle();
        EXPECT_EQ(delivered, (Actions{start, finish}));
    }

    rt::Settings empty{QString()};
    HotkeyTap bare(source, empty, loop, loop.clocks(), [this](TriggerAction action) { delivered.push_back(action); },
                   {});
    tap.reset();
    delivered.clear();
    ASSERT_TRUE(bare.start());
    source.emitEvent(flagsChanged(KeyCode::function, ModifierFlag::function, 3.0));
    loop.runUntilIdle();
    EXPECT_EQ(delivered, (Actions{start})) << "no trigger stored at all: Fn";
}

TEST_F(HotkeyTapTest, DisabledSourceIsReEnabledRecordedAndCancelsAHeldTrigger)
{
    setTrigger(QStringLiteral("f5"));
    ASSERT_TRUE(tap->start());
    source.emitEvent(keyDown(kF5, 1.0));
    source.emitDisabled(Reason::timeout);
    loop.runUntilIdle();
    EXPECT_EQ(delivered, (Actions{start, cancel}));
    EXPECT_EQ(source.enableCount(), 1);
    EXPECT_EQ(recorded, QStringList{QStringLiteral("timeout")});
    EXPECT_FALSE(tap->tracker().activeTrigger().has_value());

    // While idle a disable cancels nothing but is still re-enabled and recorded.
    tap->resetToIdle();
    source.emitDisabled(Reason::userInput);
    loop.runUntilIdle();
    EXPECT_EQ(delivered, (Actions{start, cancel}));
    EXPECT_EQ(source.enableCount(), 2);

    // A lost display connection is not the user's cancel: the take goes on until the source is back
    // and tells whether the trigger is still down.
    tap->resetToIdle();
    source.emitEvent(keyDown(kF5, 2.0));
    source.emitDisabled(Reason::connectionLost);
    loop.runUntilIdle();
    EXPECT_EQ(delivered, (Actions{start, cancel, start}));
    EXPECT_EQ(source.enableCount(), 3);
    EXPECT_EQ(recorded, (QStringList{QStringLiteral("timeout"), QStringLiteral("user_input"),
                                     QStringLiteral("connection_lost")}));
    EXPECT_EQ(tap->tracker().logic().state().kind, TriggerLogic::StateKind::held);
    source.emitRestored({keyDown(kF5, 0.0)});
    loop.runUntilIdle();
    EXPECT_EQ(delivered, (Actions{start, cancel, start})) << "still down";
    source.emitDisabled(Reason::connectionLost);
    source.emitRestored({keyDown(kF6, 0.0)});
    loop.runUntilIdle();
    EXPECT_EQ(delivered, (Actions{start, cancel, start, finish})) << "released while the connection was lost";
}

TEST_F(HotkeyTapTest, StopDropsEventsNotYetHandledAndForgetsTheTrigger)
{
    setTrigger(QStringLiteral("f5"));
    ASSERT_TRUE(tap->start());
    source.emitEvent(keyDown(kF5, 1.0));
    loop.runUntilIdle();
    source.emitEvent(keyUp(kF5, 1.1));
    tap->stop();
    loop.runUntilIdle();
    EXPECT_EQ(delivered, (Actions{start}));
    EXPECT_FALSE(source.isRunning());
    EXPECT_EQ(tap->tracker().logic().state(), TriggerLogic::State::idle());
    EXPECT_FALSE(tap->tracker().activeTrigger().has_value());

    // A fresh start works from a clean state.
    ASSERT_TRUE(tap->start());
    source.emitEvent(keyDown(kF5, 2.0));
    loop.runUntilIdle();
    EXPECT_EQ(delivered, (Actions{start, start}));
}

TEST_F(HotkeyTapTest, NothingIsDeliveredAfterTheTapIsGone)
{
    setTrigger(QStringLiteral("f5"));
    ASSERT_TRUE(tap->start());
    source.emitEvent(keyDown(kF5, 1.0));
    loop.runUntilIdle(); // handled; the delivery is queued behind it
    source.emitEvent(keyUp(kF5, 1.5));
    tap.reset();
    loop.runUntilIdle();
    EXPECT_EQ(delivered, (Actions{start}));
    EXPECT_FALSE(source.isRunning()) << "the tap stops its source when it goes away";
}

TEST_F(HotkeyTapTest, AnEventWithoutTimeStampIsTimedByTheUptimeClock)
{
    setTrigger(QStringLiteral("f5"));
    ASSERT_TRUE(tap->start());
    loop.advance(5s);
    source.emitEvent(keyDown(kF5, 0.0));
    loop.runUntilIdle();
    TriggerEvent release = keyUp(kF5, 0.0);
    release.time = loop.clocks().uptimeNow() + 100ms;
    source.emitEvent(release);
    loop.runUntilIdle();
    // A press counted at time 0 would make this a long hold, which finishes.
    EXPECT_EQ(delivered, (Actions{start, lock})) << "pressed at the uptime reading, released 0.1 s later";
}

} // namespace

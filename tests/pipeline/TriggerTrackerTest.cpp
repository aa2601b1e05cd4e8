#include "pipeline/TriggerTracker.h"
#include "support/TriggerTestSupport.h"

#include <gtest/gtest.h>

#include <random>

namespace zq {
namespace {

using namespace trigger_test;
using namespace ModifierFlag;
using State = TriggerLogic::State;

constexpr std::int64_t keyA = 0;
constexpr std::int64_t keyB = 11;
constexpr std::int64_t keyK = 40;
constexpr std::int64_t keyF5 = 96;
constexpr std::int64_t fnKey = KeyCode::function;

// A tracker with a fixed trigger list, fed one event at a time.
struct Triggers {
    explicit Triggers(std::vector<QString> values) : values(std::move(values)) {}

    Actions operator()(const TriggerEvent &event) { return tracker.handle(event, values); }
    State state() const { return tracker.logic().state(); }

    std::vector<QString> values;
    TriggerTracker tracker;
};

TEST(TriggerTrackerTest, holdAndTapOfFn)
{
    Triggers fn({"fn"});
    EXPECT_EQ(fn(flagsChanged(fnKey, function, 1.0)), Actions{start});
    EXPECT_EQ(fn(flagsChanged(56, function | shift, 1.2)), Actions{}) << "other modifiers while Fn is down";
    EXPECT_EQ(fn(flagsChanged(56, function, 1.3)), Actions{});
    EXPECT_EQ(fn(flagsChanged(fnKey, 0, 1.5)), Actions{finish});
    fn.tracker.resetToIdle();

    EXPECT_EQ(fn(flagsChanged(fnKey, function, 2.0)), Actions{start});
    EXPECT_EQ(fn(flagsChanged(fnKey, 0, 2.1)), Actions{lock});
    EXPECT_EQ(fn(flagsChanged(fnKey, function, 5.0)), Actions{finish}) << "a press while locked finishes";
    EXPECT_EQ(fn(flagsChanged(fnKey, 0, 5.1)), Actions{}) << "and its release does nothing";
    EXPECT_FALSE(fn.tracker.activeTrigger());
}

TEST(TriggerTrackerTest, releaseAtExactlyTheThresholdFinishes)
{
    Triggers f5({"f5"});
    EXPECT_EQ(f5(keyDown(keyF5, 2.6)), Actions{start});
    EXPECT_EQ(f5(keyUp(keyF5, 2.9)), Actions{finish});
    f5.tracker.resetToIdle();
    EXPECT_EQ(f5(keyDown(keyF5, 3.0)), Actions{start});
    EXPECT_EQ(f5(keyUp(keyF5, 3.299999999)), Actions{lock});
}

TEST(TriggerTrackerTest, escapeInEveryState)
{
    Triggers f5({"f5"});
    EXPECT_EQ(f5(keyDown(KeyCode::escape, 0.5)), Actions{}) << "idle";

    EXPECT_EQ(f5(keyDown(keyF5, 1.0)), Actions{start});
    EXPECT_EQ(f5(keyDown(KeyCode::escape, 1.1)), Actions{cancel}) << "held";
    EXPECT_EQ(f5.state(), State::done());
    EXPECT_TRUE(f5.tracker.activeTrigger()) << "Escape leaves the trigger down";
    EXPECT_EQ(f5(keyDown(KeyCode::escape, 1.2, 0, true)), Actions{}) << "done ignores Escape";
    EXPECT_EQ(f5(keyUp(keyF5, 1.5)), Actions{}) << "the later release emits nothing";
    EXPECT_FALSE(f5.tracker.activeTrigger());
    f5.tracker.resetToIdle();

    EXPECT_EQ(f5(keyDown(keyF5, 2.0)), Actions{start});
    EXPECT_EQ(f5(keyUp(keyF5, 2.1)), Actions{lock});
    EXPECT_EQ(f5(keyDown(KeyCode::escape, 3.0, 0, true)), Actions{cancel}) << "locked, auto-repeated Escape";
    f5.tracker.resetToIdle();

    // After a finish the take belongs to the controller: Escape is not the trigger's business.
    EXPECT_EQ(f5(keyDown(keyF5, 4.0)), Actions{start});
    EXPECT_EQ(f5(keyUp(keyF5, 5.0)), Actions{finish});
    EXPECT_EQ(f5(keyDown(KeyCode::escape, 5.1)), Actions{});
}

TEST(TriggerTrackerTest, malformedPrimaryActsAsFn)
{
    for (const char *primary : {"", "FN", "key:12:", "mouse:1", "macro:1+0:X"}) {
        Triggers triggers({QString::fromLatin1(primary)});
        EXPECT_EQ(triggers(flagsChanged(fnKey, function, 1.0)), Actions{start}) << primary;
        EXPECT_EQ(triggers(flagsChanged(fnKey, 0, 2.0)), Actions{finish}) << primary;
    }
}

TEST(TriggerTrackerTest, shortcutNeedsExactModifiersInEitherOrder)
{
    Triggers shortcut({"shortcut:40:1179648:Super+Shift+K"}); // Super and Shift
    EXPECT_EQ(shortcut(keyDown(keyK, 0.5, command)), Actions{}) << "too few modifiers";
    EXPECT_EQ(shortcut(keyDown(keyK, 0.6, command | shift | option)), Actions{}) << "too many";

    // Shift first, then Super.
    EXPECT_EQ(shortcut(flagsChanged(56, shift, 1.0)), Actions{});
    EXPECT_EQ(shortcut(flagsChanged(55, shift | command, 1.1)), Actions{});
    EXPECT_EQ(shortcut(keyDown(keyK, 1.2, shift | command)), Actions{start});
    EXPECT_EQ(shortcut(keyDown(keyK, 1.3, shift | command, true)), Actions{}) << "auto-repeat";
    EXPECT_EQ(shortcut(flagsChanged(56, command, 1.4)), Actions{}) << "letting go of a modifier is not the release";
    EXPECT_EQ(shortcut(keyUp(keyK, 2.0)), Actions{finish}) << "key-up ends it whatever is held";
    shortcut.tracker.resetToIdle();

    // Super first, then Shift.
    EXPECT_EQ(shortcut(flagsChanged(55, command, 3.0)), Actions{});
    EXPECT_EQ(shortcut(flagsChanged(56, shift | command, 3.1)), Actions{});
    EXPECT_EQ(shortcut(keyDown(keyK, 3.2, shift | command | function)), Actions{start});
    EXPECT_EQ(shortcut(keyUp(keyK, 3.3, option)), Actions{lock});
}

TEST(TriggerTrackerTest, heldKeyTriggerIgnoresRepeatsAndOtherKeys)
{
    Triggers f5({"f5"});
    EXPECT_EQ(f5(keyDown(keyF5, 1.0)), Actions{start});
    EXPECT_EQ(f5(keyDown(keyF5, 1.5, 0, true)), Actions{});
    EXPECT_EQ(f5(keyDown(keyA, 1.6)), Actions{});
    EXPECT_EQ(f5(keyUp(keyA, 1.7)), Actions{});
    EXPECT_EQ(f5(keyUp(keyF5, 2.0)), Actions{finish});
}

TEST(TriggerTrackerTest, macroSequences)
{
    const QString ab = "macro:0+0,11+0:Macro · A → B";
    {
        Triggers macro({"fn", ab});
        EXPECT_EQ(macro(keyDown(keyA, 1.0)), Actions{});
        EXPECT_EQ(macro(keyDown(keyB, 1.5)), (Actions{start, lock})) << "A, B";
        EXPECT_EQ(macro.state(), State::locked());
        EXPECT_EQ(macro(keyDown(keyA, 3.0)), Actions{});
        EXPECT_EQ(macro(keyDown(keyB, 3.1)), Actions{finish}) << "completed again while locked";
    }
    {
        Triggers macro({"fn", ab});
        EXPECT_EQ(macro(keyDown(keyA, 1.0)), Actions{});
        EXPECT_EQ(macro(keyDown(keyB, 2.5)), Actions{}) << "A, pause, B";
        EXPECT_EQ(macro.tracker.macroProgress(), 0);
        EXPECT_EQ(macro(keyDown(keyA, 2.6)), Actions{});
        EXPECT_EQ(macro(keyDown(keyB, 3.6)), (Actions{start, lock})) << "a gap of exactly 1 s keeps the progress";
    }
    {
        Triggers macro({"fn", ab});
        EXPECT_EQ(macro(keyDown(keyA, 1.0)), Actions{});
        EXPECT_EQ(macro(keyDown(keyA, 1.1)), Actions{});
        EXPECT_EQ(macro(keyDown(keyB, 1.2)), (Actions{start, lock})) << "A, A, B";
    }
    {
        Triggers macro({"fn", ab});
        EXPECT_EQ(macro(keyDown(keyA, 1.0)), Actions{});
        EXPECT_EQ(macro(keyDown(keyA, 1.1, 0, true)), Actions{}) << "repeats do not reach the matcher";
        EXPECT_EQ(macro(keyDown(KeyCode::escape, 1.2)), Actions{});
        EXPECT_EQ(macro(keyDown(keyB, 1.3)), (Actions{start, lock}));
        EXPECT_EQ(macro(keyDown(keyA, 1.4, command)), Actions{}) << "modifiers must match";
        EXPECT_EQ(macro(keyDown(keyB, 1.5)), Actions{});
    }
    {
        // Completed while a trigger is held: nothing, and the progress starts over.
        Triggers macro({"fn", ab});
        EXPECT_EQ(macro(flagsChanged(fnKey, function, 1.0)), Actions{start});
        EXPECT_EQ(macro(keyDown(keyA, 1.1, function)), Actions{});
        EXPECT_EQ(macro(keyDown(keyB, 1.2, function)), Actions{});
        EXPECT_EQ(macro.tracker.macroProgress(), 0);
        EXPECT_EQ(macro.state(), State::held(seconds(1.0)));
    }
    {
        // A changed macro setting restarts the tracking.
        TriggerTracker tracker;
        tracker.handle(keyDown(keyA, 1.0), {"fn", ab});
        EXPECT_EQ(tracker.handle(keyDown(keyB, 1.1), {"fn", "macro:0+0,11+0:other"}), Actions{});
    }
}

TEST(TriggerTrackerTest, onlyTheFirstMacroIsMatched)
{
    Triggers macros({"macro:0+0,11+0:first", "macro:11+0,0+0:second"});
    EXPECT_EQ(macros(keyDown(keyB, 1.0)), Actions{});
    EXPECT_EQ(macros(keyDown(keyA, 1.1)), Actions{});
    EXPECT_EQ(macros(keyDown(keyB, 1.2)), (Actions{start, lock}));
}

TEST(TriggerTrackerTest, rightAltTriggerIgnoresOtherModifiers)
{
    Triggers rightAlt({"right-option"});
    EXPECT_EQ(rightAlt(flagsChanged(KeyCode::leftOption, option, 1.0)), Actions{}) << "the left key is not it";
    EXPECT_EQ(rightAlt(flagsChanged(KeyCode::leftOption, 0, 1.1)), Actions{});
    EXPECT_EQ(rightAlt(flagsChanged(KeyCode::rightOption, option, 2.0)), Actions{start});
    EXPECT_EQ(rightAlt(flagsChanged(56, option | shift, 2.1)), Actions{});
    EXPECT_EQ(rightAlt(flagsChanged(56, option, 2.2)), Actions{});
    EXPECT_EQ(rightAlt(keyDown(keyA, 2.3, option)), Actions{});
    EXPECT_EQ(rightAlt(flagsChanged(KeyCode::rightOption, 0, 3.0)), Actions{finish});
}

// Left and right Alt share one flag. With both held, the flag stays set when the trigger's own key goes
// up; the per-key bits tell the two apart so the take does not keep running.
TEST(TriggerTrackerTest, modifierTriggerReleasedByItsOwnKeyWhileTheOtherSideIsHeld)
{
    Triggers leftAlt({"modifier:58:524288:Left Alt"});
    EXPECT_EQ(leftAlt(flagsChanged(58, option | leftOptionKey, 1.0)), Actions{start});
    EXPECT_EQ(leftAlt(flagsChanged(61, option | leftOptionKey | rightOptionKey, 1.2)), Actions{});
    EXPECT_EQ(leftAlt(flagsChanged(58, option | rightOptionKey, 1.5)), Actions{finish});
    EXPECT_EQ(leftAlt(flagsChanged(61, 0, 1.6)), Actions{});
    leftAlt.tracker.resetToIdle();

    // The own key going up while the other holds the flag is no press either.
    EXPECT_EQ(leftAlt(flagsChanged(61, option | rightOptionKey, 2.0)), Actions{});
    EXPECT_EQ(leftAlt(flagsChanged(58, option | rightOptionKey, 2.1)), Actions{});
    EXPECT_FALSE(leftAlt.tracker.activeTrigger());

    // The predefined right-hand keys get the same judgement.
    Triggers rightControl({"right-control"});
    EXPECT_EQ(rightControl(flagsChanged(59, control | leftControlKey, 3.0)), Actions{});
    EXPECT_EQ(rightControl(flagsChanged(62, control | leftControlKey | rightControlKey, 3.1)), Actions{start});
    EXPECT_EQ(rightControl(flagsChanged(62, control | leftControlKey, 3.2)), Actions{lock});

    // Without per-key bits only the shared flag is known: the trigger ends when the flag clears.
    Triggers plain({"modifier:58:524288:Left Alt"});
    EXPECT_EQ(plain(flagsChanged(58, option, 1.0)), Actions{start});
    EXPECT_EQ(plain(flagsChanged(61, option, 1.2)), Actions{});
    EXPECT_EQ(plain(flagsChanged(58, option, 1.5)), Actions{});
    EXPECT_EQ(plain(flagsChanged(61, 0, 1.6)), Actions{});
}

TEST(TriggerTrackerTest, mouseButtons)
{
    Triggers mouse({"fn", "mouse:3"});
    EXPECT_EQ(mouse(mouseDown(2, 1.0)), Actions{}) << "another button";
    EXPECT_EQ(mouse(mouseUp(2, 1.1)), Actions{});
    EXPECT_EQ(mouse(mouseDown(3, 2.0)), Actions{start});
    EXPECT_EQ(mouse(mouseUp(4, 2.1)), Actions{});
    EXPECT_EQ(mouse(keyUp(keyA, 2.2)), Actions{}) << "a key-up never releases a mouse trigger";
    EXPECT_EQ(mouse(mouseUp(3, 2.5)), Actions{finish});
    mouse.tracker.resetToIdle();

    EXPECT_EQ(mouse(mouseDown(3, 3.0)), Actions{start});
    EXPECT_EQ(mouse(mouseUp(3, 3.1)), Actions{lock});
    EXPECT_EQ(mouse(mouseDown(3, 4.0)), Actions{finish});
    EXPECT_EQ(mouse(mouseUp(3, 4.1)), Actions{});
}

TEST(TriggerTrackerTest, bothTriggersBoundAtOnce)
{
    Triggers both({"fn", "key:49:Space"});
    EXPECT_EQ(both(keyDown(49, 1.0)), Actions{start}) << "the secondary";
    EXPECT_EQ(both(flagsChanged(fnKey, function, 1.1)), Actions{}) << "the primary while the secondary is down";
    EXPECT_EQ(both(flagsChanged(fnKey, 0, 1.2)), Actions{});
    EXPECT_EQ(both(keyUp(49, 1.5)), Actions{finish});
    both.tracker.resetToIdle();

    EXPECT_EQ(both(flagsChanged(fnKey, function, 2.0)), Actions{start}) << "the primary";
    EXPECT_EQ(both(keyDown(49, 2.1, function)), Actions{});
    EXPECT_EQ(both(keyUp(49, 2.2, function)), Actions{});
    EXPECT_EQ(both(flagsChanged(fnKey, 0, 2.25)), Actions{lock});
    EXPECT_EQ(both(keyDown(49, 3.0)), Actions{finish}) << "either trigger finishes a locked take";

    // The same key in both: the first in the list is the one that goes down.
    Triggers same({"f5", "key:96:F5"});
    EXPECT_EQ(same(keyDown(keyF5, 1.0)), Actions{start});
    EXPECT_EQ(same.tracker.activeTrigger(), TriggerBinding::predefined(TriggerKey::f5));
}

TEST(TriggerTrackerTest, doneStateStillTracksTheTrigger)
{
    Triggers f5({"f5"});
    f5(keyDown(keyF5, 1.0));
    f5(keyUp(keyF5, 2.0));
    ASSERT_EQ(f5.state(), State::done());
    EXPECT_EQ(f5(keyDown(keyF5, 3.0)), Actions{});
    EXPECT_TRUE(f5.tracker.activeTrigger());
    f5.tracker.resetToIdle();
    EXPECT_EQ(f5(keyUp(keyF5, 3.1)), Actions{}) << "the release of a trigger down across the reset";
    EXPECT_FALSE(f5.tracker.activeTrigger());
    EXPECT_EQ(f5(keyDown(keyF5, 4.0)), Actions{start});
}

TEST(TriggerTrackerTest, disabledTapCancelsAndForgets)
{
    const QString ab = "macro:0+0,11+0:M";
    Triggers idle({"f5", ab});
    idle(keyDown(keyA, 1.0));
    EXPECT_EQ(idle(tapDisabled(1.1)), Actions{}) << "idle";
    EXPECT_EQ(idle.tracker.macroProgress(), 0);
    EXPECT_FALSE(idle.tracker.macroTriggerValue());
    EXPECT_EQ(idle(keyDown(keyB, 1.2)), Actions{}) << "the macro starts over";

    Triggers held({"f5"});
    held(keyDown(keyF5, 1.0));
    EXPECT_EQ(held(tapDisabled(1.1)), Actions{cancel});
    EXPECT_FALSE(held.tracker.activeTrigger());
    held.tracker.resetToIdle();
    EXPECT_EQ(held(keyUp(keyF5, 1.2)), Actions{});
    EXPECT_EQ(held(keyDown(keyF5, 2.0)), Actions{start});

    held.tracker.stop();
    EXPECT_EQ(held.state(), State::idle());
    EXPECT_FALSE(held.tracker.activeTrigger());

    // A lost connection forgets a half-typed macro; a held take waits for the source to be back.
    Triggers lost({"f5", ab});
    lost(keyDown(keyA, 1.0));
    lost.tracker.sourceLost();
    EXPECT_EQ(lost.tracker.macroProgress(), 0);
    EXPECT_EQ(lost(keyDown(keyB, 1.2)), Actions{}) << "the macro starts over";
    EXPECT_EQ(lost(keyDown(keyF5, 2.0)), Actions{start});
    lost.tracker.sourceLost();
    EXPECT_EQ(lost.tracker.sourceRestored({keyDown(keyF5, 0), flagsChanged(56, shift, 0)}), Actions{}) << "down";
    EXPECT_EQ(lost.tracker.sourceRestored({keyDown(keyA, 0)}), Actions{finish}) << "went up unseen";
    EXPECT_FALSE(lost.tracker.activeTrigger());
    lost.tracker.resetToIdle();
    lost(keyDown(keyF5, 3.0));
    lost(keyUp(keyF5, 3.1));
    EXPECT_EQ(lost.tracker.sourceRestored({}), Actions{}) << "a locked take goes on";

    Triggers other({"fn", "mouse:3"});
    other(flagsChanged(fnKey, function, 1.0));
    EXPECT_EQ(other.tracker.sourceRestored({flagsChanged(56, function | shift, 0)}), Actions{});
    EXPECT_EQ(other.tracker.sourceRestored({mouseDown(3, 0)}), Actions{finish});
    other.tracker.resetToIdle();
    other(mouseDown(3, 2.0));
    EXPECT_EQ(other.tracker.sourceRestored({mouseDown(3, 0)}), Actions{});
    EXPECT_EQ(other.tracker.sourceRestored({keyDown(keyF5, 0)}), Actions{finish});
}

// Random events against random trigger lists: every batch must be one the controller understands, and the
// controller's reset after each take must always bring the machine back.
TEST(TriggerTrackerTest, randomEventStormKeepsBatchesWellFormed)
{
    const std::vector<std::vector<QString>> lists = {
        {"fn"},
        {"f5", "mouse:3"},
        {"right-option", "macro:0+0,11+0:M"},
        {"modifier:58:524288:Left Alt", "shortcut:40:1048576:Super+K"},
        {"garbage", "macro:0+0,0+0,11+0:M"},
    };
    const std::vector<Actions> allowed = {{}, {start}, {finish}, {cancel}, {lock}, {start, lock}};
    const TriggerEventType types[] = {TriggerEventType::keyDown,
                                      TriggerEventType::keyUp,
                                      TriggerEventType::flagsChanged,
                                      TriggerEventType::otherMouseDown,
                                      TriggerEventType::otherMouseUp,
                                      TriggerEventType::tapDisabledByTimeout,
                                      TriggerEventType::tapDisabledByUserInput};
    const std::int64_t codes[] = {keyA, keyB, keyK, keyF5, 53, 56, 58, 61, fnKey};
    const std::uint64_t bits[] = {shift, option, command, function, leftOptionKey, rightOptionKey};

    std::mt19937_64 random(99);
    for (const auto &values : lists) {
        TriggerTracker tracker;
        double time = 0;
        for (int i = 0; i < 20000; ++i) {
            TriggerEvent event;
            event.type = types[random() % (random() % 50 == 0 ? std::size(types) : 5)];
            event.keyCode = codes[random() % std::size(codes)];
            for (std::uint64_t bit : bits) {
                if (random() % 3 == 0)
                    event.flags |= bit;
            }
            event.isAutoRepeat = random() % 10 == 0;
            event.buttonNumber = static_cast<std::int64_t>(random() % 5);
            time += static_cast<double>(random() % 800) / 1000.0;
            event.time = seconds(time);

            const Actions actions = tracker.handle(event, values);
            ASSERT_NE(std::find(allowed.begin(), allowed.end(), actions), allowed.end());
            ASSERT_LT(tracker.macroProgress(), 3);
            if (tracker.logic().state() == State::done() && random() % 2 == 0)
                tracker.resetToIdle();
        }
    }
}

} // namespace
} // namespace zq

#include "pipeline/TriggerLogic.h"
#include "support/TriggerTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>

namespace zq {
namespace {

using namespace trigger_test;
using namespace std::chrono_literals;
using State = TriggerLogic::State;

TriggerLogic logicIn(const State &state)
{
    TriggerLogic logic;
    switch (state.kind) {
    case TriggerLogic::StateKind::idle:
        break;
    case TriggerLogic::StateKind::held:
        logic.press(state.since);
        break;
    case TriggerLogic::StateKind::locked:
        logic.macroCompleted();
        break;
    case TriggerLogic::StateKind::done:
        logic.press(0ns);
        logic.cancel();
        break;
    }
    EXPECT_EQ(logic.state(), state);
    return logic;
}

// Every state against every input: what is emitted and where the machine goes.
TEST(TriggerLogicTest, transitionTable)
{
    const State held = State::held(10s);
    using Input = std::function<Actions(TriggerLogic &)>;
    const Input press = [](TriggerLogic &l) { return l.press(20s); };
    const Input shortRelease = [](TriggerLogic &l) { return l.release(10s + 100ms); };
    const Input longRelease = [](TriggerLogic &l) { return l.release(10s + 500ms); };
    const Input cancelInput = [](TriggerLogic &l) { return l.cancel(); };
    const Input macro = [](TriggerLogic &l) { return l.macroCompleted(); };
    const Input unseen = [](TriggerLogic &l) { return l.releasedUnseen(); };

    const struct {
        const char *name;
        State from;
        Input input;
        Actions actions;
        State to;
    } rows[] = {
        {"idle press", State::idle(), press, {start}, State::held(20s)},
        {"idle release", State::idle(), longRelease, {}, State::idle()},
        {"idle cancel", State::idle(), cancelInput, {}, State::idle()},
        {"idle macro", State::idle(), macro, {start, lock}, State::locked()},
        {"idle unseen release", State::idle(), unseen, {}, State::idle()},
        {"held press", held, press, {}, held},
        {"held short release", held, shortRelease, {lock}, State::locked()},
        {"held long release", held, longRelease, {finish}, State::done()},
        {"held cancel", held, cancelInput, {cancel}, State::done()},
        {"held macro", held, macro, {}, held},
        {"held unseen release", held, unseen, {finish}, State::done()},
        {"locked press", State::locked(), press, {finish}, State::done()},
        {"locked release", State::locked(), longRelease, {}, State::locked()},
        {"locked cancel", State::locked(), cancelInput, {cancel}, State::done()},
        {"locked macro", State::locked(), macro, {finish}, State::done()},
        {"locked unseen release", State::locked(), unseen, {}, State::locked()},
        {"done press", State::done(), press, {}, State::done()},
        {"done release", State::done(), longRelease, {}, State::done()},
        {"done cancel", State::done(), cancelInput, {}, State::done()},
        {"done macro", State::done(), macro, {}, State::done()},
        {"done unseen release", State::done(), unseen, {}, State::done()},
    };
    for (const auto &row : rows) {
        TriggerLogic logic = logicIn(row.from);
        EXPECT_EQ(row.input(logic), row.actions) << row.name;
        EXPECT_EQ(logic.state(), row.to) << row.name;
    }
}

TEST(TriggerLogicTest, lockThresholdEdgeIsExactAtAnyPressTime)
{
    // Event times far from zero are where a floating-point difference would miss the edge.
    const std::chrono::nanoseconds pressTimes[] = {0ns, 2600ms, 86400s + 1ns, std::chrono::nanoseconds(1LL << 62)};
    for (const std::chrono::nanoseconds pressedAt : pressTimes) {
        TriggerLogic atEdge;
        atEdge.press(pressedAt);
        EXPECT_EQ(atEdge.release(pressedAt + 300ms), Actions{finish}) << "exactly 0.3 s finishes";

        TriggerLogic justBefore;
        justBefore.press(pressedAt);
        EXPECT_EQ(justBefore.release(pressedAt + 300ms - 1ns), Actions{lock});
    }
}

TEST(TriggerLogicTest, oddTimesNeitherOverflowNorFinish)
{
    TriggerLogic backwards;
    backwards.press(5s);
    EXPECT_EQ(backwards.release(4s), Actions{lock}) << "a release stamped before its press is no hold";

    TriggerLogic extremes;
    extremes.press(std::chrono::nanoseconds(std::numeric_limits<std::int64_t>::min()));
    EXPECT_EQ(extremes.release(std::chrono::nanoseconds(std::numeric_limits<std::int64_t>::max())), Actions{finish});
}

TEST(TriggerLogicTest, resetLeavesDoneAndAnyOtherState)
{
    TriggerLogic logic;
    logic.press(0s);
    logic.release(1s);
    ASSERT_EQ(logic.state(), State::done());
    logic.reset();
    EXPECT_EQ(logic.state(), State::idle());
    EXPECT_EQ(logic.press(2s), Actions{start}) << "a new take starts after the reset";

    logic.reset();
    EXPECT_EQ(logic.release(3s), Actions{}) << "the release of a trigger still down at the reset does nothing";
    EXPECT_EQ(logic.lockThreshold(), 300ms);
}

} // namespace
} // namespace zq

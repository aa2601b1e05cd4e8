#include "menubar/brand/Motion.h"
#include "support/VirtualLoop.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using namespace std::chrono_literals;
using zq::Motion;
using zq::Tween;
using zq::rt::Nanos;

namespace {

// Frames that write down when they ran; they move until `until` (forever when none).
struct Recorder {
    Recorder(std::chrono::milliseconds interval, std::optional<Nanos> until,
             Motion::WhenOff whenOff = Motion::WhenOff::stop)
        : frames(
              interval,
              [this, until](Nanos now) {
                  ran.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
                  return !until || now < *until;
              },
              whenOff)
    {}
    std::vector<long> ran;
    Motion::Frames frames;
};

} // namespace

TEST(MotionTest, OneTickerRunsEachViewAtItsPaceAndLeavesTheLoopEmptyWhenNothingMoves)
{
    zq::test::VirtualLoop loop;
    Motion motion(loop);
    Recorder hover(zq::motion::frame, 64ms);
    Recorder spinner(zq::motion::spinnerStep, std::nullopt);
    EXPECT_FALSE(motion.isTicking());
    hover.frames.start(motion);
    spinner.frames.start(motion);
    EXPECT_EQ(loop.pendingCount(), 1) << "one ticker for every view";

    loop.advance(250ms);
    EXPECT_EQ(hover.ran, (std::vector<long>{16, 32, 48, 64})) << "the hover ends on the frame it settles";
    EXPECT_EQ(spinner.ran, (std::vector<long>{125, 250}));
    EXPECT_FALSE(hover.frames.isActive());
    EXPECT_TRUE(spinner.frames.isActive());

    // A view destroyed while it moves takes no more frames.
    auto gone = std::make_unique<Recorder>(zq::motion::frame, std::nullopt);
    gone->frames.start(motion);
    gone.reset();
    spinner.frames.start(motion); // started again: keeps its rhythm
    loop.advance(125ms);
    EXPECT_EQ(spinner.ran.back(), 375);

    spinner.frames.stop();
    EXPECT_FALSE(motion.isTicking());
    EXPECT_EQ(loop.pendingCount(), 0);
}

TEST(MotionTest, AnimationsOffDrawsStoppingViewsOnceMoreAndPausesThemUntilTheyComeBackOn)
{
    zq::test::VirtualLoop loop;
    Motion motion(loop);
    Recorder fade(zq::motion::frame, 0ms); // a tween: with animations off it is at its target
    Recorder spinner(zq::motion::spinnerStep, std::nullopt);
    Recorder pill(zq::motion::liveFrame, std::nullopt, Motion::WhenOff::keepRunning);
    for (Recorder *r : {&fade, &spinner, &pill})
        r->frames.start(motion);
    loop.advance(10ms);

    motion.setAnimationsOff(true);
    EXPECT_EQ(fade.ran, std::vector<long>{10}) << "one last frame, drawn at the target";
    EXPECT_EQ(spinner.ran, std::vector<long>{10});
    EXPECT_TRUE(pill.ran.empty());
    EXPECT_FALSE(fade.frames.isActive());
    EXPECT_FALSE(spinner.frames.isActive());
    EXPECT_TRUE(pill.frames.isActive()) << "the pill keeps its fades and its live meter";
    loop.advance(200ms);
    EXPECT_EQ(spinner.ran.size(), 1u);
    EXPECT_EQ(pill.ran.size(), 6u);
    pill.frames.stop();
    EXPECT_FALSE(motion.isTicking()) << "a paused view holds no timer";

    motion.setAnimationsOff(false);
    loop.advance(125ms);
    EXPECT_EQ(spinner.ran.back(), 335) << "the spinner turns again";
    EXPECT_EQ(fade.ran.size(), 1u) << "the settled fade is gone";
}

TEST(MotionTest, ATweenStandsAtItsTargetUnlessMovingAndTurnsBackFromWhereItStands)
{
    zq::test::VirtualLoop loop;
    Motion motion(loop);
    Tween tween{{zq::motion::standard, zq::motion::Seconds(0.2)}};
    EXPECT_EQ(motion.value(tween), 0.0);
    EXPECT_TRUE(motion.settled(tween)) << "a new tween does not animate";

    tween.retarget(10, motion.now());
    loop.advance(100ms);
    const double mid = motion.value(tween);
    EXPECT_NEAR(mid, 10 * zq::motion::standard.ease(0.5), 1e-9);
    EXPECT_FALSE(motion.settled(tween));
    tween.retarget(0, motion.now());
    EXPECT_NEAR(motion.value(tween), mid, 1e-12);
    motion.setAnimationsOff(true);
    EXPECT_EQ(motion.value(tween), 0.0) << "with animations off the value is its target";
    EXPECT_TRUE(motion.settled(tween));
    motion.setAnimationsOff(false);
    loop.advance(250ms);
    EXPECT_EQ(motion.value(tween), 0.0);
    EXPECT_TRUE(motion.settled(tween));
}

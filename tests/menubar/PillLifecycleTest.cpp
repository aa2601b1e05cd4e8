#include "menubar/PillLifecycle.h"

#include "menubar/brand/ZepaMeter.h"
#include "support/ScriptedPillTake.h"

#include <gtest/gtest.h>

#include <cmath>

using zq::LevelHistory;
using zq::PillLifecycle;
using zq::PillState;
using zq::rt::seconds;
using zq::test::ScriptedPillTake;

namespace {

LevelHistory historyOf(std::initializer_list<std::pair<double, double>> samples)
{
    LevelHistory history;
    for (const auto &[t, level] : samples)
        history.append(seconds(t), level);
    return history;
}

const LevelHistory kEmpty;
const LevelHistory kVoice = historyOf({{11.0, 0.2}, {11.5, 0.8}, {12.0, 0.5}});

// Shown as listening at 10 with the capture live at 11.
PillLifecycle liveListening()
{
    PillLifecycle pill;
    pill.apply(PillState::listening(), kEmpty, seconds(10));
    pill.noteCapture(true, kEmpty, seconds(11));
    return pill;
}

} // namespace

TEST(PillLifecycleTest, FirstShowRecordsTheEntryAndClearsTheCapture)
{
    PillLifecycle pill;
    pill.apply(PillState::listening(), kVoice, seconds(10));
    EXPECT_EQ(pill.shownAt, seconds(10.0));
    EXPECT_EQ(pill.previous, PillState::listening());
    EXPECT_EQ(pill.state, PillState::listening());
    EXPECT_EQ(pill.stateAt, seconds(10.0));
    EXPECT_FALSE(pill.captureLive);
    EXPECT_FALSE(pill.captureWasLive);
    EXPECT_FALSE(pill.captureAt);
    EXPECT_FALSE(pill.rollupAt);
    EXPECT_EQ(pill.rollupHistory, kEmpty) << "a history is kept only when a roll-up starts";
}

TEST(PillLifecycleTest, LeavingALiveCaptureStartsOneRollUp)
{
    PillLifecycle pill = liveListening();
    pill.apply(PillState::thinking(), kVoice, seconds(12));
    EXPECT_EQ(pill.rollupAt, seconds(12.0));
    EXPECT_EQ(pill.rollupHistory, kVoice);
    EXPECT_EQ(pill.previous, PillState::listening());
    EXPECT_EQ(pill.stateAt, seconds(12.0));

    pill.apply(PillState::done(), kEmpty, seconds(13));
    EXPECT_EQ(pill.rollupAt, seconds(12.0)) << "the roll-up starts once per capturing stretch";
    EXPECT_EQ(pill.rollupHistory, kVoice);
    EXPECT_EQ(pill.previous, PillState::thinking());

    // A failure straight from a live take rolls up too.
    PillLifecycle muted = liveListening();
    muted.apply(PillState::muted(QStringLiteral("No audio")), kVoice, seconds(12.5));
    EXPECT_EQ(muted.rollupAt, seconds(12.5));
}

TEST(PillLifecycleTest, ACaptureThatNeverWentLiveStartsNoRollUp)
{
    PillLifecycle pill;
    pill.apply(PillState::listening(), kEmpty, seconds(10));
    pill.apply(PillState::thinking(), kVoice, seconds(12));
    EXPECT_FALSE(pill.rollupAt);
    EXPECT_EQ(pill.rollupHistory, kEmpty);
}

TEST(PillLifecycleTest, TheCaptureEndingWhileListeningStartsTheRollUp)
{
    PillLifecycle pill = liveListening();
    pill.noteCapture(false, kVoice, seconds(14));
    EXPECT_FALSE(pill.captureLive);
    EXPECT_TRUE(pill.captureWasLive);
    EXPECT_EQ(pill.captureAt, seconds(14.0));
    EXPECT_EQ(pill.rollupAt, seconds(14.0));
    EXPECT_EQ(pill.rollupHistory, kVoice);

    pill.apply(PillState::thinking(), kEmpty, seconds(15));
    EXPECT_EQ(pill.rollupAt, seconds(14.0));
    EXPECT_EQ(pill.rollupHistory, kVoice);

    // Live again within the same stretch clears the roll-up.
    PillLifecycle again = liveListening();
    again.noteCapture(false, kVoice, seconds(14));
    again.noteCapture(true, kEmpty, seconds(14.5));
    EXPECT_FALSE(again.rollupAt);
    EXPECT_TRUE(again.captureLive);
}

TEST(PillLifecycleTest, CaptureReportsOutsideCapturingOrRepeatedAreIgnored)
{
    PillLifecycle pill = liveListening();
    pill.apply(PillState::thinking(), kVoice, seconds(12));
    const PillLifecycle before = pill;
    pill.noteCapture(false, kEmpty, seconds(13));
    pill.noteCapture(true, kEmpty, seconds(13.5));
    EXPECT_EQ(pill, before);

    PillLifecycle live = liveListening();
    const PillLifecycle liveBefore = live;
    live.noteCapture(true, kVoice, seconds(12));
    EXPECT_EQ(live, liveBefore) << "a repeated flag keeps the first captureAt";

    PillLifecycle off;
    off.noteCapture(true, kVoice, seconds(1));
    EXPECT_EQ(off, PillLifecycle());
}

TEST(PillLifecycleTest, ANewTakeBeforeTheHideClearsTheCapture)
{
    PillLifecycle pill = liveListening();
    pill.apply(PillState::thinking(), kVoice, seconds(12));
    pill.apply(PillState::done(), kEmpty, seconds(13));
    pill.apply(PillState::listening(), kEmpty, seconds(13.5));
    EXPECT_EQ(pill.shownAt, seconds(10.0));
    EXPECT_EQ(pill.previous, PillState::done());
    EXPECT_FALSE(pill.captureLive);
    EXPECT_FALSE(pill.captureWasLive);
    EXPECT_FALSE(pill.captureAt);
    EXPECT_FALSE(pill.rollupAt);
}

TEST(PillLifecycleTest, LockingKeepsTheCaptureOfTheStretch)
{
    PillLifecycle live = liveListening();
    live.apply(PillState::locked(), kVoice, seconds(12));
    EXPECT_TRUE(live.captureLive);
    EXPECT_TRUE(live.captureWasLive);
    EXPECT_EQ(live.captureAt, seconds(11.0));
    EXPECT_EQ(live.previous, PillState::listening());

    // Never live: a roll-up left over from a stopped capture cannot exist, but one is cleared anyway.
    PillLifecycle connecting;
    connecting.apply(PillState::listening(), kEmpty, seconds(10));
    connecting.rollupAt = seconds(10.5);
    connecting.apply(PillState::locked(), kEmpty, seconds(11));
    EXPECT_FALSE(connecting.rollupAt);
    EXPECT_FALSE(connecting.captureAt);
}

TEST(PillLifecycleTest, HidingStartsTheExitAndANewShowResetsIt)
{
    PillLifecycle pill = liveListening();
    pill.apply(PillState::hidden(), kVoice, seconds(20));
    EXPECT_EQ(pill.exitAt, seconds(20.0));
    EXPECT_EQ(pill.state, PillState::listening()) << "the fading pill still draws its last state";
    EXPECT_EQ(pill.stateAt, seconds(10.0));

    pill.apply(PillState::hidden(), kVoice, seconds(20.05));
    EXPECT_EQ(pill.exitAt, seconds(20.0)) << "the first exit stays";

    pill.apply(PillState::listening(), kEmpty, seconds(20.1));
    PillLifecycle fresh;
    fresh.apply(PillState::listening(), kEmpty, seconds(20.1));
    EXPECT_EQ(pill, fresh);

    PillLifecycle off;
    off.apply(PillState::hidden(), kVoice, seconds(5));
    EXPECT_EQ(off, PillLifecycle()) << "hiding a pill that is off changes nothing";
}

TEST(PillLifecycleTest, ReapplyingAStateRestartsItsTime)
{
    PillLifecycle pill = liveListening();
    pill.apply(PillState::listening(), kVoice, seconds(12));
    EXPECT_EQ(pill.stateAt, seconds(12.0));
    EXPECT_EQ(pill.previous, PillState::listening());
    EXPECT_TRUE(pill.captureLive);
    EXPECT_EQ(pill.captureAt, seconds(11.0));
}

TEST(PillLifecycleTest, MutedStatesCompareByTheirNotice)
{
    EXPECT_NE(PillState::muted(QStringLiteral("a")), PillState::muted(QStringLiteral("b")));
    EXPECT_EQ(PillState::muted(QStringLiteral("a")), PillState::muted(QStringLiteral("a")));

    PillLifecycle a;
    PillLifecycle b;
    a.apply(PillState::muted(QStringLiteral("a")), kEmpty, seconds(1));
    b.apply(PillState::muted(QStringLiteral("b")), kEmpty, seconds(1));
    EXPECT_NE(a, b);
}

TEST(PillLifecycleTest, PresenceFadesInAndOutOverTheEntryTime)
{
    PillLifecycle pill;
    EXPECT_EQ(pill.presence(seconds(0)), (PillLifecycle::Presence{0, 0.976, 8})) << "never shown";
    pill.apply(PillState::listening(), kEmpty, seconds(10));
    EXPECT_EQ(pill.presence(seconds(10)), (PillLifecycle::Presence{0, 0.976, 8}));
    const auto half = pill.presence(seconds(10.1));
    EXPECT_GT(half.opacity, 0.5) << "the curve front-loads its motion";
    EXPECT_LT(half.opacity, 1);
    EXPECT_NEAR(pill.presence(seconds(10.215)).opacity, 1, 1e-9);
    EXPECT_NEAR(pill.presence(seconds(10.215)).scale, 1, 1e-9);
    EXPECT_NEAR(pill.presence(seconds(10.215)).offset, 0, 1e-9);

    pill.apply(PillState::hidden(), kEmpty, seconds(20));
    EXPECT_NEAR(pill.presence(seconds(20)).opacity, 1, 1e-9);
    EXPECT_NEAR(pill.presence(seconds(20.215)).opacity, 0, 1e-9);
    EXPECT_NEAR(pill.presence(seconds(20.215)).scale, 0.805, 1e-9);
    EXPECT_EQ(pill.presence(seconds(20.3)).offset, 0);
}

TEST(PillLifecycleTest, WidthOpensWhenTheCaptureGoesLiveAndClosesOnTheRollUp)
{
    const ScriptedPillTake take;
    EXPECT_EQ(take.at(seconds(100.5)).pillWidth(false, seconds(100.5)), 36) << "connecting";
    EXPECT_EQ(take.at(seconds(101)).pillWidth(false, seconds(101)), 36);
    const double opening = take.at(seconds(101.2)).pillWidth(false, seconds(101.2));
    EXPECT_GT(opening, 36);
    EXPECT_LT(opening, 67);
    EXPECT_NEAR(take.at(seconds(101.45)).pillWidth(false, seconds(101.45)), 67, 1e-9);
    EXPECT_NEAR(take.at(seconds(102)).pillWidth(false, seconds(102)), 67, 1e-9);
    EXPECT_NEAR(take.at(seconds(103)).pillWidth(false, seconds(103)), 67, 1e-9) << "the roll-up starts wide";
    EXPECT_NEAR(take.at(seconds(103.45)).pillWidth(false, seconds(103.45)), 36, 1e-9);

    // Reduce motion jumps.
    EXPECT_EQ(take.at(seconds(101)).pillWidth(true, seconds(101)), 67);
    EXPECT_EQ(take.at(seconds(103)).pillWidth(true, seconds(103)), 36);

    // Without a capture time the opening counts from the state's time.
    PillLifecycle odd;
    odd.apply(PillState::listening(), kEmpty, seconds(10));
    odd.captureLive = true;
    EXPECT_NEAR(odd.pillWidth(false, seconds(10.45)), 67, 1e-9);
}

TEST(PillLifecycleTest, CaptureFadeFollowsTheWidth)
{
    const ScriptedPillTake take;
    EXPECT_EQ(take.at(seconds(100.5)).captureFade(false, seconds(100.5)), 0);
    EXPECT_EQ(take.at(seconds(101)).captureFade(false, seconds(101)), 0);
    EXPECT_NEAR(take.at(seconds(101.45)).captureFade(false, seconds(101.45)), 1, 1e-9);
    EXPECT_EQ(take.at(seconds(101)).captureFade(true, seconds(101)), 1);
    EXPECT_NEAR(take.at(seconds(103)).captureFade(false, seconds(103)), 1, 1e-9);
    EXPECT_NEAR(take.at(seconds(103.45)).captureFade(false, seconds(103.45)), 0, 1e-9);
    EXPECT_EQ(take.at(seconds(103)).captureFade(true, seconds(103)), 0) << "no roll-up with reduce motion";
}

TEST(PillLifecycleTest, TheMarkTurnsWhileThinkingAndMakesAQuarterTurnWhenDone)
{
    const ScriptedPillTake take;
    EXPECT_EQ(take.at(seconds(102)).markRotation(seconds(102)), 0);
    EXPECT_EQ(take.at(seconds(103.52)).markRotation(seconds(103.52)), 0);
    EXPECT_NEAR(take.at(seconds(104.52)).markRotation(seconds(104.52)), 100, 1e-9);
    // Done at 105: the angle reached (148°) plus an eased quarter turn over 0.9 s.
    EXPECT_NEAR(take.at(seconds(105)).markRotation(seconds(105)), 148, 1e-9);
    EXPECT_NEAR(take.at(seconds(105.9)).markRotation(seconds(105.9)), 238, 1e-9);
    EXPECT_NEAR(take.at(seconds(107)).markRotation(seconds(107)), 238, 1e-9);

    // Done with no capture at all: just the quarter turn.
    PillLifecycle quick;
    quick.apply(PillState::done(), kEmpty, seconds(10));
    EXPECT_EQ(quick.markRotation(seconds(10)), 0);
    EXPECT_NEAR(quick.markRotation(seconds(10.9)), 90, 1e-9);
}

TEST(PillLifecycleTest, FrozenBarsAreTheMetersHeightsWhenTheCaptureEnded)
{
    const ScriptedPillTake take;
    EXPECT_TRUE(take.at(seconds(102)).rollupFrom(18).empty());
    const std::vector<double> bars = take.at(seconds(103)).rollupFrom(18);
    ASSERT_EQ(bars.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        const double wobble = (std::sin(4.5 * 103 - 0.9 * i) * 0.5 + 0.5) * 0.55 + 0.45;
        EXPECT_NEAR(bars[static_cast<std::size_t>(i)],
                    0.19 + wobble * zq::ZepaMeter::kWeights[static_cast<std::size_t>(i)] * 0.81, 1e-9)
            << "bar " << i;
    }
}

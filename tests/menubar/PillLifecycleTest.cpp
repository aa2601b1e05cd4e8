#include "menubar/PillLifecycle.h"

#include "menubar/brand/ZepaMeter.h"
#include "support/ScriptedPillTake.h"

#include <gtest/gtest.h>

#include <cmath>

using zq::LevelHistory;
using zq::PillLifecycle;
using zq::PillState;
using zq::test::ScriptedPillTake;

namespace {

LevelHistory historyOf(std::initializer_list<std::pair<double, double>> samples)
{
    LevelHistory history;
    for (const auto &[t, level] : samples)
        history.append(t, level);
    return history;
}

const LevelHistory kEmpty;
const LevelHistory kVoice = historyOf({{11.0, 0.2}, {11.5, 0.8}, {12.0, 0.5}});

// Shown as listening at 10 with the capture live at 11.
PillLifecycle liveListening()
{
    PillLifecycle pill;
    pill.apply(PillState::listening(), kEmpty, 10);
    pill.noteCapture(true, kEmpty, 11);
    return pill;
}

} // namespace

TEST(PillLifecycleTest, FirstShowRecordsTheEntryAndClearsTheCapture)
{
    PillLifecycle pill;
    pill.apply(PillState::listening(), kVoice, 10);
    EXPECT_EQ(pill.shownAt, 10.0);
    EXPECT_EQ(pill.previous, PillState::listening());
    EXPECT_EQ(pill.state, PillState::listening());
    EXPECT_EQ(pill.stateAt, 10.0);
    EXPECT_FALSE(pill.captureLive);
    EXPECT_FALSE(pill.captureWasLive);
    EXPECT_FALSE(pill.captureAt);
    EXPECT_FALSE(pill.rollupAt);
    EXPECT_EQ(pill.rollupHistory, kEmpty) << "a history is kept only when a roll-up starts";
}

TEST(PillLifecycleTest, LeavingALiveCaptureStartsOneRollUp)
{
    PillLifecycle pill = liveListening();
    pill.apply(PillState::thinking(), kVoice, 12);
    EXPECT_EQ(pill.rollupAt, 12.0);
    EXPECT_EQ(pill.rollupHistory, kVoice);
    EXPECT_EQ(pill.previous, PillState::listening());
    EXPECT_EQ(pill.stateAt, 12.0);

    pill.apply(PillState::done(), kEmpty, 13);
    EXPECT_EQ(pill.rollupAt, 12.0) << "the roll-up starts once per capturing stretch";
    EXPECT_EQ(pill.rollupHistory, kVoice);
    EXPECT_EQ(pill.previous, PillState::thinking());

    // A failure straight from a live take rolls up too.
    PillLifecycle muted = liveListening();
    muted.apply(PillState::muted(QStringLiteral("No audio")), kVoice, 12.5);
    EXPECT_EQ(muted.rollupAt, 12.5);
}

TEST(PillLifecycleTest, ACaptureThatNeverWentLiveStartsNoRollUp)
{
    PillLifecycle pill;
    pill.apply(PillState::listening(), kEmpty, 10);
    pill.apply(PillState::thinking(), kVoice, 12);
    EXPECT_FALSE(pill.rollupAt);
    EXPECT_EQ(pill.rollupHistory, kEmpty);
}

TEST(PillLifecycleTest, TheCaptureEndingWhileListeningStartsTheRollUp)
{
    PillLifecycle pill = liveListening();
    pill.noteCapture(false, kVoice, 14);
    EXPECT_FALSE(pill.captureLive);
    EXPECT_TRUE(pill.captureWasLive);
    EXPECT_EQ(pill.captureAt, 14.0);
    EXPECT_EQ(pill.rollupAt, 14.0);
    EXPECT_EQ(pill.rollupHistory, kVoice);

    pill.apply(PillState::thinking(), kEmpty, 15);
    EXPECT_EQ(pill.rollupAt, 14.0);
    EXPECT_EQ(pill.rollupHistory, kVoice);

    // Live again within the same stretch clears the roll-up.
    PillLifecycle again = liveListening();
    again.noteCapture(false, kVoice, 14);
    again.noteCapture(true, kEmpty, 14.5);
    EXPECT_FALSE(again.rollupAt);
    EXPECT_TRUE(again.captureLive);
}

TEST(PillLifecycleTest, CaptureReportsOutsideCapturingOrRepeatedAreIgnored)
{
    PillLifecycle pill = liveListening();
    pill.apply(PillState::thinking(), kVoice, 12);
    const PillLifecycle before = pill;
    pill.noteCapture(false, kEmpty, 13);
    pill.noteCapture(true, kEmpty, 13.5);
    EXPECT_EQ(pill, before);

    PillLifecycle live = liveListening();
    const PillLifecycle liveBefore = live;
    live.noteCapture(true, kVoice, 12);
    EXPECT_EQ(live, liveBefore) << "a repeated flag keeps the first captureAt";

    PillLifecycle off;
    off.noteCapture(true, kVoice, 1);
    EXPECT_EQ(off, PillLifecycle());
}

TEST(PillLifecycleTest, ANewTakeBeforeTheHideClearsTheCapture)
{
    PillLifecycle pill = liveListening();
    pill.apply(PillState::thinking(), kVoice, 12);
    pill.apply(PillState::done(), kEmpty, 13);
    pill.apply(PillState::listening(), kEmpty, 13.5);
    EXPECT_EQ(pill.shownAt, 10.0);
    EXPECT_EQ(pill.previous, PillState::done());
    EXPECT_FALSE(pill.captureLive);
    EXPECT_FALSE(pill.captureWasLive);
    EXPECT_FALSE(pill.captureAt);
    EXPECT_FALSE(pill.rollupAt);
}

TEST(PillLifecycleTest, LockingKeepsTheCaptureOfTheStretch)
{
    PillLifecycle live = liveListening();
    live.apply(PillState::locked(), kVoice, 12);
    EXPECT_TRUE(live.captureLive);
    EXPECT_TRUE(live.captureWasLive);
    EXPECT_EQ(live.captureAt, 11.0);
    EXPECT_EQ(live.previous, PillState::listening());

    // Never live: a roll-up left over from a stopped capture cannot exist, but one is cleared anyway.
    PillLifecycle connecting;
    connecting.apply(PillState::listening(), kEmpty, 10);
    connecting.rollupAt = 10.5;
    connecting.apply(PillState::locked(), kEmpty, 11);
    EXPECT_FALSE(connecting.rollupAt);
    EXPECT_FALSE(connecting.captureAt);
}

TEST(PillLifecycleTest, HidingStartsTheExitAndANewShowResetsIt)
{
    PillLifecycle pill = liveListening();
    pill.apply(PillState::hidden(), kVoice, 20);
    EXPECT_EQ(pill.exitAt, 20.0);
    EXPECT_EQ(pill.state, PillState::listening()) << "the fading pill still draws its last state";
    EXPECT_EQ(pill.stateAt, 10.0);

    pill.apply(PillState::hidden(), kVoice, 20.05);
    EXPECT_EQ(pill.exitAt, 20.0) << "the first exit stays";

    pill.apply(PillState::listening(), kEmpty, 20.1);
    PillLifecycle fresh;
    fresh.apply(PillState::listening(), kEmpty, 20.1);
    EXPECT_EQ(pill, fresh);

    PillLifecycle off;
    off.apply(PillState::hidden(), kVoice, 5);
    EXPECT_EQ(off, PillLifecycle()) << "hiding a pill that is off changes nothing";
}

TEST(PillLifecycleTest, ReapplyingAStateRestartsItsTime)
{
    PillLifecycle pill = liveListening();
    pill.apply(PillState::listening(), kVoice, 12);
    EXPECT_EQ(pill.stateAt, 12.0);
    EXPECT_EQ(pill.previous, PillState::listening());
    EXPECT_TRUE(pill.captureLive);
    EXPECT_EQ(pill.captureAt, 11.0);
}

TEST(PillLifecycleTest, MutedStatesCompareByTheirNotice)
{
    EXPECT_NE(PillState::muted(QStringLiteral("a")), PillState::muted(QStringLiteral("b")));
    EXPECT_EQ(PillState::muted(QStringLiteral("a")), PillState::muted(QStringLiteral("a")));

    PillLifecycle a;
    PillLifecycle b;
    a.apply(PillState::muted(QStringLiteral("a")), kEmpty, 1);
    b.apply(PillState::muted(QStringLiteral("b")), kEmpty, 1);
    EXPECT_NE(a, b);
}

TEST(PillLifecycleTest, PresenceFadesInAndOutOverTheEntryTime)
{
    PillLifecycle pill;
    EXPECT_EQ(pill.presence(0), (PillLifecycle::Presence{0, 0.976, 8})) << "never shown";
    pill.apply(PillState::listening(), kEmpty, 10);
    EXPECT_EQ(pill.presence(10), (PillLifecycle::Presence{0, 0.976, 8}));
    const auto half = pill.presence(10.1);
    EXPECT_GT(half.opacity, 0.5) << "the curve front-loads its motion";
    EXPECT_LT(half.opacity, 1);
    EXPECT_NEAR(pill.presence(10.215).opacity, 1, 1e-9);
    EXPECT_NEAR(pill.presence(10.215).scale, 1, 1e-9);
    EXPECT_NEAR(pill.presence(10.215).offset, 0, 1e-9);

    pill.apply(PillState::hidden(), kEmpty, 20);
    EXPECT_NEAR(pill.presence(20).opacity, 1, 1e-9);
    EXPECT_NEAR(pill.presence(20.215).opacity, 0, 1e-9);
    EXPECT_NEAR(pill.presence(20.215).scale, 0.805, 1e-9);
    EXPECT_EQ(pill.presence(20.3).offset, 0);
}

TEST(PillLifecycleTest, WidthOpensWhenTheCaptureGoesLiveAndClosesOnTheRollUp)
{
    const ScriptedPillTake take;
    EXPECT_EQ(take.at(100.5).pillWidth(false, 100.5), 36) << "connecting";
    EXPECT_EQ(take.at(101).pillWidth(false, 101), 36);
    const double opening = take.at(101.2).pillWidth(false, 101.2);
    EXPECT_GT(opening, 36);
    EXPECT_LT(opening, 67);
    EXPECT_NEAR(take.at(101.45).pillWidth(false, 101.45), 67, 1e-9);
    EXPECT_NEAR(take.at(102).pillWidth(false, 102), 67, 1e-9);
    EXPECT_NEAR(take.at(103).pillWidth(false, 103), 67, 1e-9) << "the roll-up starts wide";
    EXPECT_NEAR(take.at(103.45).pillWidth(false, 103.45), 36, 1e-9);

    // Reduce motion jumps.
    EXPECT_EQ(take.at(101).pillWidth(true, 101), 67);
    EXPECT_EQ(take.at(103).pillWidth(true, 103), 36);

    // Without a capture time the opening counts from the state's time.
    PillLifecycle odd;
    odd.apply(PillState::listening(), kEmpty, 10);
    odd.captureLive = true;
    EXPECT_NEAR(odd.pillWidth(false, 10.45), 67, 1e-9);
}

TEST(PillLifecycleTest, CaptureFadeFollowsTheWidth)
{
    const ScriptedPillTake take;
    EXPECT_EQ(take.at(100.5).captureFade(false, 100.5), 0);
    EXPECT_EQ(take.at(101).captureFade(false, 101), 0);
    EXPECT_NEAR(take.at(101.45).captureFade(false, 101.45), 1, 1e-9);
    EXPECT_EQ(take.at(101).captureFade(true, 101), 1);
    EXPECT_NEAR(take.at(103).captureFade(false, 103), 1, 1e-9);
    EXPECT_NEAR(take.at(103.45).captureFade(false, 103.45), 0, 1e-9);
    EXPECT_EQ(take.at(103).captureFade(true, 103), 0) << "no roll-up with reduce motion";
}

TEST(PillLifecycleTest, TheMarkTurnsWhileThinkingAndMakesAQuarterTurnWhenDone)
{
    const ScriptedPillTake take;
    EXPECT_EQ(take.at(102).markRotation(102), 0);
    EXPECT_EQ(take.at(103.52).markRotation(103.52), 0);
    EXPECT_NEAR(take.at(104.52).markRotation(104.52), 100, 1e-9);
    // Done at 105: the angle reached (148°) plus an eased quarter turn over 0.9 s.
    EXPECT_NEAR(take.at(105).markRotation(105), 148, 1e-9);
    EXPECT_NEAR(take.at(105.9).markRotation(105.9), 238, 1e-9);
    EXPECT_NEAR(take.at(107).markRotation(107), 238, 1e-9);

    // Done with no capture at all: just the quarter turn.
    PillLifecycle quick;
    quick.apply(PillState::done(), kEmpty, 10);
    EXPECT_EQ(quick.markRotation(10), 0);
    EXPECT_NEAR(quick.markRotation(10.9), 90, 1e-9);
}

TEST(PillLifecycleTest, FrozenBarsAreTheMetersHeightsWhenTheCaptureEnded)
{
    const ScriptedPillTake take;
    EXPECT_TRUE(take.at(102).rollupFrom(18).empty());
    const std::vector<double> bars = take.at(103).rollupFrom(18);
    ASSERT_EQ(bars.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        const double wobble = (std::sin(4.5 * 103 - 0.9 * i) * 0.5 + 0.5) * 0.55 + 0.45;
        EXPECT_NEAR(bars[static_cast<std::size_t>(i)],
                    0.19 + wobble * zq::ZepaMeter::kWeights[static_cast<std::size_t>(i)] * 0.81, 1e-9)
            << "bar " << i;
    }
}

#include "menubar/PillLifecycle.h"

#include <gtest/gtest.h>

using zq::LevelHistory;
using zq::PillLifecycle;
using zq::PillState;

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

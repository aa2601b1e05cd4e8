#include "pipeline/TakePhase.h"
#include "pipeline/TakeStartIntent.h"

#include <gtest/gtest.h>

#include <optional>

using zq::TakeLifecycleEvent;
using zq::TakePhase;

namespace {

struct Row {
    TakePhase from;
    TakeLifecycleEvent event;
    std::optional<TakePhase> to; // none: an illegal move
};

const TakePhase idle = TakePhase::idle();
const TakePhase starting = TakePhase::starting();
const TakePhase liveQuiet = TakePhase::live(false);
const TakePhase liveCapturing = TakePhase::live(true);
const TakePhase graceIdle = TakePhase::graceIdle();
const std::optional<TakePhase> illegal;

// Every phase against every event, startEnded with both values of sessionWarm.
const Row kTable[] = {
    {idle, TakeLifecycleEvent::startClaimed(), starting},
    {idle, TakeLifecycleEvent::startEnded(false), illegal},
    {idle, TakeLifecycleEvent::startEnded(true), illegal},
    {idle, TakeLifecycleEvent::takeBegan(), illegal},
    {idle, TakeLifecycleEvent::captureProved(), idle},
    {idle, TakeLifecycleEvent::takeEnded(), idle},
    {idle, TakeLifecycleEvent::sessionReleased(), idle},

    {starting, TakeLifecycleEvent::startClaimed(), illegal},
    {starting, TakeLifecycleEvent::startEnded(false), idle},
    {starting, TakeLifecycleEvent::startEnded(true), graceIdle},
    {starting, TakeLifecycleEvent::takeBegan(), liveQuiet},
    {starting, TakeLifecycleEvent::captureProved(), starting},
    {starting, TakeLifecycleEvent::takeEnded(), starting},
    {starting, TakeLifecycleEvent::sessionReleased(), starting},

    {liveQuiet, TakeLifecycleEvent::startClaimed(), illegal},
    {liveQuiet, TakeLifecycleEvent::startEnded(false), liveQuiet},
    {liveQuiet, TakeLifecycleEvent::startEnded(true), liveQuiet},
    {liveQuiet, TakeLifecycleEvent::takeBegan(), illegal},
    {liveQuiet, TakeLifecycleEvent::captureProved(), liveCapturing},
    {liveQuiet, TakeLifecycleEvent::takeEnded(), graceIdle},
    {liveQuiet, TakeLifecycleEvent::sessionReleased(), liveQuiet},

    {liveCapturing, TakeLifecycleEvent::startClaimed(), illegal},
    {liveCapturing, TakeLifecycleEvent::startEnded(false), liveCapturing},
    {liveCapturing, TakeLifecycleEvent::startEnded(true), liveCapturing},
    {liveCapturing, TakeLifecycleEvent::takeBegan(), illegal},
    {liveCapturing, TakeLifecycleEvent::captureProved(), liveCapturing},
    {liveCapturing, TakeLifecycleEvent::takeEnded(), graceIdle},
    {liveCapturing, TakeLifecycleEvent::sessionReleased(), liveCapturing},

    {graceIdle, TakeLifecycleEvent::startClaimed(), starting},
    {graceIdle, TakeLifecycleEvent::startEnded(false), illegal},
    {graceIdle, TakeLifecycleEvent::startEnded(true), illegal},
    {graceIdle, TakeLifecycleEvent::takeBegan(), illegal},
    {graceIdle, TakeLifecycleEvent::captureProved(), graceIdle},
    {graceIdle, TakeLifecycleEvent::takeEnded(), graceIdle},
    {graceIdle, TakeLifecycleEvent::sessionReleased(), idle},
};

std::string text(const std::optional<TakePhase> &phase)
{
    return phase ? phase->description().toStdString() : std::string("illegal");
}

} // namespace

TEST(TakePhaseTest, TheWholeTransitionTable)
{
    static_assert(std::size(kTable) == 5 * 7);
    for (const Row &row : kTable) {
        const auto result = row.from.applying(row.event);
        EXPECT_EQ(result, row.to) << row.event.description().toStdString() << " from "
                                  << row.from.description().toStdString() << ": got " << text(result) << ", expected "
                                  << text(row.to);
    }
}

TEST(TakePhaseTest, OnlyALiveCapturingPhaseCountsAsCaptureLive)
{
    EXPECT_TRUE(liveCapturing.isLiveAndCapturing());
    for (const TakePhase &phase : {idle, starting, liveQuiet, graceIdle})
        EXPECT_FALSE(phase.isLiveAndCapturing()) << phase.description().toStdString();
    EXPECT_NE(liveQuiet, liveCapturing);
}

TEST(TakePhaseTest, DescriptionsNameTheCaseAndItsPayload)
{
    EXPECT_EQ(liveQuiet.description(), "live(capturing: false)");
    EXPECT_EQ(graceIdle.description(), "graceIdle");
    EXPECT_EQ(TakeLifecycleEvent::startEnded(true).description(), "startEnded(sessionWarm: true)");
    EXPECT_EQ(TakeLifecycleEvent::sessionReleased().description(), "sessionReleased");
}

TEST(TakeStartIntentTest, WithdrawAndConsumeDecideTheTakeOnce)
{
    zq::TakeStartIntent early;
    early.withdraw();
    EXPECT_FALSE(early.consume()) << "a withdrawn intent keeps the session warm without a take";

    zq::TakeStartIntent late;
    EXPECT_TRUE(late.isActive());
    EXPECT_TRUE(late.consume());
    late.withdraw(); // the user finished after the take began: nothing changes
    EXPECT_FALSE(late.isActive());
    EXPECT_FALSE(late.consume()) << "an intent is consumed at most once";
}

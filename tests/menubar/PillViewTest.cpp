#include "menubar/PillView.h"

#include "pipeline/Colorway.h"
#include "support/ScriptedPillTake.h"

#include <gtest/gtest.h>

using zq::Colorway;
using zq::LevelHistory;
using zq::Palette;
using zq::PillLifecycle;
using zq::PillState;
using zq::PillTone;
using zq::PillView;
using zq::rt::seconds;
using zq::test::ScriptedPillTake;

namespace {

const LevelHistory kEmpty;

} // namespace

TEST(PillViewFunctionsTest, TheToneSwitchesToThinkingAfterTheRollUp)
{
    const ScriptedPillTake take;
    EXPECT_EQ(PillView::tone(take.at(seconds(100)), seconds(100)), PillTone::listening);
    EXPECT_EQ(PillView::tone(take.at(seconds(103)), seconds(103)), PillTone::rollingUp);
    EXPECT_EQ(PillView::tone(take.at(seconds(103.519)), seconds(103.519)), PillTone::rollingUp);
    EXPECT_EQ(PillView::tone(take.at(seconds(103.52)), seconds(103.52)), PillTone::thinking);
    EXPECT_EQ(PillView::tone(take.at(seconds(105)), seconds(105)), PillTone::done);

    PillLifecycle noRollup;
    noRollup.apply(PillState::thinking(), kEmpty, seconds(1));
    EXPECT_EQ(PillView::tone(noRollup, seconds(1)), PillTone::thinking) << "grey at once without a roll-up";
    PillLifecycle locked;
    locked.apply(PillState::locked(), kEmpty, seconds(1));
    EXPECT_EQ(PillView::tone(locked, seconds(1)), PillTone::locked);
    PillLifecycle muted;
    muted.apply(PillState::muted(QStringLiteral("x")), kEmpty, seconds(1));
    EXPECT_EQ(PillView::tone(muted, seconds(1)), PillTone::muted);
}

TEST(PillViewFunctionsTest, TintsForEveryToneAndColorway)
{
    const PillTone tones[] = {PillTone::listening, PillTone::locked, PillTone::rollingUp,
                              PillTone::thinking,  PillTone::done,   PillTone::muted};
    for (const Colorway colorway : zq::kAllColorways) {
        for (const PillTone tone : tones) {
            const Palette::Token tint = PillView::tint(tone, colorway);
            const Palette::Token border = PillView::secondaryTint(tone, colorway);
            SCOPED_TRACE(zq::rawValue(colorway).toStdString() + " tone " + std::to_string(static_cast<int>(tone)));
            if (tone == PillTone::thinking) {
                EXPECT_EQ(tint, Palette::textSecondary);
            } else if (tone == PillTone::muted) {
                EXPECT_EQ(tint, Palette::danger);
            } else if (colorway != Colorway::consensusMint) {
                EXPECT_EQ(tint, zq::colorwayAccent(colorway));
            }
            if (tone == PillTone::muted) {
                EXPECT_EQ(border, Palette::danger);
            } else if (tone == PillTone::locked) {
                EXPECT_EQ(border, colorway == Colorway::consensusMint ? Palette::focus : zq::colorwayAccent(colorway));
            } else {
                EXPECT_EQ(border, Palette::hairline);
            }
        }
    }
    const Colorway mint = Colorway::consensusMint;
    EXPECT_EQ(PillView::tint(PillTone::listening, mint), Palette::idleAccent);
    EXPECT_EQ(PillView::tint(PillTone::locked, mint), Palette::accent);
    EXPECT_EQ(PillView::tint(PillTone::rollingUp, mint), Palette::accent);
    EXPECT_EQ(PillView::tint(PillTone::done, mint), Palette::success);
    EXPECT_EQ(PillView::tint(PillTone::done, Colorway::signalPurple), Palette::signalPurpleAccent);
    EXPECT_EQ(PillView::tint(PillTone::listening, Colorway::systemGray), Palette::systemGrayAccent);
    EXPECT_EQ(PillView::tint(PillTone::listening, Colorway::deepOrbit), Palette::darkColorwayAccent);

    EXPECT_EQ(PillView::fill(mint), Palette::surfaceRaised);
    EXPECT_EQ(PillView::fill(Colorway::signalPurple), Palette::surfaceRaised);
    EXPECT_EQ(PillView::fill(Colorway::systemGray), Palette::surfaceRaised);
    EXPECT_EQ(PillView::fill(Colorway::agentTeal), Palette::agentTealBackground);
    EXPECT_EQ(PillView::fill(Colorway::deepOrbit), Palette::deepOrbitBackground);
    EXPECT_EQ(PillView::fill(Colorway::monochrome), Palette::monochromeBackground);
}

TEST(PillViewFunctionsTest, StatusTextNamesWhatThePillShows)
{
    const ScriptedPillTake take;
    EXPECT_EQ(PillView::statusText(PillLifecycle()), QStringLiteral("Connecting"));
    EXPECT_EQ(PillView::statusText(take.at(seconds(100))), QStringLiteral("Connecting"));
    EXPECT_EQ(PillView::statusText(take.at(seconds(101))), QStringLiteral("Listening"));
    EXPECT_EQ(PillView::statusText(take.at(seconds(103))), QStringLiteral("Cleaning up"));
    EXPECT_EQ(PillView::statusText(take.at(seconds(105))), QStringLiteral("Inserted"));

    PillLifecycle locked = take.at(seconds(102));
    locked.apply(PillState::locked(), kEmpty, seconds(102));
    EXPECT_EQ(PillView::statusText(locked), QStringLiteral("Listening, session locked"));
    locked.noteCapture(false, kEmpty, seconds(102.5));
    EXPECT_EQ(PillView::statusText(locked), QStringLiteral("Cleaning up"));

    PillLifecycle muted;
    muted.apply(PillState::muted(QStringLiteral("No audio. Check the microphone.")), kEmpty, seconds(1));
    EXPECT_EQ(PillView::statusText(muted), QStringLiteral("No audio. Check the microphone."));
}

// What the first-run window says and allows, from the session's checks and the trigger settings.
#include "window/onboarding/OnboardingModel.h"
#include "pipeline/SettingsDefaults.h"
#include "runtime/Settings.h"
#include "support/FakePermissionProbe.h"
#include "support/VirtualLoop.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <memory>
#include <thread>

using namespace std::chrono_literals;
using zq::OnboardingContent;
using zq::OnboardingModel;
using zq::test::FakePermissionProbe;

namespace {

const QString kConflict =
    QStringLiteral("Add a secondary trigger, choose another key, or map Fn in your keyboard settings.");

class OnboardingModelTest : public ::testing::Test {
protected:
    OnboardingModelTest() { zq::registerDefaults(settings); }

    OnboardingModel &make()
    {
        model = std::make_unique<OnboardingModel>(
            settings, probe, loop, [this] { doneCalls.push_back(settings.boolValue(QStringLiteral("onboarded"))); });
        return *model;
    }
    void setTrigger(const QString &primary, const QString &secondary = {})
    {
        settings.setValue(QStringLiteral("triggerKey"), primary);
        settings.setValue(QStringLiteral("secondaryTriggerKey"), secondary);
    }

    zq::test::VirtualLoop loop;
    zq::rt::Settings settings{QString()};
    FakePermissionProbe probe;
    std::unique_ptr<OnboardingModel> model;
    std::vector<bool> doneCalls;
};

TEST_F(OnboardingModelTest, TheFnKeyConflictsOnlyWhenItIsTheTriggerDoesNotReachTheDesktopAndNothingElseIsSet)
{
    probe.keyboard = FakePermissionProbe::keyboardWithFn(false);
    // A stored primary that does not decode stands for Fn, and so does malformed secondary text for none.
    for (const auto &[primary, secondary] :
         std::vector<std::pair<QString, QString>>{{QStringLiteral("fn"), {}},
                                                  {QStringLiteral("not-a-key"), {}},
                                                  {QStringLiteral("fn"), QStringLiteral("shortcut:x")}}) {
        setTrigger(primary, secondary);
        OnboardingModel &onboarding = make();
        const OnboardingContent content = onboarding.content();
        EXPECT_TRUE(onboarding.globeConflict()) << primary.toStdString() << " " << secondary.toStdString();
        EXPECT_FALSE(content.triggerUsable);
        EXPECT_EQ(content.triggerDetail, kConflict);
        EXPECT_TRUE(content.showsKeyboardSettings);
    }

    // The hint names only what can start a take: Fn that never arrives is left out.
    setTrigger(QStringLiteral("fn"), QStringLiteral("mouse:2"));
    EXPECT_FALSE(make().globeConflict());
    EXPECT_EQ(model->triggerDetail(), QStringLiteral("Hold Mouse Button 3 to talk; tap it to lock."));
    EXPECT_FALSE(model->content().showsKeyboardSettings);
    setTrigger(QStringLiteral("right-control"), QStringLiteral("mouse:2"));
    EXPECT_EQ(make().triggerDetail(), QStringLiteral("Use Right Control or Mouse Button 3 to talk."));

    for (const QString &other : {QStringLiteral("right-option"), QStringLiteral("f8"), QStringLiteral("mouse:4"),
                                 QStringLiteral("key:49:Space")}) {
        setTrigger(other);
        EXPECT_FALSE(make().globeConflict()) << other.toStdString();
        EXPECT_TRUE(model->content().triggerUsable);
    }
    setTrigger(QStringLiteral("right-option"));
    EXPECT_EQ(make().triggerDetail(), QStringLiteral("Hold Right Alt to talk; tap it to lock."));

    probe.keyboard = FakePermissionProbe::keyboardWithFn(true);
    setTrigger(QStringLiteral("fn"));
    EXPECT_FALSE(make().globeConflict());
    EXPECT_EQ(model->triggerDetail(), QStringLiteral("Hold Fn to talk; tap it to lock."));

    // Without an X display there is no keyboard map: Fn cannot be seen.
    probe.keyboard.reset();
    EXPECT_TRUE(make().globeConflict());
}

TEST_F(OnboardingModelTest, AFreshProfileOnAKeyboardWithoutFnShowsTheDefaultKeyAsAWorkingTrigger)
{
    // What the application registers at start on such a keyboard; nothing is stored.
    probe.keyboard = FakePermissionProbe::keyboardWithFn(false);
    zq::registerDefaults(settings, zq::TriggerKey::rightControl);
    const OnboardingContent content = make().content();
    EXPECT_TRUE(content.triggerUsable);
    EXPECT_EQ(content.triggerDetail, QStringLiteral("Hold Right Control to talk; tap it to lock."));
    EXPECT_FALSE(content.showsKeyboardSettings);
    EXPECT_FALSE(settings.hasUserValue(QStringLiteral("triggerKey")));
}

TEST_F(OnboardingModelTest, TheKeyboardSettingsButtonNeedsBothTheConflictAndADesktopThatHasSuchSettings)
{
    probe.keyboard = FakePermissionProbe::keyboardWithFn(false);
    probe.keyboardSettingsInstalled = false;
    EXPECT_FALSE(make().content().showsKeyboardSettings);
    EXPECT_TRUE(model->globeConflict());

    probe.keyboardSettingsInstalled = true;
    model->refreshPermissions();
    EXPECT_TRUE(model->content().showsKeyboardSettings);
    model->openKeyboardSettings();
    EXPECT_EQ(probe.keyboardSettingsOpened, 1);
}

TEST_F(OnboardingModelTest, EachRowSaysWhatItIsForAndOffersItsButtonOnlyWhileMissing)
{
    probe.microphone = false;
    probe.input = {false, {}};
    probe.accessibilityCheck = {false, {}};
    OnboardingContent content = make().content();
    const auto &mic = content.rows[OnboardingContent::microphone];
    EXPECT_EQ(mic.title, QStringLiteral("Microphone"));
    EXPECT_EQ(mic.detail, QStringLiteral("To hear your voice."));
    EXPECT_EQ(mic.buttonLabel, QStringLiteral("Grant"));
    const auto &input = content.rows[OnboardingContent::inputMonitoring];
    EXPECT_EQ(input.title, QStringLiteral("Input Monitoring"));
    EXPECT_EQ(input.detail, QStringLiteral("To notice when you hold your trigger."));
    EXPECT_EQ(input.buttonLabel, QStringLiteral("Grant"));
    const auto &ax = content.rows[OnboardingContent::accessibility];
    EXPECT_EQ(ax.title, QStringLiteral("Accessibility"));
    EXPECT_EQ(ax.detail, QStringLiteral("To paste text into your apps."));
    EXPECT_EQ(ax.buttonLabel, QStringLiteral("Open Settings"));

    // A session that cannot give a check says why instead of offering a button that cannot help.
    const QString why = QStringLiteral("This is a Wayland session: global keys need X11.");
    probe.microphone = true;
    probe.input = {false, why};
    model->refreshPermissions();
    content = model->content();
    EXPECT_TRUE(content.rows[OnboardingContent::microphone].granted);
    EXPECT_TRUE(content.rows[OnboardingContent::microphone].buttonLabel.isEmpty());
    EXPECT_EQ(content.rows[OnboardingContent::inputMonitoring].detail, why);
    EXPECT_TRUE(content.rows[OnboardingContent::inputMonitoring].buttonLabel.isEmpty());
    EXPECT_FALSE(content.rows[OnboardingContent::inputMonitoring].granted);
}

TEST_F(OnboardingModelTest, DoneNeedsAllThreeChecksButNotTheTriggerAndStoresOnboardedBeforeHandingBack)
{
    probe.keyboard = FakePermissionProbe::keyboardWithFn(false);
    struct Case {
        bool mic, input, ax;
    };
    for (const Case c : {Case{false, true, true}, Case{true, false, true}, Case{true, true, false}}) {
        probe.microphone = c.mic;
        probe.input = {c.input, {}};
        probe.accessibilityCheck = {c.ax, {}};
        make();
        EXPECT_FALSE(model->content().doneEnabled);
    }
    probe.accessibilityCheck = {true, {}};
    model->refreshPermissions();
    ASSERT_TRUE(model->content().doneEnabled);
    EXPECT_TRUE(model->globeConflict()) << "Done is enabled even while the trigger conflicts";
    model->finish();
    EXPECT_EQ(doneCalls, std::vector<bool>{true});
}

TEST_F(OnboardingModelTest, ChecksArePolledEveryOneAndAHalfSecondsOnlyWhileShown)
{
    probe.accessibilityCheck = {false, {}};
    make();
    QSignalSpy changes(model.get(), &OnboardingModel::changed);
    loop.advance(10s);
    EXPECT_EQ(changes.count(), 0);
    model->setShown(true);
    probe.accessibilityCheck = {true, {}};
    loop.advance(1500ms - 1ns);
    EXPECT_FALSE(model->axGranted());
    loop.advance(1ns);
    EXPECT_TRUE(model->axGranted());
    EXPECT_EQ(changes.count(), 1);
    const int checks = probe.checks;
    loop.advance(3s);
    EXPECT_EQ(probe.checks, checks + 2);
    EXPECT_EQ(changes.count(), 1) << "an unchanged check redraws nothing";

    model->setShown(false);
    probe.accessibilityCheck = {false, {}};
    loop.advance(10s);
    EXPECT_TRUE(model->axGranted());
    EXPECT_EQ(loop.pendingCount(), 0);
    model->refreshPermissions(); // "Re-check"
    EXPECT_FALSE(model->axGranted());
}

TEST_F(OnboardingModelTest, TheMicrophoneAnswerTouchesOnlyTheMicrophoneAndArrivesFromAnyThread)
{
    probe.microphone = false;
    probe.input = {false, {}};
    make();
    model->requestMicrophone();
    ASSERT_EQ(probe.pendingMicrophoneRequests(), 1u);
    probe.input = {true, {}};
    std::thread answer([this] { probe.answerMicrophone(true); });
    answer.join();
    EXPECT_FALSE(model->micGranted()) << "the answer reaches the state on the main loop";
    ASSERT_TRUE(loop.runUntil([this] { return model->micGranted(); }));
    EXPECT_FALSE(model->inputGranted()) << "the other rows wait for the next check";

    // An answer that comes after the window is gone is dropped.
    model->requestMicrophone();
    model.reset();
    probe.answerMicrophone(false);
    loop.runUntilIdle();
}

TEST_F(OnboardingModelTest, InputMonitoringLooksAgainAfterTwoSecondsAndOpensItsSettingsOnlyWhenStillMissing)
{
    probe.input = {false, {}};
    make();
    model->requestInputMonitoring();
    EXPECT_EQ(probe.keyListeningRequests, 1);
    loop.advance(1900ms);
    probe.input = {true, {}};
    loop.advance(100ms);
    EXPECT_EQ(probe.inputSettingsOpened, 0) << "granted within 2 s: nothing opens";

    probe.input = {false, {}};
    model->requestInputMonitoring();
    loop.advance(2s - 1ns);
    EXPECT_EQ(probe.inputSettingsOpened, 0);
    loop.advance(1ns);
    EXPECT_EQ(probe.inputSettingsOpened, 1);
    loop.advance(10s);
    EXPECT_EQ(probe.inputSettingsOpened, 1) << "once per press";

    model->requestAccessibility();
    EXPECT_EQ(probe.accessibilityRequests, 1);
}

TEST_F(OnboardingModelTest, ATriggerRecordedElsewhereUpdatesTheTriggerRowAtOnce)
{
    probe.keyboard = FakePermissionProbe::keyboardWithFn(false);
    make();
    QSignalSpy changes(model.get(), &OnboardingModel::changed);
    EXPECT_TRUE(model->globeConflict());
    settings.setValue(QStringLiteral("secondaryTriggerKey"), QStringLiteral("f9"));
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(model->triggerDetail(), QStringLiteral("Hold F9 to talk; tap it to lock."));
    settings.setValue(QStringLiteral("language"), QStringLiteral("de"));
    EXPECT_EQ(changes.count(), 1);
}

} // namespace

// The updater over a scripted framework: every transition of its state, the preference coupling,
// the remembered update and the reminder.

#include "rewards/updates/Updater.h"
#include "pipeline/SettingsDefaults.h"
#include "support/FakeUpdateFramework.h"
#include "support/FakeUserNotifications.h"
#include "support/VirtualLoop.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using zq::AppUpdateState;
using zq::Updater;
using zq::platform::UpdateCheckKind;
using zq::platform::UpdateChoice;
using zq::test::FakeUpdateFramework;

namespace {

const std::optional<QString> kError = QStringLiteral("The update feed could not be read.");

class UpdaterTest : public ::testing::Test {
protected:
    UpdaterTest() { zq::registerDefaults(settings); }

    Updater &make(QString runningBuild = QStringLiteral("4"), zq::UpdaterStart start = zq::UpdaterStart::now)
    {
        auto owned = std::make_unique<FakeUpdateFramework>();
        framework = owned.get();
        updater = std::make_unique<Updater>(
            zq::UpdateAvailabilityStore(settings, runningBuild),
            zq::UpdateReminder::live(settings, loop.clocks(), loop, notifications), std::move(owned),
            [this] { return loop.clocks().wallNow(); }, start);
        return *updater;
    }

    // The framework's side of a cycle.
    void found(const QString &version, const QString &build)
    {
        framework->delegate().didFindValidUpdate(FakeUpdateFramework::item(version, build));
    }
    void finish(UpdateCheckKind kind, std::optional<QString> error = std::nullopt)
    {
        framework->delegate().didFinishUpdateCycle(kind, error);
    }
    void choose(UpdateChoice choice)
    {
        framework->delegate().userDidMakeChoice(choice, FakeUpdateFramework::item("1.3.0", "5"));
    }
    size_t remindersShown()
    {
        loop.advance(1min);
        return notifications.posted().size();
    }

    zq::test::VirtualLoop loop;
    zq::rt::Settings settings{QString()};
    zq::test::FakeUserNotifications notifications;
    FakeUpdateFramework *framework = nullptr;
    std::unique_ptr<Updater> updater;
};

} // namespace

TEST_F(UpdaterTest, StartsTheFrameworkIdleWithItsPreferences)
{
    Updater &u = make();
    EXPECT_TRUE(framework->isStarted());
    EXPECT_EQ(u.state(), AppUpdateState::idle());
    EXPECT_TRUE(u.automaticallyChecksEnabled());
    EXPECT_FALSE(u.automaticallyDownloadsUpdates());
    EXPECT_EQ(u.statusText(), "Checks automatically once a day.");
    EXPECT_EQ(remindersShown(), 0u);
}

TEST_F(UpdaterTest, AHeldFrameworkStartsOnStartOrOnTheUsersOwnCheck)
{
    Updater &held = make(QStringLiteral("4"), zq::UpdaterStart::held);
    EXPECT_FALSE(framework->isStarted()) << "no automatic check is scheduled yet";
    EXPECT_EQ(held.statusText(), "Checks automatically once a day.");
    held.start();
    EXPECT_TRUE(framework->isStarted());

    Updater &asked = make(QStringLiteral("4"), zq::UpdaterStart::held);
    asked.checkForUpdates();
    EXPECT_TRUE(framework->isStarted());
    EXPECT_EQ(framework->checkCount(), 1);
    EXPECT_EQ(asked.state(), AppUpdateState::checking());
}

TEST_F(UpdaterTest, FoundUpdateIsRecordedRemindedAndSurvivesALaterError)
{
    Updater &u = make();
    u.checkForUpdates();
    EXPECT_EQ(u.state(), AppUpdateState::checking());
    EXPECT_EQ(u.statusText(), "Checking feed.example.test…") << "the host of the feed in use";
    EXPECT_EQ(framework->checkCount(), 1);

    found("1.3.0", "5");
    EXPECT_EQ(u.state(), AppUpdateState::available("1.3.0"));
    EXPECT_EQ(settings.stringValue("updateAvailableVersion"), "1.3.0");
    EXPECT_EQ(settings.stringValue("updateAvailableBuild"), "5");
    finish(UpdateCheckKind::userInitiated, kError);
    EXPECT_EQ(u.state(), AppUpdateState::available("1.3.0")) << "a failure never hides a known update";
    EXPECT_EQ(remindersShown(), 1u);

    // A user check while an update is known keeps it and still asks the framework.
    u.checkForUpdates();
    EXPECT_EQ(u.state(), AppUpdateState::available("1.3.0"));
    EXPECT_EQ(framework->checkCount(), 2);
}

TEST_F(UpdaterTest, NoUpdateClearsTheRecordWithdrawsTheReminderAndKeepsUpToDateThroughAnError)
{
    Updater &u = make();
    found("1.3.0", "5");
    u.checkForUpdates();
    framework->delegate().didNotFindUpdate();
    EXPECT_EQ(u.state(), AppUpdateState::upToDate(loop.clocks().wallNow()));
    EXPECT_FALSE(settings.hasUserValue("updateAvailableVersion"));
    EXPECT_EQ(u.availability().pending(), std::nullopt);
    finish(UpdateCheckKind::userInitiated, kError);
    EXPECT_EQ(u.state().kind, AppUpdateState::Kind::upToDate);
    EXPECT_EQ(remindersShown(), 0u) << "the reminder scheduled by the find was withdrawn";
    loop.advance(1min);
    EXPECT_EQ(u.statusText(), "Up to date \u00B7 checked 2 minutes ago.");
}

TEST_F(UpdaterTest, FailedCyclesShowFailedUnlessTheUserAnswered)
{
    Updater &u = make();
    u.checkForUpdates();
    QSignalSpy changes(&u, &Updater::stateChanged);
    finish(UpdateCheckKind::userInitiated, kError);
    EXPECT_EQ(u.state(), AppUpdateState::failed());
    EXPECT_EQ(u.statusText(), "Couldn't check for updates. Try again.");

    // A retry from failed goes through checking again.
    u.checkForUpdates();
    EXPECT_EQ(u.state(), AppUpdateState::checking());
    framework->delegate().didNotFindUpdate();
    finish(UpdateCheckKind::userInitiated);
    EXPECT_EQ(u.state().kind, AppUpdateState::Kind::upToDate);

    // A background failure while idle also shows; the next good check replaces it.
    choose(UpdateChoice::skip);
    finish(UpdateCheckKind::background);
    EXPECT_EQ(u.state(), AppUpdateState::idle());
    finish(UpdateCheckKind::background, kError);
    EXPECT_EQ(u.state(), AppUpdateState::failed());
    framework->delegate().didNotFindUpdate();
    finish(UpdateCheckKind::background);
    EXPECT_EQ(u.state().kind, AppUpdateState::Kind::upToDate);

    // The user dismissed the offer, then the cycle failed: not failed.
    u.checkForUpdates();
    found("1.3.0", "5");
    choose(UpdateChoice::dismiss);
    finish(UpdateCheckKind::userInitiated, kError);
    EXPECT_EQ(u.state(), AppUpdateState::available("1.3.0"));
    // The answer counts for its own cycle only.
    choose(UpdateChoice::skip);
    finish(UpdateCheckKind::background);
    finish(UpdateCheckKind::background, kError);
    EXPECT_EQ(u.state(), AppUpdateState::failed());
    EXPECT_GE(changes.count(), 10) << "every assignment is announced";
}

TEST_F(UpdaterTest, DismissThenErrorWhileCheckingIsNotFailed)
{
    Updater &u = make();
    u.checkForUpdates();
    choose(UpdateChoice::dismiss);
    finish(UpdateCheckKind::userInitiated, kError);
    EXPECT_EQ(u.state(), AppUpdateState::idle()) << "neither failed nor stuck at checking";
}

TEST_F(UpdaterTest, SkipClearsBothKeysWithdrawsTheReminderAndGoesIdleForGood)
{
    Updater &u = make();
    u.checkForUpdates();
    found("1.3.0", "5");
    choose(UpdateChoice::skip);
    finish(UpdateCheckKind::userInitiated);
    EXPECT_EQ(u.state(), AppUpdateState::idle());
    EXPECT_FALSE(settings.hasUserValue("updateAvailableVersion"));
    EXPECT_FALSE(settings.hasUserValue("updateAvailableBuild"));
    EXPECT_EQ(remindersShown(), 0u);

    updater.reset();
    EXPECT_EQ(make().state(), AppUpdateState::idle()) << "the next launch starts idle";
}

TEST_F(UpdaterTest, InstallAndWillInstallChangeNothingButTheReminder)
{
    Updater &u = make();
    found("1.3.0", "5");
    choose(UpdateChoice::install);
    framework->delegate().willInstallUpdate(FakeUpdateFramework::item("1.3.0", "5"));
    finish(UpdateCheckKind::background);
    EXPECT_EQ(u.state(), AppUpdateState::available("1.3.0"));
    EXPECT_EQ(remindersShown(), 0u);
}

TEST_F(UpdaterTest, AFrameworkThatCannotCheckLeavesARetryNotAStuckCheck)
{
    Updater &u = make();
    framework->acceptsChecks = false;
    u.checkForUpdates();
    EXPECT_EQ(u.state(), AppUpdateState::failed());

    found("1.3.0", "5");
    u.checkForUpdates();
    EXPECT_EQ(u.state(), AppUpdateState::available("1.3.0")) << "a known update stays shown";

    // A second press while the user's own check runs leaves it running.
    choose(UpdateChoice::skip);
    framework->acceptsChecks = true;
    u.checkForUpdates();
    framework->acceptsChecks = false;
    u.checkForUpdates();
    EXPECT_EQ(u.state(), AppUpdateState::checking());
}

TEST_F(UpdaterTest, AUserWhoCancelsTheirCheckGetsThePreviousLineBackWithoutAnError)
{
    Updater &u = make();
    framework->delegate().didNotFindUpdate();
    const AppUpdateState before = u.state();
    loop.advance(1h);
    u.checkForUpdates();
    finish(UpdateCheckKind::userInitiated);
    EXPECT_EQ(u.state(), before);

    updater.reset();
    Updater &fresh = make();
    fresh.checkForUpdates();
    finish(UpdateCheckKind::userInitiated);
    EXPECT_EQ(fresh.state(), AppUpdateState::idle());
}

TEST_F(UpdaterTest, PreferencesAreCoupledBothWaysAndMirrored)
{
    Updater &u = make();
    QSignalSpy checks(&u, &Updater::automaticallyChecksEnabledChanged);
    u.setAutomaticallyDownloadsUpdates(true);
    EXPECT_TRUE(u.automaticallyChecksEnabled());
    EXPECT_TRUE(u.automaticallyDownloadsUpdates());
    EXPECT_TRUE(framework->automaticDownloads);

    u.setAutomaticallyDownloadsUpdates(false);
    EXPECT_TRUE(u.automaticallyChecksEnabled()) << "turning downloads off leaves checks";
    u.setAutomaticallyDownloadsUpdates(true);
    u.setAutomaticallyChecksEnabled(false);
    EXPECT_FALSE(u.automaticallyChecksEnabled());
    EXPECT_FALSE(u.automaticallyDownloadsUpdates()) << "no downloads without checks";
    EXPECT_FALSE(framework->automaticDownloads);
    EXPECT_EQ(u.statusText(), "Automatic checks are off.");
    EXPECT_EQ(checks.count(), 1);

    u.setAutomaticallyDownloadsUpdates(true);
    EXPECT_TRUE(framework->automaticChecks) << "downloads turn checks on";

    // A change made by the framework itself reaches the mirrors.
    framework->setAutomaticallyChecksForUpdates(false);
    EXPECT_FALSE(u.automaticallyChecksEnabled());
    framework->automaticDownloads = false;
    framework->delegate().willNotScheduleUpdateCheck();
    EXPECT_FALSE(u.automaticallyDownloadsUpdates()) << "scheduling news reads the preferences back";
}

TEST_F(UpdaterTest, ALaunchWithAPendingUpdateShowsItAndRemindsOnce)
{
    settings.setValue("updateAvailableVersion", QStringLiteral("1.3.0"));
    settings.setValue("updateAvailableBuild", QStringLiteral("5"));
    Updater &u = make();
    EXPECT_EQ(u.state(), AppUpdateState::available("1.3.0"));
    EXPECT_EQ(u.statusText(), "Version 1.3.0 is ready to install.");
    EXPECT_EQ(remindersShown(), 1u);

    updater.reset();
    EXPECT_EQ(make().state(), AppUpdateState::available("1.3.0"));
    EXPECT_EQ(remindersShown(), 1u) << "not again the same day";

    updater.reset();
    EXPECT_EQ(make(QStringLiteral("5")).state(), AppUpdateState::idle()) << "after the install";
}

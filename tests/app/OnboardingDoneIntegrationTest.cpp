// What the end of the Welcome window hands over on a desktop with a real tray: the automatic update
// check waits for it, and one notification says where the application went and which key dictates.

#include "menubar/MenuBarExtra.h"
#include "rewards/updates/UpdateAvailability.h"
#include "rewards/updates/UpdateReminder.h"
#include "support/FakeUpdateFramework.h"
#include "support/ServiceEnvironment.h"
#include "support/TrayHost.h"
#include "support/WindowTestSupport.h"
#include "window/onboarding/OnboardingView.h"

#include <gtest/gtest.h>

class OnboardingDoneIntegrationTest : public zq::test::WindowAppFixture {};

TEST_F(OnboardingDoneIntegrationTest, DoneStartsTheUpdateScheduleAndSaysOnceWhereTheAppLives)
{
    ZQ_REQUIRE_SERVICE(!zq::test::sharedDisplay().isEmpty(), zq::test::sharedDisplayError());
    zq::test::TrayHost tray;
    const bool trayStarted = tray.start(zq::test::sharedDisplay());
    ZQ_REQUIRE_SERVICE(trayStarted, tray.errorString());
    services.settings.setValue("onboarded", false);
    services.settings.setValue("triggerKey", QStringLiteral("right-control"));
    // Right Control sits where it sits on a PC keyboard.
    probe.keyboard = zq::test::FakePermissionProbe::keyboardWithFn(false);
    probe.keyboard->logicalCodes[105] = zq::KeyCode::rightControl;

    zq::test::FakeUpdateFramework *framework = nullptr;
    zq::AppServices with = appServices();
    with.launchKeyboardMap = probe.keyboard;
    with.makeUpdater = [&](zq::UpdaterStart start) {
        auto owned = std::make_unique<zq::test::FakeUpdateFramework>();
        framework = owned.get();
        return std::make_unique<zq::Updater>(
            zq::UpdateAvailabilityStore(services.settings, QStringLiteral("4")),
            zq::UpdateReminder::live(services.settings, services.loop.clocks(), services.loop, services.notifications),
            std::move(owned), [this] { return services.loop.clocks().wallNow(); }, start);
    };
    makeApp(std::move(with));
    app->showScenes();
    ASSERT_TRUE(settle([&] { return app->menuBarExtra()->isAvailable(); }));
    ASSERT_NE(app->onboardingWindow(), nullptr);
    ASSERT_NE(framework, nullptr);
    EXPECT_FALSE(framework->isStarted()) << "no automatic check while the Welcome window is open";
    EXPECT_TRUE(services.notifications.posted().empty());

    app->onboardingWindow()->done();
    EXPECT_TRUE(framework->isStarted());
    ASSERT_EQ(services.notifications.posted().size(), 1u);
    const auto &notice = services.notifications.posted()[0].content;
    EXPECT_EQ(notice.title, "ZEPA QUARN is in the tray");
    EXPECT_TRUE(notice.body.contains("Hold Right Control")) << notice.body.toStdString();
}

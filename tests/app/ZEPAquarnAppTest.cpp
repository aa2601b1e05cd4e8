// The application object on the controller rig: its construction order, the onboarding window, the
// Settings… command, the dimmed tray icon and the termination hook.

#include "app/ZEPAquarnApp.h"
#include "menubar/MenuBarExtra.h"
#include "menubar/PillPanel.h"
#include "pipeline/DictationController.h"
#include "pipeline/TriggerBinding.h"
#include "support/FakeDictationServices.h"
#include "support/FakePermissionProbe.h"
#include "window/AppWindowView.h"
#include "window/OnboardingView.h"

#include <QApplication>

#include <gtest/gtest.h>

using zq::ZEPAquarnApp;
using zq::test::FakeDictationServices;

namespace {

struct AppRig {
    explicit AppRig(bool onboarded) { services.settings.setValue("onboarded", onboarded); }

    std::unique_ptr<ZEPAquarnApp> make()
    {
        ZEPAquarnApp::Environment environment{
            *qobject_cast<QApplication *>(QCoreApplication::instance()),
            services.loop,
            services.settings,
            [this] { order << QStringLiteral("diagnostics"); },
            [this] {
                order << QStringLiteral("controller");
                services.makeController();
                return std::move(services.controller);
            },
            [this] { order << QStringLiteral("end-audio"); },
        };
        environment.permissionProbe = [this]() -> zq::platform::PermissionProbe & { return probe; };
        return std::make_unique<ZEPAquarnApp>(std::move(environment));
    }

    FakeDictationServices services{{.makeController = false}};
    zq::test::FakePermissionProbe probe;
    QStringList order;
};

} // namespace

TEST(ZEPAquarnAppTest, ConstructionStartsDiagnosticsBeforeTheControllerAndTheTapOnlyWhenOnboarded)
{
    AppRig rig(true);
    const QString custom = zq::TriggerBinding::keyboard(96, QStringLiteral("F5")).storageValue();
    rig.services.settings.setValue("triggerKey", custom);
    auto app = rig.make();
    EXPECT_EQ(rig.order, (QStringList{"diagnostics", "controller"}));
    EXPECT_FALSE(app->needsOnboarding());
    EXPECT_TRUE(app->controller().tapRunning()) << "onboarded: the trigger starts during construction";
    EXPECT_EQ(rig.services.settings.stringValue("secondaryTriggerKey"), custom) << "the migration ran";
    EXPECT_EQ(rig.services.settings.stringValue("triggerKey"), "fn");

    app->showScenes();
    EXPECT_EQ(app->onboardingWindow(), nullptr) << "no onboarding window once onboarded";
}

TEST(ZEPAquarnAppTest, OnboardingOpensAtLaunchAndItsDoneStartsTheTrigger)
{
    AppRig rig(false);
    auto app = rig.make();
    EXPECT_TRUE(app->needsOnboarding());
    EXPECT_FALSE(app->controller().tapRunning()) << "the trigger waits for onboarding";
    app->showScenes();
    ASSERT_NE(app->onboardingWindow(), nullptr);
    EXPECT_EQ(app->onboardingWindow()->windowTitle(), "Welcome");
    EXPECT_TRUE(app->onboardingWindow()->isVisible());
    EXPECT_TRUE(app->menuBarExtra()->isDimmed()) << "dimmed while the trigger does not run";

    app->onboardingWindow()->done();
    EXPECT_TRUE(rig.services.settings.boolValue("onboarded"));
    EXPECT_TRUE(app->controller().tapRunning());
    EXPECT_FALSE(app->menuBarExtra()->isDimmed());
    EXPECT_FALSE(app->onboardingWindow()->isVisible());
}

TEST(ZEPAquarnAppTest, SettingsCommandOpensTheMainWindowAtGeneral)
{
    AppRig rig(true);
    auto app = rig.make();
    app->showScenes();
    app->openSettings();
    ASSERT_NE(app->mainWindow(), nullptr);
    EXPECT_TRUE(app->mainWindow()->isVisible());
    EXPECT_EQ(app->mainWindow()->objectName(), "zepaquarn-main");
    EXPECT_EQ(app->windowModel().selection(), zq::AppWindowSection::general);
}

TEST(ZEPAquarnAppTest, TerminationEndsAudioDuringDictationOnce)
{
    AppRig rig(true);
    auto app = rig.make();
    app->showScenes();
    app->applicationWillTerminate();
    app->applicationWillTerminate();
    EXPECT_EQ(rig.order.count("end-audio"), 1);
}

TEST(ZEPAquarnAppTest, TheWornColorwayReachesThePill)
{
    AppRig rig(true);
    rig.services.settings.setValue("depthUnlocked", QList<qint64>{1});
    rig.services.settings.setValue("depthSelection", QStringLiteral("signalPurple"));
    auto app = rig.make();
    app->showScenes();
    ASSERT_NE(app->controller().pill(), nullptr);
    EXPECT_EQ(app->controller().pill()->colorway(), zq::Colorway::signalPurple);
    app->delegate().depth().setSelection(zq::Colorway::consensusMint);
    EXPECT_EQ(app->controller().pill()->colorway(), zq::Colorway::consensusMint);
}

// The application object on the controller rig: its construction order, the onboarding window, the
// Settings… command, the dimmed tray icon and the termination hook.

#include "app/ZEPAquarnApp.h"
#include "menubar/MenuBarExtra.h"
#include "menubar/MenuPanel.h"
#include "pipeline/DictationController.h"
#include "pipeline/SettingsDefaults.h"
#include "pipeline/TriggerBinding.h"
#include "pipeline/TriggerReach.h"
#include "pipeline/TriggerRecordingGate.h"
#include "runtime/FileOps.h"
#include "support/FakeDictationServices.h"
#include "support/FakePermissionProbe.h"
#include "support/FakeUserNotifications.h"
#include "support/RecordingPillDisplay.h"
#include "window/AppWindowView.h"
#include "window/history/HistoryPage.h"
#include "window/history/HistoryPageModel.h"
#include "window/onboarding/OnboardingView.h"

#include <QApplication>
#include <QLineEdit>
#include <QScreen>
#include <QWindow>

#include <gtest/gtest.h>

using zq::ZEPAquarnApp;
using zq::test::FakeDictationServices;

namespace {

struct AppRig {
    explicit AppRig(bool onboarded, bool keyboardHasFn = true)
    {
        services.settings.setValue("onboarded", onboarded);
        probe.keyboard = zq::test::FakePermissionProbe::keyboardWithFn(keyboardHasFn);
        // Right Control sits where it sits on a PC keyboard.
        probe.keyboard->logicalCodes[105] = zq::KeyCode::rightControl;
        // As the launch registers them, for its keyboard.
        zq::registerDefaults(services.settings, zq::defaultTriggerKey(probe.keyboard));
    }

    std::unique_ptr<ZEPAquarnApp> make(zq::LaunchOrder launch = zq::LaunchOrder::allAtOnce)
    {
        appServices.emplace(zq::AppServices{
            .application = *qobject_cast<QApplication *>(QCoreApplication::instance()),
            .loop = services.loop,
            .settings = services.settings,
            .hardware = services.hardware,
            .permissionProbe = probe,
            .pasteboard = services.pasteboard,
            .notifications = notifications,
            .audioDuringDictation = *services.audioDuringDictation,
            .recordingGate = gate,
            .startDiagnostics = [this] { order << QStringLiteral("diagnostics"); },
            .makeController =
                [this] {
                    order << QStringLiteral("controller");
                    services.makeController();
                    return std::move(services.controller);
                },
            .trimMemory = [this] { ++memoryGivenBack; },
            .launchKeyboardMap = probe.keyboard,
        });
        return std::make_unique<ZEPAquarnApp>(*appServices, launch);
    }

    FakeDictationServices services{{.makeController = false}};
    zq::test::FakePermissionProbe probe;
    zq::test::FakeUserNotifications notifications;
    zq::TriggerRecordingGate gate;
    std::optional<zq::AppServices> appServices;
    QStringList order;
    int memoryGivenBack = 0;
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

TEST(ZEPAquarnAppTest, TrayIconFirstLeavesDiagnosticsAndTheControllerToTheScenes)
{
    AppRig rig(true);
    auto app = rig.make(zq::LaunchOrder::trayIconFirst);
    EXPECT_TRUE(rig.order.isEmpty()) << "nothing the icon does not show runs in the constructor";
    EXPECT_FALSE(app->isLaunched());
    // The offscreen desktop has no tray host: the launch finishes at once, with the main window.
    app->showScenes();
    EXPECT_EQ(rig.order, (QStringList{"diagnostics", "controller"}));
    EXPECT_TRUE(app->isLaunched());
    EXPECT_TRUE(app->controller().tapRunning());
    ASSERT_NE(app->mainWindow(), nullptr);
    EXPECT_TRUE(app->mainWindow()->isVisible());
    app->finishLaunching();
    EXPECT_EQ(rig.order, (QStringList{"diagnostics", "controller"})) << "once";
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

TEST(ZEPAquarnAppTest, AMainWindowClosedForAWhileIsLetGoAndOpensAgainAsTheUserLeftIt)
{
    AppRig rig(true);
    auto app = rig.make();
    app->showScenes();
    zq::test::VirtualLoop &loop = rig.services.loop;
    app->windowModel().setSelection(zq::AppWindowSection::history);
    app->openMainWindow();
    zq::AppWindowView *first = app->mainWindow();
    ASSERT_NE(first, nullptr);
    auto *history = qobject_cast<zq::HistoryPage *>(first->currentPage());
    ASSERT_NE(history, nullptr);
    history->searchField()->setText(QStringLiteral("half-typ"));
    // Lower than it opened (the offscreen screen already bounds its width).
    first->resize(first->width(), first->minimumHeight() + 7);
    const QSize size = first->size();
    ASSERT_NE(size, zq::appWindowSizes(first->screen()->availableGeometry().size()).initial);
    app->windowModel().setSelection(zq::AppWindowSection::audio);
    loop.advance(ZEPAquarnApp::kClosedWindowKept * 3);
    EXPECT_EQ(app->mainWindow(), first) << "never let go while shown";
    const int shownItems = loop.pendingCount();

    first->close();
    EXPECT_EQ(loop.pendingCount(), shownItems + 1) << "one wait, only while closed";
    loop.advance(ZEPAquarnApp::kClosedWindowKept / 2);
    app->openMainWindow();
    EXPECT_EQ(app->mainWindow(), first) << "reopened in time: the same window";
    EXPECT_EQ(loop.pendingCount(), shownItems) << "the wait ends when the window shows";

    first->close();
    loop.advance(ZEPAquarnApp::kClosedWindowKept);
    EXPECT_EQ(app->mainWindow(), nullptr) << "closed for the whole time: let go";
    EXPECT_EQ(rig.memoryGivenBack, 1) << "what the pages held is given back";
    EXPECT_EQ(loop.pendingCount(), shownItems) << "nothing waits once the window is gone";

    app->openMainWindow();
    zq::AppWindowView *second = app->mainWindow();
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(second->isVisible());
    EXPECT_EQ(app->windowModel().selection(), zq::AppWindowSection::audio);
    EXPECT_EQ(second->size(), size);
    app->windowModel().setSelection(zq::AppWindowSection::history);
    history = qobject_cast<zq::HistoryPage *>(second->currentPage());
    ASSERT_NE(history, nullptr);
    EXPECT_EQ(history->searchField()->text(), "half-typ") << "the search survives the page";
    EXPECT_EQ(history->model().query(), "half-typ");
}

TEST(ZEPAquarnAppTest, TheTrayPanelsWindowIsGivenBackWhileHiddenAndBuiltAgainAsItWas)
{
    AppRig rig(true);
    auto app = rig.make();
    app->showScenes();
    zq::test::VirtualLoop &loop = rig.services.loop;
    zq::MenuBarExtra &extra = *app->menuBarExtra();
    QWidget *popup = extra.panel();
    extra.openPanel();
    ASSERT_TRUE(popup->isVisible());
    const QWindow *window = popup->windowHandle();
    ASSERT_NE(window, nullptr);
    const QRect place = popup->geometry();
    const Qt::WindowFlags flags = popup->windowFlags();
    QWidget *focused = popup->focusWidget();
    loop.advance(ZEPAquarnApp::kHiddenPanelWindowKept * 3);
    EXPECT_EQ(popup->windowHandle(), window) << "never given back while shown";
    const QImage look = popup->grab().toImage();
    const int shownItems = loop.pendingCount();

    popup->hide();
    EXPECT_EQ(loop.pendingCount(), shownItems + 1) << "one wait, only while hidden";
    loop.advance(ZEPAquarnApp::kHiddenPanelWindowKept / 2);
    extra.openPanel();
    EXPECT_EQ(popup->windowHandle(), window) << "reopened in time: the same window";
    EXPECT_EQ(loop.pendingCount(), shownItems) << "the wait ends when the panel shows";

    popup->hide();
    loop.advance(ZEPAquarnApp::kHiddenPanelWindowKept);
    EXPECT_EQ(popup->windowHandle(), nullptr) << "hidden for the whole time: given back";
    EXPECT_EQ(popup->backingStore(), nullptr) << "with what it drew";
    EXPECT_EQ(loop.pendingCount(), shownItems) << "nothing waits once it is gone";

    extra.openPanel();
    ASSERT_TRUE(popup->isVisible());
    ASSERT_NE(popup->windowHandle(), nullptr);
    EXPECT_TRUE(popup->isWindow());
    EXPECT_EQ(popup->windowFlags(), flags);
    EXPECT_EQ(popup->geometry(), place);
    EXPECT_EQ(app->menuPanel()->window(), popup);
    EXPECT_EQ(popup->focusWidget(), focused) << "the keyboard at the first control again";
    EXPECT_EQ(popup->grab().toImage(), look);
}

TEST(ZEPAquarnAppTest, WhatATakeFreedIsGivenBackOnceThePillHasStayedHiddenAWhile)
{
    AppRig rig(true);
    auto app = rig.make();
    app->showScenes();
    FakeDictationServices &services = rig.services;
    const auto hidden = [&] { return app->controller().pillState().is(zq::PillState::Kind::hidden); };
    const auto take = [&](const QString &text) {
        if (!services.startLive())
            return false;
        for (int tenth = 0; tenth < 15; ++tenth) {
            services.advance(0.1);
            services.deliver(1);
        }
        app->controller().handleTriggerAction(zq::TriggerAction::finish);
        services.loop.runUntilIdle();
        services.backends.last()->final(text);
        return services.pump(hidden, 1000);
    };

    ASSERT_TRUE(take(QStringLiteral("first take")));
    services.loop.advance(ZEPAquarnApp::kFinishedTakeMemoryKept / 2);
    EXPECT_EQ(rig.memoryGivenBack, 0) << "not while a next take may follow";
    // A take started within the wait ends it; its own end starts it again.
    ASSERT_TRUE(take(QStringLiteral("second take")));
    // The rig's steps are 10 ms: the pill hid at most one step before the take returned.
    services.loop.advance(ZEPAquarnApp::kFinishedTakeMemoryKept - std::chrono::milliseconds(20));
    EXPECT_EQ(rig.memoryGivenBack, 0);
    services.loop.advance(std::chrono::milliseconds(20));
    EXPECT_EQ(rig.memoryGivenBack, 1);
    services.loop.advance(ZEPAquarnApp::kFinishedTakeMemoryKept * 10);
    EXPECT_EQ(rig.memoryGivenBack, 1) << "once a take, then the application sleeps";
    EXPECT_EQ(services.keys.pastedTexts().size(), 2);
}

// The application goes (a quit) while a paste waits for the window in front to fetch its text: the take
// stays in the history, and nothing the controller does on its way out reaches the application.
TEST(ZEPAquarnAppTest, GoingWhileAPasteAwaitsItsFetchKeepsTheTakeAndReportsNothing)
{
    AppRig rig(true);
    auto app = rig.make();
    app->showScenes();
    FakeDictationServices &services = rig.services;
    services.pasteboard.tellFetches();
    ASSERT_TRUE(services.startLive());
    for (int tenth = 0; tenth < 15; ++tenth) {
        services.advance(0.1);
        services.deliver(1);
    }
    app->controller().handleTriggerAction(zq::TriggerAction::finish);
    services.loop.runUntilIdle();
    services.backends.last()->final(QStringLiteral("never fetched"));
    services.loop.runUntilIdle();
    ASSERT_EQ(services.keys.pastedTexts().size(), 1);
    ASSERT_TRUE(app->controller().pillState().is(zq::PillState::Kind::thinking)) << "the paste did not wait";

    app.reset();
    EXPECT_EQ(services.history->items().size(), 1);
    EXPECT_EQ(services.count(zq::DiagnosticEvent::pasteSucceeded), 0);
    EXPECT_TRUE(services.stats->days().isEmpty());
    EXPECT_TRUE(services.takeFiles().isEmpty());
}

TEST(ZEPAquarnAppTest, TerminationEndsAudioDuringDictationOnce)
{
    AppRig rig(true);
    auto app = rig.make();
    app->showScenes();
    zq::AudioDuringDictationController &audio = *rig.services.audioDuringDictation;
    audio.begin(zq::AudioDuringDictationMode::lowerVolume);
    app->applicationWillTerminate();
    audio.begin(zq::AudioDuringDictationMode::lowerVolume);
    app->applicationWillTerminate();
    EXPECT_EQ(rig.services.audioBackend->calls(), (QStringList{"lower", "restore", "lower"}));
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

TEST(ZEPAquarnAppTest, AFreshProfileOnAKeyboardWithoutFnStartsOnRightControlAndDictatesAfterDone)
{
    AppRig rig(false, false);
    auto app = rig.make();
    EXPECT_EQ(rig.services.settings.stringValue("triggerKey"), "right-control");
    EXPECT_FALSE(rig.services.settings.hasUserValue("triggerKey")) << "a default, not a stored choice";
    app->showScenes();
    app->onboardingWindow()->done();
    EXPECT_TRUE(app->controller().tapRunning());
    EXPECT_TRUE(app->triggerReach().canStartTake());
    EXPECT_FALSE(app->menuBarExtra()->isDimmed());
    EXPECT_TRUE(rig.notifications.posted().empty());
}

TEST(ZEPAquarnAppTest, AStoredFnThatCannotBeSeenIsKeptDimsTheRingAndIsExplainedOncePerLaunch)
{
    AppRig rig(true, false);
    rig.services.settings.setValue("triggerKey", QStringLiteral("fn"));
    auto app = rig.make();
    app->showScenes();
    EXPECT_EQ(rig.services.settings.stringValue("triggerKey"), "fn") << "the user's choice is never rewritten";
    EXPECT_TRUE(app->controller().tapRunning());
    EXPECT_TRUE(app->menuBarExtra()->isDimmed()) << "a running tap that no key reaches";
    ASSERT_EQ(rig.notifications.posted().size(), 1u);
    EXPECT_EQ(rig.notifications.posted()[0].content.title, "No key starts dictation");
    EXPECT_TRUE(rig.notifications.posted()[0].content.body.contains("General → Trigger"));

    // Mended and broken again in the same launch: the ring follows, the notice is not repeated.
    rig.services.settings.setValue("secondaryTriggerKey", QStringLiteral("mouse:3"));
    EXPECT_FALSE(app->menuBarExtra()->isDimmed());
    rig.services.settings.setValue("secondaryTriggerKey", QString());
    EXPECT_TRUE(app->menuBarExtra()->isDimmed());
    EXPECT_EQ(rig.notifications.posted().size(), 1u);
}

TEST(ZEPAquarnAppTest, AFileKeptAsideIsNotifiedWithWhereItIsKept)
{
    AppRig rig(true);
    // As the wiring hands them over: a file set aside, and a store that loaded.
    zq::tellOfKeptAsideFiles(
        rig.services.loop, rig.notifications,
        {zq::rt::KeptAsideFile{"settings", "/s.json.corrupt-1", zq::rt::KeptAsideFile::Reason::tooLarge},
         std::nullopt});
    rig.services.loop.runUntilIdle();
    ASSERT_EQ(rig.notifications.posted().size(), 1u);
    EXPECT_EQ(rig.notifications.posted()[0].content.body, "Your settings file was too large to read, so ZEPA QUARN "
                                                          "started fresh. The old file is kept as /s.json.corrupt-1.");
}

TEST(ZEPAquarnAppTest, TheWelcomeWindowExplainsAnUnseenFnItselfAndTheNoticeWaitsForDone)
{
    AppRig rig(false, false);
    rig.services.settings.setValue("triggerKey", QStringLiteral("fn"));
    auto app = rig.make();
    app->showScenes();
    EXPECT_TRUE(rig.notifications.posted().empty());
    app->onboardingWindow()->done();
    EXPECT_EQ(rig.notifications.posted().size(), 1u);
}

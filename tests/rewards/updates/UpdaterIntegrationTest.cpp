// "Check for Updates…" in the tray menu drives the real updater: the application's own wiring,
// the update framework against a loopback HTTPS feed, and its windows on a private X display.

#include "app/ZEPAquarnApp.h"
#include "menubar/MenuBanners.h"
#include "menubar/MenuBarExtra.h"
#include "menubar/brand/Text.h"
#include "menubar/brand/ZepaButton.h"
#include "pipeline/DictationController.h"
#include "pipeline/TriggerRecordingGate.h"
#include "platform/linux/QtHttpClient.h"
#include "platform/linux/appcast/AppcastUpdateFramework.h"
#include "platform/linux/freedesktop/XdgAutostartEntry.h"
#include "rewards/updates/UpdaterDialogs.h"
#include "support/FakeDictationServices.h"
#include "support/FakeHttpClient.h"
#include "support/FakeMicrophoneTestEngine.h"
#include "support/FakePermissionProbe.h"
#include "support/FakeSecretStore.h"
#include "support/FakeUserNotifications.h"
#include "support/LoopbackFeedServer.h"
#include "support/Polling.h"
#include "support/ServiceEnvironment.h"
#include "support/TestFiles.h"
#include "support/UpdateFeedKit.h"
#include "window/AppWindowView.h"
#include "window/settings/AppSettingsModel.h"
#include "window/settings/SettingsRows.h"
#include "window/support/SupportPage.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using zq::AppUpdateState;
using zq::test::readFile;

namespace {

QPushButton *visibleButton(QWidget *parent, const QString &text)
{
    for (auto *button : parent->findChildren<QPushButton *>())
        if (button->text() == text && button->isVisible())
            return button;
    return nullptr;
}

} // namespace

TEST(UpdaterIntegrationTest, TheTrayCommandChecksOffersAndInstallsThroughTheRealFramework)
{
    zq::test::LoopbackFeedServer server;
    const bool started = server.start();
    ZQ_REQUIRE_SERVICE(started, server.errorString());
    QTemporaryDir folder;
    const QString executable = folder.filePath("zepaquarn");
    ASSERT_TRUE(QFile::copy(QStringLiteral(ZQ_VERSION_PRINTER_OLD), executable));
    const QByteArray newProgram = readFile(QStringLiteral(ZQ_VERSION_PRINTER_NEW));

    const zq::test::Ed25519TestKey key;
    const QByteArray archive = zq::test::makeTarGz({{"zepaquarn", newProgram, '0', {}}});
    server.setAnswer("/zq-5.tar.gz", {200, archive, "application/gzip", false});
    server.setAnswer("/appcast.xml", {200,
                                      zq::test::makeAppcast({{"5",
                                                              "1.3.0",
                                                              server.url("/zq-5.tar.gz"),
                                                              archive.size(),
                                                              key.signUpdate(archive, "5", "1.3.0"),
                                                              {},
                                                              "Faster start."}}),
                                      "application/rss+xml", false});

    zq::test::FakeDictationServices services{{.makeController = false}};
    services.settings.setValue("onboarded", true);
    services.settings.setValue(zq::platform::AppcastUpdateFramework::kAutomaticChecksKey, false);
    zq::test::FakePermissionProbe probe;
    zq::test::FakeUserNotifications notifications;
    zq::UpdaterDialogs dialogs(QStringLiteral("1.2.0"));
    QString relaunched;

    zq::TriggerRecordingGate gate;
    zq::AppServices made{.application = *qobject_cast<QApplication *>(QCoreApplication::instance()),
                         .loop = services.loop,
                         .settings = services.settings,
                         .hardware = services.hardware,
                         .permissionProbe = probe,
                         .pasteboard = services.pasteboard,
                         .notifications = notifications,
                         .audioDuringDictation = *services.audioDuringDictation,
                         .recordingGate = gate,
                         .makeController = [&] {
                             services.makeController();
                             return std::move(services.controller);
                         }};
    made.makeUpdater = [&](zq::UpdaterStart start) {
        zq::platform::UpdateFeedConfiguration feed;
        feed.feedUrl = QUrl(server.url("/appcast.xml"));
        feed.publicKeyBase64 = key.publicKeyBase64();
        feed.extraCertificateFile = server.certificateFile();
        zq::platform::AppcastUpdateFramework::Environment frameworkEnvironment{
            services.loop,
            services.loop.clocks(),
            services.settings,
            dialogs,
            std::make_shared<zq::platform::QtHttpClient>(),
            feed,
            "4",
            "1.2.0",
            executable,
            folder.filePath("work"),
            folder.filePath("saved"),
            {},
            [&](const QString &path) { relaunched = path; }};
        return std::make_unique<zq::Updater>(
            zq::UpdateAvailabilityStore(services.settings, QStringLiteral("4")),
            zq::UpdateReminder::live(services.settings, services.loop.clocks(), services.loop, notifications),
            std::make_unique<zq::platform::AppcastUpdateFramework>(std::move(frameworkEnvironment)),
            [&] { return services.loop.clocks().wallNow(); }, start);
    };
    auto app = std::make_unique<zq::ZEPAquarnApp>(made);
    zq::platform::XdgAutostartEntry autostart(folder.filePath("autostart"), QStringLiteral("/bin/true"));
    app->setSettingsServices(
        [&](zq::DictationController &controller, std::function<void(bool)> applyShowInDock) {
            return std::make_unique<zq::AppSettingsModel>(zq::AppSettingsModel::Dependencies{
                services.loop,
                services.settings,
                controller.incidents(),
                controller.audio(),
                {},
                zq::test::FakeMicrophoneTestEngine::factory(
                    std::make_shared<zq::test::FakeMicrophoneTestEngine::Script>()),
                zq::Keychain(std::make_shared<zq::test::FakeSecretStore>()),
                autostart,
                std::move(applyShowInDock),
                zq::APIKeyTestConfig{{}, 1s, std::make_shared<zq::test::FakeHttpClient>()}});
        },
        [](QWidget &, bool) {});
    app->showScenes();
    ASSERT_NE(app->updater(), nullptr);
    EXPECT_EQ(app->updater()->statusText(), "Automatic checks are off.");

    auto settle = [&](const std::function<bool()> &done) {
        return zq::test::processEventsUntil(services.loop, done, 20s);
    };

    // The Support page, open during the check, follows the real updater.
    app->windowModel().setSelection(zq::AppWindowSection::support);
    app->openMainWindow();
    zq::SupportPage *support = nullptr;
    ASSERT_TRUE(settle([&] { return (support = app->mainWindow()->findChild<zq::SupportPage *>()) != nullptr; }));
    EXPECT_EQ(support->updatesRow()->detail(), "Automatic checks are off.");
    EXPECT_FALSE(support->automaticChecksSwitch()->isChecked());

    QAction *check = nullptr;
    for (QAction *action : app->menuBarExtra()->trayIcon()->contextMenu()->actions())
        if (action->text() == QStringLiteral("Check for Updates…"))
            check = action;
    ASSERT_NE(check, nullptr);
    check->trigger();
    EXPECT_EQ(app->updater()->state(), AppUpdateState::checking());
    EXPECT_TRUE(app->updater()->statusText().startsWith("Checking 127.0.0.1\u2026"));
    EXPECT_TRUE(dialogs.window()->isVisible());

    ASSERT_TRUE(settle([&] { return visibleButton(dialogs.window(), "Install") != nullptr; }));
    EXPECT_EQ(app->updater()->statusText(), "Version 1.3.0 is ready to install.");
    EXPECT_EQ(support->updatesRow()->detail(), "Version 1.3.0 is ready to install.");
    EXPECT_EQ(support->updateButton()->text(), "Update");
    EXPECT_TRUE(support->updateButton()->isVisible());
    app->menuBarExtra()->openPanel();
    auto *banner = app->menuBarExtra()->panel()->findChild<zq::MenuUpdateBanner *>();
    ASSERT_NE(banner, nullptr);
    EXPECT_TRUE(banner->isVisible()) << "the panel offers the found update";
    EXPECT_EQ(banner->version(), QStringLiteral("1.3.0"));
    app->menuBarExtra()->panel()->hide();

    visibleButton(dialogs.window(), "Install")->click();
    ASSERT_TRUE(settle([&] { return !relaunched.isEmpty(); }));
    EXPECT_EQ(relaunched, executable);
    EXPECT_EQ(readFile(executable), newProgram);
    EXPECT_FALSE(dialogs.window()->isVisible());
    app.reset();
}

// The application's main window on a private X display shows the History and Support pages:
// transcripts under History, and under Support the recent issues, which are marked read as the
// page appears, so the sidebar's issue dot goes.
#include "app/ZEPAquarnApp.h"
#include "menubar/brand/ZepaButton.h"
#include "pipeline/DictationController.h"
#include "pipeline/SettingsDefaults.h"
#include "platform/linux/XdgAutostartEntry.h"
#include "support/FakeDictationServices.h"
#include "support/FakeMicrophoneTestEngine.h"
#include "support/FakePermissionProbe.h"
#include "support/FakeSecretStore.h"
#include "support/ServiceEnvironment.h"
#include "window/AppSettingsModel.h"
#include "window/AppWindowView.h"
#include "window/HistoryPage.h"
#include "window/HistoryPageModel.h"
#include "window/IncidentRow.h"
#include "window/SupportPage.h"

#include <QApplication>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace zq;

namespace {

class SupportPageAppIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(test::requireService(QGuiApplication::platformName() == QLatin1String("xcb"), "no X display"));
        services.settings.setValue(QString::fromLatin1(keys::onboarded), true);
        ZEPAquarnApp::Environment environment{
            *qobject_cast<QApplication *>(QCoreApplication::instance()),
            services.loop,
            services.settings,
            {},
            [this] {
                services.makeController();
                return std::move(services.controller);
            },
            {},
        };
        environment.pasteboard = [this]() -> platform::Pasteboard * { return &services.pasteboard; };
        app = std::make_unique<ZEPAquarnApp>(std::move(environment));
        app->setSettingsServices(
            [this](DictationController &controller, std::function<void(bool)> applyShowInDock) {
                AppSettingsModel::Dependencies deps{services.loop,
                                                    services.settings,
                                                    controller.incidents(),
                                                    controller.audio(),
                                                    {},
                                                    test::FakeMicrophoneTestEngine::factory(micScript),
                                                    Keychain(std::make_shared<test::FakeSecretStore>()),
                                                    autostart,
                                                    std::move(applyShowInDock),
                                                    APIKeyTestConfig{QUrl(QStringLiteral("http://127.0.0.1:9")), 1s}};
                return std::make_unique<AppSettingsModel>(std::move(deps));
            },
            [](QWidget &, bool) {});
    }

    void TearDown() override { app.reset(); }

    bool settle(const std::function<bool()> &done, std::chrono::milliseconds timeout = 10s)
    {
        return services.loop.runUntil(
            [&] {
                QApplication::processEvents();
                return done();
            },
            timeout);
    }

    test::FakeDictationServices services{{.makeController = false}};
    std::shared_ptr<test::FakeMicrophoneTestEngine::Script> micScript =
        std::make_shared<test::FakeMicrophoneTestEngine::Script>();
    QTemporaryDir config;
    platform::XdgAutostartEntry autostart{config.filePath(QStringLiteral("autostart")), QStringLiteral("/bin/true")};
    std::unique_ptr<ZEPAquarnApp> app;
};

TEST_F(SupportPageAppIntegrationTest, HistoryListsTranscriptsAndSupportMarksItsIssuesRead)
{
    app->controller().history().add(QStringLiteral("Send the draft to Maria"));
    DictationIncident incident;
    incident.id = QUuid::createUuid();
    incident.date = QDateTime::currentDateTime();
    incident.code = QStringLiteral("ZQ-AUDIO-EMPTY");
    incident.title = QStringLiteral("No audio");
    app->controller().incidents().insert(incident);
    ASSERT_TRUE(app->controller().incidents().hasUnread());

    app->windowModel().setSelection(AppWindowSection::history);
    app->openMainWindow();
    AppWindowView *window = app->mainWindow();
    ASSERT_TRUE(settle([&] { return window->isVisible(); }));
    auto *history = qobject_cast<HistoryPage *>(window->currentPage());
    ASSERT_NE(history, nullptr) << "the History section shows the History page";
    ASSERT_EQ(history->model().rows().size(), 1);
    EXPECT_EQ(history->model().rows().front().text, QStringLiteral("Send the draft to Maria"));
    EXPECT_TRUE(app->controller().incidents().hasUnread()) << "History marks nothing read";

    app->windowModel().setSelection(AppWindowSection::support);
    ASSERT_TRUE(settle([&] { return window->findChild<SupportPage *>() != nullptr; }));
    auto *support = window->findChild<SupportPage *>();
    ASSERT_TRUE(settle([&] { return support->isVisible(); }));
    EXPECT_EQ(support->incidentRows().size(), 1);
    EXPECT_FALSE(app->controller().incidents().hasUnread()) << "coming to Support from History marks issues read";

    // Copying the issue report reaches the application's clipboard.
    support->incidentRows().front()->copyButton()->click();
    EXPECT_EQ(services.pasteboard.text(), app->controller().incidents().items().front().reportText());
}

} // namespace

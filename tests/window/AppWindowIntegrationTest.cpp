// The main window on a private X display: opened at a page the way the panel's footer and
// "Settings…" open it, kept out of the taskbar by default, and the API key typed and tested.
#include "app/ZEPAquarnApp.h"
#include "pipeline/DictationController.h"
#include "pipeline/SettingsDefaults.h"
#include "platform/linux/QtHttpClient.h"
#include "platform/linux/freedesktop/LibsecretStore.h"
#include "platform/linux/x11/X11TaskbarPresence.h"
#include "records/StatsStore.h"
#include "rewards/motion/PillAnimationGalleryView.h"
#include "rewards/stats/StatsPage.h"
#include "support/DBusSession.h"
#include "support/FakeDictationServices.h"
#include "support/FakePermissionProbe.h"
#include "support/LoopbackTranscriptionServer.h"
#include "support/ServiceEnvironment.h"
#include "support/WindowTestSupport.h"
#include "window/AppWindowView.h"
#include "window/onboarding/OnboardingView.h"
#include "window/settings/AppSettingsModel.h"
#include "window/settings/AppSettingsView.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace zq;
using test::LoopbackTranscriptionServer;

namespace {

class AppWindowIntegrationTest : public test::WindowAppFixture {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(test::requireService(QGuiApplication::platformName() == QLatin1String("xcb"), "no X display"));
        ASSERT_TRUE(server.start()) << server.errorString().toStdString();
        services.settings.setValue(keys::onboarded, false);
        keyTest = APIKeyTestConfig{QUrl(server.baseUrl()), 15s, std::make_shared<platform::QtHttpClient>()};
        makeApp(appServices(), [](QWidget &window, bool shown) {
            window.winId();
            platform::setX11TaskbarPresence(*window.windowHandle(), shown);
        });
        app->showScenes();
    }

    LoopbackTranscriptionServer server;
};

TEST_F(AppWindowIntegrationTest, TheFooterAndSettingsOpenTheWindowAtTheirPage)
{
    // The panel footer's order: choose the page, then open the window.
    app->windowModel().setSelection(AppWindowSection::audio);
    app->openMainWindow();
    AppWindowView *window = app->mainWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(settle([&] { return window->isVisible() && window->windowHandle()->isExposed(); }));
    EXPECT_EQ(window->currentPage(), window->settingsView());
    EXPECT_EQ(window->settingsView()->section(), AppWindowSection::audio);

    window->close();
    app->openSettings();
    ASSERT_TRUE(settle([&] { return window->isVisible(); }));
    EXPECT_EQ(app->windowModel().selection(), AppWindowSection::general);
    EXPECT_EQ(window->settingsView()->section(), AppWindowSection::general);
}

TEST_F(AppWindowIntegrationTest, CtrlCommaOpensTheSettingsFromAnotherWindow)
{
    ASSERT_NE(app->onboardingWindow(), nullptr);
    QWindow *onboarding = app->onboardingWindow()->windowHandle();
    ASSERT_NE(onboarding, nullptr);
    app->windowModel().setSelection(AppWindowSection::faq);
    QTest::keyClick(onboarding, Qt::Key_Comma, Qt::ControlModifier);
    ASSERT_NE(app->mainWindow(), nullptr);
    ASSERT_TRUE(settle([&] { return app->mainWindow()->isVisible(); }));
    EXPECT_EQ(app->windowModel().selection(), AppWindowSection::general);
}

TEST_F(AppWindowIntegrationTest, TheWindowStaysOutOfTheTaskbarUntilShowInTaskbarIsOn)
{
    app->openSettings();
    AppWindowView *window = app->mainWindow();
    ASSERT_TRUE(settle([&] { return window->isVisible(); }));
    EXPECT_TRUE(platform::hasX11SkipTaskbarHint(*window->windowHandle())) << "off by default";

    QAbstractButton *showInTaskbar = nullptr;
    for (auto *candidate : window->findChildren<QAbstractButton *>())
        if (candidate->accessibleName() == QLatin1String("Show in taskbar"))
            showInTaskbar = candidate;
    ASSERT_NE(showInTaskbar, nullptr);
    showInTaskbar->click();
    ASSERT_TRUE(services.settings.boolValue(keys::showInDock));
    EXPECT_TRUE(settle([&] { return !platform::hasX11SkipTaskbarHint(*window->windowHandle()); }));
}

TEST_F(AppWindowIntegrationTest, TheGalleryAndTheStatsPageShareTheApplicationsMotionStore)
{
    // Enough words for the first tier: 20000 words typed would take over eight hours.
    app->controller().stats().setArmedTake(0.5);
    app->controller().stats().commitTake(20000, QDateTime::currentDateTime());
    app->windowModel().setSelection(AppWindowSection::general);
    app->openMainWindow();
    AppWindowView *window = app->mainWindow();
    ASSERT_TRUE(settle([&] { return window->isVisible(); }));
    auto *gallery = window->findChild<PillAnimationGalleryView *>();
    ASSERT_NE(gallery, nullptr);
    const auto tile = [&](PillAnimationStyle style) -> PillAnimationTile * {
        for (PillAnimationTile *candidate : gallery->tiles())
            if (candidate->option().style == style)
                return candidate;
        return nullptr;
    };
    ASSERT_NE(tile(PillAnimationStyle::surface), nullptr);
    tile(PillAnimationStyle::surface)->click();
    EXPECT_EQ(app->motion().style(), PillAnimationStyle::surface) << "a tile chooses in the application's store";
    app->motion().select(PillAnimationStyle::scaledPieces, app->controller().stats().lifetimeReclaimed());
    EXPECT_TRUE(tile(PillAnimationStyle::scaledPieces)->option().isSelected) << "the gallery follows the store";

    app->windowModel().setSelection(AppWindowSection::stats);
    ASSERT_TRUE(settle([&] { return qobject_cast<StatsPage *>(window->currentPage()) != nullptr; }));
    auto *stats = qobject_cast<StatsPage *>(window->currentPage());
    EXPECT_TRUE(settle([&] { return stats->unlockLine()->isVisible(); })) << "the unlock is announced";
    EXPECT_TRUE(app->motion().announced().contains(PillAnimationStyle::scaledPieces));
}

// The same window over a real secret service: gnome-keyring on the process's private session bus.
class AppWindowKeyringIntegrationTest : public AppWindowIntegrationTest {
protected:
    void SetUp() override
    {
        test::DBusSession *bus = test::processSessionBus();
        const bool ok = bus && bus->startKeyring();
        ASSERT_TRUE(test::requireService(ok, bus ? bus->errorString() : test::processSessionBusError()));
        store = std::make_shared<platform::LibsecretStore>();
        AppWindowIntegrationTest::SetUp();
    }
};

TEST_F(AppWindowKeyringIntegrationTest, ATypedKeyIsSavedToTheKeyringAndTestedWithExactlyOneRequest)
{
    services.settings.setValue(keys::backend, QStringLiteral("openai"));
    app->windowModel().setSelection(AppWindowSection::transcription);
    app->openMainWindow();
    AppWindowView *window = app->mainWindow();
    ASSERT_TRUE(settle([&] { return window->isVisible() && window->windowHandle()->isExposed(); }));

    auto *field = window->findChild<QLineEdit *>(QStringLiteral("apiKeyField"));
    ASSERT_NE(field, nullptr);
    ASSERT_TRUE(field->isVisible());
    field->setFocus();
    QTest::keyClicks(field, QStringLiteral("sk-live-123"));
    QAbstractButton *run = nullptr;
    for (auto *button : window->findChildren<QAbstractButton *>())
        if (button->accessibleName() == QLatin1String("Run Test") && button->isVisible())
            run = button;
    ASSERT_NE(run, nullptr);
    QTest::mouseClick(run, Qt::LeftButton);

    ASSERT_TRUE(settle([&] { return server.requestCount() >= 1; }));
    const auto resultShown = [&] {
        for (auto *label : window->findChildren<QLabel *>())
            if (label->isVisible() && label->text() == QString::fromUtf8("✓ Key valid"))
                return true;
        return false;
    };
    ASSERT_TRUE(settle([&] { return run->isVisible() && resultShown(); })) << "the row shows the result";
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1) << "one request, no keystroke of its own";
    EXPECT_EQ(requests[0].target, "/v1/models");
    EXPECT_EQ(requests[0].header("Authorization"), "Bearer sk-live-123");
    EXPECT_EQ(Keychain(store).readAPIKey(), QStringLiteral("sk-live-123")) << "the keyring holds the typed key";
}

} // namespace

// The application's main window on a private X display shows the History and Support pages:
// transcripts under History, and under Support the recent issues, which are marked read as the
// page appears, so the sidebar's issue dot goes.
#include "app/ZEPAquarnApp.h"
#include "menubar/brand/ZepaButton.h"
#include "pipeline/DictationController.h"
#include "pipeline/SettingsDefaults.h"
#include "support/FakePermissionProbe.h"
#include "support/ServiceEnvironment.h"
#include "support/WindowTestSupport.h"
#include "window/AppWindowView.h"
#include "window/history/HistoryPage.h"
#include "window/history/HistoryPageModel.h"
#include "window/settings/AppSettingsModel.h"
#include "window/support/IncidentRow.h"
#include "window/support/SupportPage.h"

#include <QApplication>
#include <QGuiApplication>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace zq;

namespace {

class SupportPageAppIntegrationTest : public test::WindowAppFixture {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(test::requireService(QGuiApplication::platformName() == QLatin1String("xcb"), "no X display"));
        services.settings.setValue(keys::onboarded, true);
        makeApp(appServices());
    }
};

TEST_F(SupportPageAppIntegrationTest, HistoryListsTranscriptsAndSupportMarksItsIssuesRead)
{
    app->controller().history().add(QStringLiteral("Send the draft to Maria"));
    test::insertIncident(app->controller().incidents(), QStringLiteral("No audio"));
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

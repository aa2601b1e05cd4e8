// The Support page rendered offscreen in light and dark: empty, three issues (one retrying, one
// failed) with an update available, and the recovery section; a few probes each.
#include "window/support/SupportPage.h"

#include "menubar/brand/Text.h"
#include "menubar/brand/ZepaButton.h"
#include "rewards/updates/Updater.h"
#include "support/FakeDictationServices.h"
#include "support/FakeUpdateFramework.h"
#include "support/TestFiles.h"
#include "support/ViewRender.h"
#include "window/AppAppearance.h"
#include "window/settings/SettingsRows.h"
#include "window/support/IncidentRow.h"
#include "window/support/SupportPageModel.h"

#include <QApplication>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace zq;

namespace {

QApplication &application()
{
    return *qobject_cast<QApplication *>(QCoreApplication::instance());
}

class SupportPageTest : public ::testing::TestWithParam<AppAppearance> {
protected:
    SupportPageTest()
    {
        applyAppearance(application(), GetParam());
        auto owned = std::make_unique<test::FakeUpdateFramework>();
        framework = owned.get();
        updater = std::make_unique<Updater>(
            UpdateAvailabilityStore(rig.settings, QStringLiteral("4")),
            UpdateReminder::live(rig.settings, rig.loop.clocks(), rig.loop, rig.notifications), std::move(owned),
            [this] { return rig.loop.clocks().wallNow(); });
    }
    ~SupportPageTest() override
    {
        page.reset();
        applyAppearance(application(), AppAppearance::system);
    }

    ColorScheme scheme() const { return GetParam() == AppAppearance::dark ? ColorScheme::dark : ColorScheme::light; }
    QString suffix() const
    {
        return GetParam() == AppAppearance::dark ? QStringLiteral("-dark") : QStringLiteral("-light");
    }
    QColor color(Palette::Token token) const { return Palette::color(token, scheme()); }

    DictationIncident addIncident(const QString &title, bool withRecording)
    {
        DictationIncident incident;
        incident.id = QUuid::createUuid();
        incident.date = QDateTime(QDate(2026, 3, 2), QTime(9, 5));
        incident.code = QStringLiteral("ZQ-TX-TIMEOUT");
        incident.title = title;
        incident.message = QStringLiteral("The on-device engine took too long to answer.");
        incident.nextStep = QStringLiteral("Retry the kept recording, or dictate again.");
        if (withRecording) {
            incident.recordingFilename = incident.id.toString(QUuid::WithoutBraces).toUpper() + QStringLiteral(".wav");
            test::writeFile(rig.incidents->recordingsDirectory() + QLatin1Char('/') + *incident.recordingFilename,
                            "RIFF");
        }
        rig.incidents->insert(incident);
        return incident;
    }

    SupportPage &open()
    {
        auto *model = new SupportPageModel({*rig.controller, *rig.incidents, updater.get(), [](RevealDone) {}});
        page = std::make_unique<SupportPage>(
            *model, SupportPage::Services{rig.pasteboard, rig.loop, QLocale(QLocale::English, QLocale::UnitedStates)});
        model->setParent(page.get());
        page->resize(700, page->sizeHint().height());
        page->show();
        return *page;
    }

    QImage render(const QString &name)
    {
        for (int pass = 0; pass < 3; ++pass)
            QApplication::processEvents();
        page->resize(700, page->sizeHint().height());
        QApplication::processEvents();
        const QImage image = test::renderWidget(*page, 1.0, color(Palette::windowBackground));
        test::saveRender(image, name + suffix());
        return image;
    }

    QRectF within(QWidget *widget) const { return QRectF(widget->mapTo(page.get(), QPoint(0, 0)), widget->size()); }

    test::FakeDictationServices rig;
    test::FakeUpdateFramework *framework = nullptr;
    std::unique_ptr<Updater> updater;
    std::unique_ptr<SupportPage> page;
};

TEST_P(SupportPageTest, EmptyShowsTheAllClearRowAndNoWarningIcons)
{
    open();
    const QImage image = render(QStringLiteral("support-empty"));
    EXPECT_TRUE(page->incidentRows().isEmpty());
    EXPECT_FALSE(page->recoverySection()->isVisible());
    const auto titles = page->incidentsSection()->findChildren<QLabel *>();
    EXPECT_TRUE(std::any_of(titles.begin(), titles.end(),
                            [](QLabel *label) { return label->text() == QStringLiteral("No recent failures"); }));
    // No detail under "Recent issues": the section's header is its title alone.
    EXPECT_FALSE(std::any_of(titles.begin(), titles.end(),
                             [](QLabel *label) { return label->text().startsWith(QStringLiteral("Issue details")); }));
    EXPECT_TRUE(test::colorBounds(image, color(Palette::danger), 8).isEmpty());
    EXPECT_EQ(page->updateButton()->text(), QStringLiteral("Check Now"));

    // The defaults, checks on and installs off, show as two different switches.
    ASSERT_TRUE(updater->automaticallyChecksEnabled() && !updater->automaticallyDownloadsUpdates());
    EXPECT_TRUE(page->automaticChecksSwitch()->isChecked());
    EXPECT_FALSE(page->automaticDownloadsSwitch()->isChecked());
    EXPECT_NE(image.copy(within(page->automaticChecksSwitch()).toRect()),
              image.copy(within(page->automaticDownloadsSwitch()).toRect()));
}

TEST_P(SupportPageTest, ThreeIssuesWithOneRetryingAndOneFailedAndAnUpdateAvailable)
{
    addIncident(QStringLiteral("Microphone unavailable"), false);
    const DictationIncident failed = addIncident(QStringLiteral("Transcription failed"), true);
    const DictationIncident retrying = addIncident(QStringLiteral("Transcription timed out"), true);
    open();
    rig.controller->setRecoveredTranscriptionState(
        RecoveredTranscriptionState::failed(failed.id, QStringLiteral("The saved recording could not be read.")));
    rig.controller->setRecoveredTranscriptionState(RecoveredTranscriptionState::transcribing(retrying.id));
    framework->delegate().didFindValidUpdate(
        test::FakeUpdateFramework::item(QStringLiteral("2.0"), QStringLiteral("9")));
    QImage image = render(QStringLiteral("support-retrying"));

    const QList<IncidentRow *> rows = page->incidentRows();
    ASSERT_EQ(rows.size(), 3);
    IncidentRow *top =
        page->findChild<IncidentRow *>(QStringLiteral("incidentRow-") + retrying.id.toString(QUuid::WithoutBraces));
    ASSERT_TRUE(top);
    EXPECT_TRUE(top->retryingIndicator()->isVisible());
    EXPECT_FALSE(top->retryButton()->isVisible());
    EXPECT_FALSE(top->deleteButton()->isEnabled());
    const int copyWhileRetrying = top->copyButton()->x();
    for (IncidentRow *row : rows) {
        if (row == top)
            continue;
        EXPECT_TRUE(row->deleteButton()->isEnabled());
        EXPECT_FALSE(row->retryButton()->isEnabled()) << "one re-transcription at a time";
    }
    // Warning triangles in the danger colour, one per row, in the icon column.
    const QRectF triangles = test::colorBounds(image, color(Palette::danger), 12);
    EXPECT_FALSE(triangles.isEmpty());
    EXPECT_LT(triangles.left(), 40);
    // The Updates row's icon wears the warning colour and offers "Update".
    EXPECT_EQ(page->updateButton()->text(), QStringLiteral("Update"));
    const QRectF updatesRow = within(page->updatesRow());
    const QRectF warning = test::colorBounds(image.copy(updatesRow.toRect()), color(Palette::warning), 12);
    EXPECT_FALSE(warning.isEmpty());
    EXPECT_LT(warning.left(), 32);

    rig.controller->setRecoveredTranscriptionState(
        RecoveredTranscriptionState::failed(failed.id, QStringLiteral("The saved recording could not be read.")));
    image = render(QStringLiteral("support-failed"));
    IncidentRow *failedRow =
        page->findChild<IncidentRow *>(QStringLiteral("incidentRow-") + failed.id.toString(QUuid::WithoutBraces));
    ASSERT_TRUE(failedRow);
    ASSERT_TRUE(failedRow->failureLabel()->isVisible());
    EXPECT_EQ(failedRow->failureLabel()->text(), QStringLiteral("The saved recording could not be read."));
    const QRectF message = within(failedRow->failureLabel());
    EXPECT_FALSE(test::colorBounds(image.copy(message.toRect()), color(Palette::danger), 40).isEmpty());
    EXPECT_TRUE(failedRow->retryButton()->isEnabled());
    EXPECT_EQ(top->copyButton()->x(), copyWhileRetrying) << "the end of a retry moves no button";
}

TEST_P(SupportPageTest, RecoveryStandsAboveTheIssuesAndTheRecoveredIncidentIsGone)
{
    const DictationIncident recovered = addIncident(QStringLiteral("Transcription timed out"), true);
    addIncident(QStringLiteral("Microphone unavailable"), false);
    open();
    rig.incidents->remove(recovered);
    rig.controller->setRecoveredTranscriptionState(RecoveredTranscriptionState::succeeded(true));
    const QImage image = render(QStringLiteral("support-recovery"));
    ASSERT_TRUE(page->recoverySection()->isVisible());
    EXPECT_EQ(page->recoveryRow()->detail(), QStringLiteral("Saved in History and copied to the clipboard."));
    EXPECT_LT(within(page->recoverySection()).bottom(), within(page->incidentsSection()).top());
    EXPECT_EQ(page->incidentRows().size(), 1);
    // The recovery row's icon sits in the icon column in the secondary tint.
    const QRectF icon = within(page->recoveryRow()).adjusted(0, 0, -(page->width() - 34), 0);
    EXPECT_FALSE(test::colorBounds(image.copy(icon.toRect()), color(Palette::textSecondary), 40).isEmpty());

    rig.controller->setRecoveredTranscriptionState(RecoveredTranscriptionState::idle());
    QApplication::processEvents();
    EXPECT_FALSE(page->recoverySection()->isVisible());
}

INSTANTIATE_TEST_SUITE_P(Appearances, SupportPageTest, ::testing::Values(AppAppearance::light, AppAppearance::dark),
                         [](const auto &info) {
                             return info.param == AppAppearance::dark ? std::string("Dark") : std::string("Light");
                         });

} // namespace

// The Support page on the real stores in a sandbox: a kept recording retried from its row with the
// on-device recogniser, deleting an incident with its recording, and "Show Recording" and "Reveal"
// through the file manager's D-Bus interface on a private bus, with the folder fallback, and the
// line each row shows when nothing on the desktop could show the file.
#include "window/support/SupportPage.h"

#include "menubar/brand/Text.h"
#include "menubar/brand/ZepaButton.h"
#include "pipeline/BackendFactory.h"
#include "platform/AudioFile.h"
#include "platform/linux/speech/PocketSphinxRecognizer.h"
#include "records/Diagnostics.h"
#include "support/DBusSession.h"
#include "support/FakeDictationServices.h"
#include "support/FakeFileManager.h"
#include "support/Polling.h"
#include "support/ServiceEnvironment.h"
#include "support/SpeechSamples.h"
#include "support/TestFiles.h"
#include "support/ViewRender.h"
#include "window/settings/SettingsRows.h"
#include "window/support/IncidentRow.h"
#include "window/support/SupportPageModel.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QToolButton>
#include <QUrl>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace zq;

namespace {

class SupportPageIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The file manager is looked up on the session bus: this process's private one.
        test::DBusSession *bus = test::processSessionBus();
        ASSERT_TRUE(test::requireService(bus != nullptr, test::processSessionBusError()));
        const QDBusConnection session = QDBusConnection::sessionBus();
        ASSERT_TRUE(session.isConnected() && bus->hasOwner(session.baseService()));
        const bool serving = fileManager.start(bus->address());
        ASSERT_TRUE(test::requireService(serving, fileManager.errorString()));

        writeOpener(0);
    }

    void TearDown() override { qputenv("PATH", originalPath); }

    // Without a file manager the folder is opened with xdg-open: this one notes what it was given
    // and ends with `status` (xdg-open's 3: no handler for a folder). It alone is on PATH.
    void writeOpener(int status)
    {
        const QString script = tools.filePath(QStringLiteral("xdg-open"));
        test::writeFile(script, QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$1\" >> '%1'\nexit %2\n")
                                    .arg(tools.filePath(QStringLiteral("opened")))
                                    .arg(status)
                                    .toUtf8());
        QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("PATH", tools.path().toUtf8());
    }

    bool settle(const std::function<bool()> &done, std::chrono::milliseconds timeout = test::kLoadedMachineTimeout)
    {
        return test::processEventsUntil(rig.loop, done, timeout);
    }

    DictationIncident keepRecording(bool speech) { return keepRecording(speech, *rig.incidents); }
    DictationIncident keepRecording(bool speech, IncidentStore &store)
    {
        DictationIncident incident;
        incident.id = QUuid::createUuid();
        incident.date = QDateTime::currentDateTime();
        incident.code = QStringLiteral("ZQ-TX-TIMEOUT");
        incident.title = QStringLiteral("Transcription timed out");
        incident.backend = QStringLiteral("local");
        incident.recordingFilename = incident.id.toString(QUuid::WithoutBraces).toUpper() + QStringLiteral(".wav");
        const QString path = store.recordingsDirectory() + QLatin1Char('/') + *incident.recordingFilename;
        if (speech) {
            platform::AudioFormat format;
            format.sampleRate = 16000;
            format.channelCount = 1;
            format.commonFormat = platform::AudioFormat::CommonFormat::int16;
            auto file = platform::AudioFile::createForWriting(path, format);
            EXPECT_TRUE(file);
            const auto samples = test::loadRawSpeech(test::kGoForwardSpeech);
            platform::PCMBuffer buffer(format, static_cast<std::uint32_t>(samples.size()));
            std::copy(samples.begin(), samples.end(), buffer.channelData(0));
            buffer.setFrameLength(static_cast<std::uint32_t>(samples.size()));
            EXPECT_TRUE(file && file.value()->write(buffer));
        } else {
            test::writeFile(path, "RIFF");
        }
        store.insert(incident);
        return incident;
    }

    SupportPage &open(std::function<void(RevealDone)> revealDiagnostics = {}, IncidentStore *store = nullptr)
    {
        auto *model = new SupportPageModel(
            {*rig.controller, store ? *store : *rig.incidents, nullptr, std::move(revealDiagnostics)});
        page = std::make_unique<SupportPage>(*model, SupportPage::Services{rig.pasteboard, rig.loop});
        model->setParent(page.get());
        return *page;
    }

    IncidentRow *rowOf(const DictationIncident &incident) const
    {
        return page->findChild<IncidentRow *>(QStringLiteral("incidentRow-") +
                                              incident.id.toString(QUuid::WithoutBraces));
    }

    QStringList opened() const
    {
        return QString::fromUtf8(test::readFile(tools.filePath(QStringLiteral("opened"))))
            .split('\n', Qt::SkipEmptyParts);
    }

    const QByteArray originalPath = qgetenv("PATH");
    test::FakeFileManager fileManager;
    QTemporaryDir tools;
    QTemporaryDir noTools;
    test::FakeDictationServices rig{test::FakeDictationServices::Options{false, false}};
    std::unique_ptr<SupportPage> page;
};

TEST_F(SupportPageIntegrationTest, RetryFromTheRowTranscribesTheKeptRecordingOnDeviceSavesAndCopiesIt)
{
    ZQ_REQUIRE_SERVICE(platform::PocketSphinxModel::debianEnglish().isInstalled() &&
                           QFile::exists(test::kGoForwardSpeech),
                       "the pocketsphinx-en-us model and pocketsphinx-testdata are needed");
    DictationController::Dependencies deps = rig.dependencies();
    deps.makeBackend =
        makeBackendFactory(BackendEnvironment{&rig.loop, std::make_shared<platform::PocketSphinxRecognizer>(), {}});
    rig.controller = std::make_unique<DictationController>(std::move(deps));

    const DictationIncident incident = keepRecording(true);
    const QString recording = *rig.incidents->recordingURL(incident);
    open();
    IncidentRow *row = rowOf(incident);
    ASSERT_TRUE(row);
    ASSERT_TRUE(row->retryButton()->isEnabled());
    row->retryButton()->click();
    EXPECT_TRUE(row->retryingIndicator()->isVisibleTo(page.get()));
    EXPECT_FALSE(row->deleteButton()->isEnabled());

    ASSERT_TRUE(settle([&] {
        return rig.controller->recoveredTranscriptionState().is(RecoveredTranscriptionState::Kind::succeeded);
    })) << "state "
        << int(rig.controller->recoveredTranscriptionState().kind()) << ": "
        << rig.controller->recoveredTranscriptionState().message().toStdString();
    EXPECT_EQ(rig.controller->history().latestText(), QStringLiteral("go forward ten meters"));
    EXPECT_EQ(rig.copied, QStringList{QStringLiteral("go forward ten meters")});
    EXPECT_TRUE(rig.incidents->items().isEmpty());
    EXPECT_FALSE(QFile::exists(recording));
    QCoreApplication::processEvents();
    EXPECT_TRUE(page->recoverySection()->isVisibleTo(page.get()));
    EXPECT_TRUE(page->incidentRows().isEmpty());
}

TEST_F(SupportPageIntegrationTest, DeletingAnIncidentRemovesItsRecordingFile)
{
    rig.makeController();
    const DictationIncident incident = keepRecording(false);
    const QString recording = *rig.incidents->recordingURL(incident);
    open();
    rowOf(incident)->deleteButton()->click();
    EXPECT_FALSE(QFile::exists(recording));
    EXPECT_TRUE(rig.incidents->items().isEmpty());
    // Saved: a store opened anew agrees.
    EXPECT_TRUE(IncidentStore(rig.incidents->directory()).items().isEmpty());
}

TEST_F(SupportPageIntegrationTest, ShowRecordingAndRevealReachTheDesktopOrSayWhereTheFileIs)
{
    rig.makeController();
    QTemporaryDir logs;
    Diagnostics::Options options;
    options.logDirectory = logs.path();
    options.crashReportDirectory = logs.filePath(QStringLiteral("reports"));
    options.mainLoop = &rig.loop;
    options.watchdogQueue = &rig.loop;
    options.clocks = &rig.loop.clocks();
    Diagnostics diagnostics(options);
    // A store that reveals through the desktop, as the application's does.
    IncidentStore store(rig.dir.filePath(QStringLiteral("Revealed")));
    const DictationIncident incident = keepRecording(false, store);
    const QString recording = *store.recordingURL(incident);
    const QString journal = diagnostics.journal().currentLogPath();
    open([&](RevealDone done) { diagnostics.revealInFileManager(std::move(done)); }, &store);
    test::wearColorScheme(*page, ColorScheme::light);
    page->resize(700, page->sizeHint().height());
    page->show();
    IncidentRow *row = rowOf(incident);
    StyledLabel *rowLine = row->revealFailureLabel();
    StyledLabel *diagnosticsLine = page->diagnosticsRow()->detailLabel();
    const auto says = [](StyledLabel *line, const QString &path) {
        return line->isVisibleTo(line->window()) && line->colorToken() == Palette::danger &&
               line->text().remove(QChar(0x200B)).remove(QChar(0x2060)).contains(QFileInfo(path).fileName());
    };

    enum class Opener { missing, failing, opening };
    // In order, on one page: each case starts where the one before left the rows, so a line that
    // must go away has been there.
    const struct {
        const char *name;
        bool fileManager;
        Opener opener;
        bool line;
    } cases[] = {
        {"no file manager and no xdg-open", false, Opener::missing, true},
        {"a file manager on the bus", true, Opener::opening, false},
        {"no file manager, xdg-open finds no handler", false, Opener::failing, true},
        {"no file manager, xdg-open opens the folder", false, Opener::opening, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.fileManager)
            ASSERT_TRUE(fileManager.start(test::processSessionBus()->address()));
        else
            fileManager.stop();
        if (c.opener == Opener::missing)
            qputenv("PATH", noTools.path().toUtf8());
        else
            writeOpener(c.opener == Opener::failing ? 3 : 0);
        const size_t called = fileManager.shownItems().size();
        const qsizetype opens = opened().size();

        rowOf(incident)->showRecordingButton()->click();
        page->revealButton()->click();
        ASSERT_TRUE(settle(
            [&] { return says(rowLine, recording) == c.line && says(diagnosticsLine, journal) == c.line; }, 15s));
        if (c.fileManager) {
            ASSERT_EQ(fileManager.shownItems().size(), called + 2);
            EXPECT_EQ(fileManager.shownItems()[called], QStringList{QUrl::fromLocalFile(recording).toString()});
            EXPECT_EQ(fileManager.shownItems()[called + 1], QStringList{QUrl::fromLocalFile(journal).toString()});
        } else if (c.opener != Opener::missing) {
            ASSERT_TRUE(settle([&] { return opened().size() == opens + 2; }, 10s));
            // The two openers run side by side: either may write first.
            QStringList folders;
            for (const QString &folder : opened().mid(opens))
                folders << QFileInfo(folder).absoluteFilePath();
            folders.sort();
            QStringList expected{QFileInfo(recording).absolutePath(), QFileInfo(logs.path()).absoluteFilePath()};
            expected.sort();
            EXPECT_EQ(folders, expected);
        }
        EXPECT_EQ(opened().size() - opens, c.opener == Opener::missing || c.fileManager ? 0 : 2);
        if (!c.line) {
            EXPECT_EQ(page->diagnosticsRow()->detail(), QStringLiteral("Local lifecycle, hang and crash reports."));
        }

        // As the user sees it: a line in the danger colour under the row's footer, or nothing there.
        page->resize(700, page->sizeHint().height());
        QCoreApplication::processEvents();
        const QColor danger = Palette::color(Palette::danger, ColorScheme::light);
        const QImage image =
            test::renderWidget(*page, 1.0, Palette::color(Palette::windowBackground, ColorScheme::light));
        test::saveRender(
            image,
            QStringLiteral("support-reveal-%1").arg(c.line ? QStringLiteral("unshown") : QStringLiteral("shown")));
        QRect underFooter(row->mapTo(page.get(), QPoint(0, 0)), row->size());
        underFooter.setTop(row->deleteButton()->mapTo(page.get(), QPoint(0, row->deleteButton()->height())).y());
        EXPECT_EQ(!test::colorBounds(image.copy(underFooter), danger, 40).isEmpty(), c.line);
    }
}

} // namespace

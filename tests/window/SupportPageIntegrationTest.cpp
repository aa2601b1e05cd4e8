// The Support page on the real stores in a sandbox: a kept recording retried from its row with the
// on-device recogniser, deleting an incident with its recording, and "Show Recording" and "Reveal"
// through the file manager's D-Bus interface on a private bus, with the folder fallback.
#include "window/SupportPage.h"

#include "menubar/brand/ZepaButton.h"
#include "pipeline/BackendFactory.h"
#include "platform/AudioFile.h"
#include "platform/linux/PocketSphinxRecognizer.h"
#include "records/Diagnostics.h"
#include "support/DBusSession.h"
#include "support/FakeDictationServices.h"
#include "support/FakeFileManager.h"
#include "support/Polling.h"
#include "support/ServiceEnvironment.h"
#include "support/SpeechSamples.h"
#include "support/TestFiles.h"
#include "window/IncidentRow.h"
#include "window/SupportPageModel.h"

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

        // Without a file manager the folder is opened with xdg-open: this one notes what it was given.
        const QString script = tools.filePath(QStringLiteral("xdg-open"));
        test::writeFile(script, QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$1\" >> '%1'\n")
                                    .arg(tools.filePath(QStringLiteral("opened")))
                                    .toUtf8());
        QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("PATH", (tools.path() + QLatin1Char(':') + qgetenv("PATH")).toUtf8());
    }

    bool settle(const std::function<bool()> &done, std::chrono::milliseconds timeout = 30s)
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

    SupportPage &open(std::function<void()> revealDiagnostics = {}, IncidentStore *store = nullptr)
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

    test::FakeFileManager fileManager;
    QTemporaryDir tools;
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

TEST_F(SupportPageIntegrationTest, ShowRecordingAndRevealAskTheFileManagerAndFallBackToTheFolder)
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
    open([&] { diagnostics.revealInFileManager(); }, &store);

    rowOf(incident)->showRecordingButton()->click();
    ASSERT_TRUE(settle([&] { return fileManager.shownItems().size() >= 1; }, 10s));
    EXPECT_EQ(fileManager.shownItems()[0], QStringList{QUrl::fromLocalFile(recording).toString()});

    page->revealButton()->click();
    ASSERT_TRUE(settle([&] { return fileManager.shownItems().size() >= 2; }, 10s));
    const QString journal = QUrl(fileManager.shownItems()[1].value(0)).toLocalFile();
    EXPECT_EQ(QFileInfo(journal).absolutePath(), QFileInfo(logs.path()).absoluteFilePath());

    // No file manager on the bus: the folder opens instead.
    fileManager.stop();
    rowOf(incident)->showRecordingButton()->click();
    ASSERT_TRUE(settle([&] { return !opened().isEmpty(); }, 10s));
    EXPECT_EQ(opened().front(), QFileInfo(recording).absolutePath());
    page->revealButton()->click();
    ASSERT_TRUE(settle([&] { return opened().size() == 2; }, 10s));
    EXPECT_EQ(QFileInfo(opened()[1]).absoluteFilePath(), QFileInfo(logs.path()).absoluteFilePath());
}

} // namespace

// Transcribing kept recordings again.

#include "pipeline/DictationController.h"

#include "records/HistoryStore.h"
#include "records/IncidentPresentation.h"
#include "records/IncidentStore.h"
#include "support/DictationControllerFixture.h"
#include "support/HeldStoreWriter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace zq;
using namespace zq::test;

namespace {

using State = RecoveredTranscriptionState;

class DictationControllerRetranscriptionTest : public DictationControllerFixture {
protected:
    // A take that timed out, leaving an incident with its recording.
    DictationIncident timedOutIncident()
    {
        EXPECT_TRUE(rig.startLive());
        recordFor(1.5);
        controller.requestFinish();
        rig.advance(136);
        rig.advance(2);
        EXPECT_FALSE(rig.incidents->items().isEmpty());
        return rig.incidents->items().front();
    }

    // The retry's transcription, once it asked for one.
    std::shared_ptr<FakeTranscription> retryTranscription()
    {
        rig.loop.runUntilIdle();
        return rig.backends.last();
    }
};

TEST_F(DictationControllerRetranscriptionTest, ASuccessfulRetryStoresCopiesAndRemovesTheIncident)
{
    const DictationIncident incident = timedOutIncident();
    const QString recording = rig.incidents->recordingURL(incident).value_or(QString());
    ASSERT_TRUE(QFile::exists(recording));
    rig.clearEvents();

    controller.retryRecoveredTranscription(incident);
    EXPECT_EQ(controller.recoveredTranscriptionState(), State::transcribing(incident.id));
    auto transcription = retryTranscription();
    ASSERT_TRUE(transcription && transcription->source->isFile());
    EXPECT_EQ(transcription->source->asFile()->path, recording);
    EXPECT_EQ(transcription->language, QStringLiteral("auto"));
    transcription->partial(QStringLiteral("rec"));
    transcription->final(QStringLiteral("first"));
    transcription->final(QStringLiteral(" recovered words "));
    transcription->finish();
    rig.loop.runUntilIdle();

    EXPECT_EQ(controller.recoveredTranscriptionState(), State::succeeded(true));
    EXPECT_EQ(rig.copied, QStringList{QStringLiteral("Cleaned: recovered words")});
    EXPECT_EQ(rig.history->items().front().text, QStringLiteral("Cleaned: recovered words"));
    EXPECT_TRUE(rig.incidents->items().isEmpty());
    EXPECT_FALSE(QFile::exists(recording));
    EXPECT_TRUE(rig.keys.pastedTexts().isEmpty());
    EXPECT_TRUE(rig.stats->days().isEmpty());
    EXPECT_EQ(rig.announcements.back(),
              QStringLiteral("Transcript recovered, saved in History, and copied to the clipboard."));
    EXPECT_EQ(rig.lastMetadata(DiagnosticEvent::transcriptionCompleted).value(QStringLiteral("recovered")),
              QStringLiteral("true"));
    EXPECT_TRUE(rig.controller->pillState().is(PillState::Kind::hidden));

    // A new take clears the result.
    ASSERT_TRUE(rig.startLive());
    EXPECT_EQ(controller.recoveredTranscriptionState(), State::idle());
}

// Until History's save holding the recovered words is on disk, the recording is their only copy: a run
// killed before then must leave the next start the incident with its recording, for another try.
TEST(DictationControllerRecoveredWordsTest, ARecordingGoesOnlyOnceHistoryHoldsItsWordsOnDisk)
{
    const struct {
        const char *name;
        bool historyWritable;
    } cases[] = {{"saved", true}, {"History cannot be written", false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        // History's saves queue behind a write that waits for the test.
        const QTemporaryDir heldFolder;
        zq::test::HeldStoreWriter held(heldFolder.filePath(QStringLiteral("held.json")));
        FakeDictationServices r;
        r.history->setWriter(&held.writer);
        if (!c.historyWritable) {
            ASSERT_TRUE(QDir().mkpath(r.history->filePath()));
        }
        ASSERT_TRUE(r.startLive());
        for (int i = 0; i < 15; ++i) {
            r.advance(0.1);
            r.deliver(1);
        }
        r.controller->requestFinish();
        r.advance(136);
        r.advance(2);
        ASSERT_EQ(r.incidents->items().size(), 1);
        const DictationIncident incident = r.incidents->items().front();
        const QString recording = r.incidents->recordingURL(incident).value_or(QString());
        ASSERT_TRUE(QFile::exists(recording));
        const auto nextStartLists = [&] {
            const IncidentStore store(r.incidents->directory());
            QList<QUuid> ids;
            for (const DictationIncident &listed : store.items())
                ids << listed.id;
            return ids;
        };

        r.controller->retryRecoveredTranscription(incident);
        r.loop.runUntilIdle();
        r.backends.last()->final(QStringLiteral("recovered words"));
        r.backends.last()->finish();
        r.loop.runUntilIdle();
        ASSERT_EQ(r.controller->recoveredTranscriptionState(), State::succeeded(true));
        EXPECT_TRUE(r.incidents->items().isEmpty());
        EXPECT_EQ(nextStartLists(), QList<QUuid>{incident.id}) << "History's save still waits";
        EXPECT_TRUE(QFile::exists(recording));

        held.release();
        r.history->setWriter(nullptr);
        if (!c.historyWritable) {
            EXPECT_EQ(nextStartLists(), QList<QUuid>{incident.id}) << "History does not hold the words";
            EXPECT_TRUE(QFile::exists(recording));
            ASSERT_TRUE(QDir(r.history->filePath()).removeRecursively());
            r.history->add(QStringLiteral("later words"));
            EXPECT_TRUE(nextStartLists().isEmpty()) << "a later save holds the words too";
            EXPECT_FALSE(QFile::exists(recording));
            continue;
        }
        EXPECT_TRUE(nextStartLists().isEmpty());
        EXPECT_FALSE(QFile::exists(recording));
        EXPECT_EQ(HistoryStore(r.dir.filePath(QStringLiteral("data")), r.loop.clocks()).latestText(),
                  QStringLiteral("Cleaned: recovered words"));
    }
}

TEST_F(DictationControllerRetranscriptionTest, AFailedRetryKeepsTheIncidentAndExplains)
{
    const DictationIncident incident = timedOutIncident();
    controller.retryRecoveredTranscription(incident);
    retryTranscription()->fail(ZEPAError::transcriptionFailed(QStringLiteral("The network connection was lost.")));
    rig.loop.runUntilIdle();

    const QString nextStep =
        transcriptionIncidentPresentation(QStringLiteral("The network connection was lost."), incident.backend)
            .nextStep;
    EXPECT_EQ(controller.recoveredTranscriptionState(), State::failed(incident.id, nextStep));
    EXPECT_EQ(controller.recoveryFailureMessage(incident.id), nextStep);
    EXPECT_FALSE(controller.recoveryFailureMessage(QUuid::createUuid()).has_value());
    EXPECT_EQ(rig.announcements.back(), QStringLiteral("Retry failed. ") + nextStep);
    EXPECT_EQ(rig.incidents->items().size(), 1);
    EXPECT_TRUE(rig.incidents->recordingURL(incident).has_value());
    EXPECT_EQ(rig.count(DiagnosticEvent::transcriptionFailed), 1);
    EXPECT_EQ(rig.notifications.posted().size(), 1); // the timeout's own, none for the retry

    // An empty transcript fails too, and the clipboard is left alone.
    controller.retryRecoveredTranscription(incident);
    retryTranscription()->final(QStringLiteral("  \n "));
    retryTranscription()->finish();
    rig.loop.runUntilIdle();
    EXPECT_EQ(controller.recoveredTranscriptionState(),
              State::failed(incident.id, transcriptionIncidentPresentation(
                                             QStringLiteral("Transcription returned no text"), incident.backend)
                                             .nextStep));
    EXPECT_TRUE(rig.copied.isEmpty());
}

TEST_F(DictationControllerRetranscriptionTest, ARetryIsRefusedWhileBusyOrWithoutItsRecording)
{
    const DictationIncident incident = timedOutIncident();

    ASSERT_TRUE(rig.startLive());
    controller.retryRecoveredTranscription(incident);
    EXPECT_EQ(controller.recoveredTranscriptionState(),
              State::failed(incident.id, QStringLiteral("Finish the current dictation, then try again.")));
    controller.cancelDictation();

    controller.retryRecoveredTranscription(incident);
    ASSERT_TRUE(controller.isRetryRunning());
    const auto calls = rig.backends.calls().size();
    DictationIncident other = incident;
    other.id = QUuid::createUuid();
    controller.retryRecoveredTranscription(other);
    EXPECT_EQ(controller.recoveredTranscriptionState(), State::transcribing(incident.id));
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.backends.calls().size(), calls + 1);

    // A take cannot start while the retry runs; cancelling the retry reads as idle.
    controller.startDictation();
    EXPECT_FALSE(controller.isRecording());
    controller.cancelRecoveredTranscription();
    rig.loop.runUntilIdle();
    EXPECT_EQ(controller.recoveredTranscriptionState(), State::idle());
    EXPECT_FALSE(controller.isRetryRunning());

    ASSERT_TRUE(QFile::remove(rig.incidents->recordingURL(incident).value_or(QString())));
    controller.retryRecoveredTranscription(incident);
    EXPECT_EQ(controller.recoveredTranscriptionState(),
              State::failed(incident.id, QStringLiteral("The saved recording is no longer available.")));
}

TEST_F(DictationControllerRetranscriptionTest, ACancelledRetryStopsItsEngineBeforeTheLoopRunsAgain)
{
    // At quit the loop may never run again, and an engine still running would post to it.
    const DictationIncident incident = timedOutIncident();
    controller.retryRecoveredTranscription(incident);
    auto transcription = retryTranscription();
    controller.cancelRecoveredTranscription();
    EXPECT_TRUE(*transcription->terminated);
    rig.loop.runUntilIdle();
    EXPECT_EQ(controller.recoveredTranscriptionState(), State::idle());

    // Cancelled before it began: no engine at all.
    const auto calls = rig.backends.calls().size();
    controller.retryRecoveredTranscription(incident);
    controller.cancelRecoveredTranscription();
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.backends.calls().size(), calls);
    EXPECT_EQ(controller.recoveredTranscriptionState(), State::idle());
    EXPECT_FALSE(controller.isRetryRunning());
}

TEST_F(DictationControllerRetranscriptionTest, AnUncopiedTranscriptIsAnnouncedWithoutTheClipboard)
{
    const DictationIncident incident = timedOutIncident();
    rig.copySucceeds = false;
    rig.settings.setValue(QStringLiteral("cleanupEnabled"), false);
    controller.retryRecoveredTranscription(incident);
    retryTranscription()->final(QStringLiteral("plain"));
    retryTranscription()->finish();
    rig.loop.runUntilIdle();
    EXPECT_EQ(controller.recoveredTranscriptionState(), State::succeeded(false));
    EXPECT_EQ(rig.copied, QStringList{QStringLiteral("plain")});
    EXPECT_EQ(rig.announcements.back(), QStringLiteral("Transcript recovered and saved in History."));
}

} // namespace

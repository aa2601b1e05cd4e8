// Failures, incidents, kept recordings and notices of the dictation controller.

#include "pipeline/DictationController.h"

#include "pipeline/Paster.h"
#include "pipeline/PillNotice.h"
#include "pipeline/SettingsDefaults.h"
#include "platform/AudioFile.h"
#include "records/IncidentPresentation.h"
#include "support/DictationControllerFixture.h"
#include "support/TriggerTestSupport.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QtEndian>

#include <gtest/gtest.h>

using namespace zq;
using namespace zq::test;

namespace {

using Kind = PillState::Kind;
using Level = platform::UserNotificationContent::InterruptionLevel;

class DictationControllerFailureTest : public DictationControllerFixture {
protected:
    QString recordingPath(const DictationIncident &incident) const
    {
        return rig.incidents->recordingURL(incident).value_or(QString());
    }
};

TEST_F(DictationControllerFailureTest, MissingPermissionFailsAtOnceWithoutARecording)
{
    rig.microphone.status = platform::MicrophoneAuthorization::denied;
    controller.startDictation();
    EXPECT_FALSE(controller.isBusy());
    EXPECT_EQ(rig.lastMetadata(DiagnosticEvent::dictationFailed).value(QStringLiteral("reason")),
              QStringLiteral("mic_permission_denied"));
    ASSERT_EQ(rig.incidents->items().size(), 1);
    const DictationIncident incident = rig.incidents->items().front();
    EXPECT_EQ(incident.code, QStringLiteral("ZQ-MIC-PERMISSION"));
    EXPECT_EQ(incident.backend, QStringLiteral("local"));
    EXPECT_FALSE(incident.language.has_value());
    EXPECT_FALSE(incident.recordingFilename.has_value());
    EXPECT_EQ(incident.appVersion, QStringLiteral("1.2.3"));
    EXPECT_EQ(controller.pillState(),
              PillState::muted(pillNotice(DictationFailure::micPermissionDenied(), QStringLiteral("local")).text()));
    ASSERT_EQ(rig.notifications.posted().size(), 1);
    EXPECT_EQ(rig.notifications.posted().front().content.title, QStringLiteral("Microphone access needed"));
    EXPECT_EQ(rig.notifications.posted().front().content.interruptionLevel, Level::normal);
    EXPECT_FALSE(rig.notifications.posted().front().content.playsDefaultSound);

    rig.advance(1.79);
    EXPECT_TRUE(controller.pillState().is(Kind::muted));
    rig.advance(0.02);
    EXPECT_TRUE(controller.pillState().is(Kind::hidden));

    // Undetermined: the prompt is shown, the take fails, and once granted the next start runs.
    rig.microphone.status = platform::MicrophoneAuthorization::notDetermined;
    rig.microphone.answerToRequests = true;
    controller.startDictation();
    EXPECT_EQ(rig.microphone.requestCount(), 1);
    EXPECT_EQ(rig.lastMetadata(DiagnosticEvent::dictationFailed).value(QStringLiteral("reason")),
              QStringLiteral("mic_permission_undetermined"));
    ASSERT_TRUE(rig.startLive());
}

TEST_F(DictationControllerFailureTest, AnUnopenableMicrophoneFailsAsUnavailable)
{
    rig.cores.setDefaultScript(
        {fakeCaptureSetup(rig.microphoneID), std::make_exception_ptr(std::runtime_error("no")), nullptr});
    controller.startDictation();
    ASSERT_TRUE(rig.pump([&] { return !controller.isAudioStartPending(); }));
    EXPECT_FALSE(controller.isRecording());
    EXPECT_EQ(rig.lastMetadata(DiagnosticEvent::dictationFailed).value(QStringLiteral("reason")),
              QStringLiteral("mic_unavailable"));
    ASSERT_EQ(rig.incidents->items().size(), 1);
    EXPECT_EQ(rig.incidents->items().front().code, QStringLiteral("ZQ-MIC-UNAVAILABLE"));
    EXPECT_EQ(controller.pillState().notice(),
              QStringLiteral("Microphone unavailable. The input device could not be opened. Check it is connected, "
                             "then try again."));

    // The finish of that press belongs to no take: the notice stays and nothing is journaled.
    rig.clearEvents();
    controller.handleTriggerAction(TriggerAction::finish);
    EXPECT_TRUE(rig.events().empty());
    EXPECT_TRUE(controller.pillState().is(Kind::muted));
    EXPECT_TRUE(controller.isFailResetPending());
}

TEST_F(DictationControllerFailureTest, ATimeoutKeepsTheRecordingWithTheIncident)
{
    captureTake(1.5);
    const QString takeFile = controller.takeFilePath().value_or(QString());
    ASSERT_TRUE(QFile::exists(takeFile));
    rig.advance(134.9);
    EXPECT_TRUE(controller.pillState().is(Kind::thinking));
    rig.advance(0.2);
    EXPECT_EQ(rig.lastMetadata(DiagnosticEvent::dictationFailed).value(QStringLiteral("reason")),
              QStringLiteral("timed_out"));
    ASSERT_EQ(rig.incidents->items().size(), 1);
    const DictationIncident incident = rig.incidents->items().front();
    EXPECT_EQ(incident.code, QStringLiteral("ZQ-TX-TIMEOUT"));
    EXPECT_EQ(incident.language, QStringLiteral("auto"));
    EXPECT_EQ(incident.recordingFilename,
              incident.id.toString(QUuid::WithoutBraces).toUpper() + QStringLiteral(".wav"));
    EXPECT_TRUE(QFile::exists(recordingPath(incident)));
    EXPECT_FALSE(QFile::exists(takeFile));
    EXPECT_FALSE(controller.takeFilePath().has_value());
    EXPECT_TRUE(*rig.backends.last()->terminated);
    EXPECT_EQ(controller.pillState().notice(),
              QStringLiteral("Transcription took too long. Your recording was kept. Check your connection, then "
                             "retry the transcription."));
}

TEST_F(DictationControllerFailureTest, ATranscriptionErrorKeepsTheRecordingAlsoDuringALiveTake)
{
    captureTake();
    rig.backends.last()->fail(ZEPAError::transcriptionFailed(QStringLiteral("The network connection was lost.")));
    rig.loop.runUntilIdle();
    ASSERT_EQ(rig.incidents->items().size(), 1);
    DictationIncident incident = rig.incidents->items().front();
    EXPECT_TRUE(QFile::exists(recordingPath(incident)));
    const IncidentPresentation presentation =
        transcriptionIncidentPresentation(QStringLiteral("The network connection was lost."), QStringLiteral("local"));
    EXPECT_EQ(incident.code, presentation.code);
    ASSERT_EQ(rig.notifications.posted().size(), 1);
    EXPECT_EQ(rig.notifications.posted().back().content.title, incident.title);
    EXPECT_EQ(rig.notifications.posted().back().content.body, incident.nextStep);
    controller.cancelDictation();

    // The recogniser breaks down while the user is still speaking: the take ends there and
    // what was recorded so far stays with the incident, whole, although the take-file queue that
    // closes a streamed take's file has not run yet.
    VirtualLoop takeFiles;
    rig.engine->setTakeFileCloser(&takeFiles);
    const auto noCloser = qScopeGuard([&] { rig.engine->setTakeFileCloser(nullptr); });
    ASSERT_TRUE(rig.startLive());
    recordFor(1.0);
    rig.backends.last()->fail(ZEPAError::transcriptionFailed(QStringLiteral("Speech recognition failed")));
    rig.loop.runUntilIdle();
    EXPECT_FALSE(controller.isRecording());
    EXPECT_FALSE(rig.escapeGrab.isHeld);
    EXPECT_NE(rig.engine->takePhase().kind(), TakePhase::Kind::live);
    ASSERT_EQ(rig.incidents->items().size(), 2);
    incident = rig.incidents->items().front();
    ASSERT_TRUE(incident.recordingFilename.has_value());
    QFile keptFile(recordingPath(incident));
    ASSERT_TRUE(keptFile.open(QIODevice::ReadOnly));
    const QByteArray wav = keptFile.readAll();
    ASSERT_GT(wav.size(), 8);
    EXPECT_EQ(qFromLittleEndian<quint32>(wav.constData() + 4), quint32(wav.size() - 8)) << "the header is final";
    auto kept = platform::AudioFile::openForReading(recordingPath(incident));
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept.value()->length(), rig.engine->tapFires() * 480);
    EXPECT_TRUE(rig.takeFiles().isEmpty());
    // Releasing the trigger afterwards changes nothing.
    controller.handleTriggerAction(TriggerAction::finish);
    EXPECT_TRUE(controller.pillState().is(Kind::muted));
}

// A paste that did not insert the text: refused while the screen is locked, or never fetched by the
// window in front (a window without a text field). Either way the text stays on the clipboard, in the
// history, and the user is told which keys paste it there.
struct RefusedPaste {
    const char *name;
    bool screenLocked;
    platform::WindowClass front;
    const char *notice;
};

class RefusedPasteTest : public DictationControllerFixture, public ::testing::WithParamInterface<RefusedPaste> {};

TEST_P(RefusedPasteTest, LeavesTheTextOnTheClipboardWithoutAnIncident)
{
    const RefusedPaste &c = GetParam();
    rig.screenLock.setLocked(c.screenLocked);
    rig.pasteboard.tellFetches();
    rig.frontWindow.setWindowClass(c.front);
    captureTake();
    rig.backends.last()->final(QStringLiteral("secret words"));
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.keys.chordCount(), c.screenLocked ? 0 : 1);
    if (!c.screenLocked) {
        EXPECT_EQ(rig.count(DiagnosticEvent::pasteFallback), 0) << "told before the wait for the fetch was over";
        rig.advance(std::chrono::duration<double>(Paster::fetchWaitLimit).count());
    }
    rig.advance(1.0);
    EXPECT_EQ(rig.pasteboard.text(), QStringLiteral("Cleaned: secret words")) << "the old clipboard came back";
    EXPECT_TRUE(rig.incidents->items().isEmpty());
    ASSERT_EQ(rig.history->items().size(), 1);
    EXPECT_TRUE(rig.stats->days().isEmpty());
    EXPECT_EQ(rig.count(DiagnosticEvent::pasteFallback), 1);
    EXPECT_EQ(rig.count(DiagnosticEvent::pasteSucceeded), 0);
    EXPECT_EQ(rig.lastMetadata(DiagnosticEvent::dictationFailed).value(QStringLiteral("reason")),
              QStringLiteral("clipboard_fallback"));
    EXPECT_EQ(controller.pillState().notice(), QString::fromUtf8(c.notice));
    ASSERT_EQ(rig.notifications.posted().size(), 1);
    EXPECT_EQ(rig.notifications.posted().front().content.interruptionLevel, Level::timeSensitive);
    EXPECT_TRUE(rig.notifications.posted().front().content.playsDefaultSound);
    EXPECT_TRUE(rig.takeFiles().isEmpty());
    EXPECT_FALSE(controller.isBusy());
}

INSTANTIATE_TEST_SUITE_P(
    , RefusedPasteTest,
    ::testing::Values(RefusedPaste{"ScreenLocked",
                                   true,
                                   {},
                                   "Transcript copied. The window did not take it. Press Ctrl+V to insert it."},
                      RefusedPaste{"NeverFetchedByATerminal",
                                   false,
                                   {QStringLiteral("lxterminal"), QStringLiteral("Lxterminal")},
                                   "Transcript copied. The window did not take it. Press Ctrl+Shift+V to insert it."}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(DictationControllerFailureTest, ALostMicrophoneDeliversWhatWasHeardAndSaysSo)
{
    ASSERT_TRUE(rig.startLive());
    recordFor(1.0);
    // The only microphone goes away: every rebuild finds nothing to open.
    rig.cores.setDefaultScript(
        {fakeCaptureSetup(rig.microphoneID), std::make_exception_ptr(std::runtime_error("gone")), nullptr});
    ASSERT_TRUE(rig.cores.last()->signalRecovery());
    ASSERT_TRUE(rig.pump([&] { return rig.engine->takeInputLost(); }));
    rig.advance(0.5);
    controller.handleTriggerAction(TriggerAction::finish);
    ASSERT_TRUE(controller.pillState().is(Kind::thinking));
    rig.backends.last()->final(QStringLiteral("heard so far"));
    rig.loop.runUntilIdle();

    EXPECT_EQ(rig.keys.pastedTexts(), QStringList{QStringLiteral("Cleaned: heard so far")});
    ASSERT_EQ(rig.history->items().size(), 1);
    EXPECT_FALSE(rig.stats->days().isEmpty()) << "the delivered words count";
    EXPECT_EQ(rig.lastMetadata(DiagnosticEvent::dictationFailed).value(QStringLiteral("reason")),
              QStringLiteral("mic_lost"));
    ASSERT_EQ(rig.incidents->items().size(), 1);
    EXPECT_EQ(rig.incidents->items().front().code, QStringLiteral("ZQ-MIC-LOST"));
    EXPECT_FALSE(rig.incidents->items().front().recordingFilename.has_value()) << "its words were delivered";
    EXPECT_EQ(controller.pillState().notice(),
              QStringLiteral("Microphone lost. What was heard before it stopped was inserted. Check the microphone, "
                             "then dictate the rest."));
    ASSERT_EQ(rig.notifications.posted().size(), 1);
    EXPECT_EQ(rig.notifications.posted().front().content.title, QStringLiteral("Microphone lost"));
    EXPECT_TRUE(rig.takeFiles().isEmpty());

    // A microphone that comes back within the take is no loss: the next take ends as usual.
    rig.advance(10);
    rig.cores.setDefaultScript({fakeCaptureSetup(rig.microphoneID), nullptr, nullptr});
    ASSERT_TRUE(rig.startLive());
    recordFor(0.5);
    rig.cores.setDefaultScript(
        {fakeCaptureSetup(rig.microphoneID), std::make_exception_ptr(std::runtime_error("gone")), nullptr});
    ASSERT_TRUE(rig.cores.last()->signalRecovery());
    ASSERT_TRUE(rig.pump([&] { return rig.engine->takeInputLost(); }));
    rig.cores.setDefaultScript({fakeCaptureSetup(rig.microphoneID), nullptr, nullptr});
    ASSERT_TRUE(rig.pump([&] { return !rig.engine->takeInputLost(); }, 1000)) << "the next rebuild opens it again";
    rig.deliver(10);
    controller.handleTriggerAction(TriggerAction::finish);
    rig.backends.last()->final(QStringLiteral("all of it"));
    rig.loop.runUntilIdle();
    EXPECT_TRUE(controller.pillState().is(Kind::done));
    EXPECT_EQ(rig.incidents->items().size(), 1);

    // Lost before any word was recognised: nothing to insert, but the user is still told why.
    rig.advance(10);
    ASSERT_TRUE(rig.startLive());
    recordFor(0.5);
    rig.cores.setDefaultScript(
        {fakeCaptureSetup(rig.microphoneID), std::make_exception_ptr(std::runtime_error("gone")), nullptr});
    ASSERT_TRUE(rig.cores.last()->signalRecovery());
    ASSERT_TRUE(rig.pump([&] { return rig.engine->takeInputLost(); }));
    controller.handleTriggerAction(TriggerAction::finish);
    rig.backends.last()->final(QString());
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.keys.pastedTexts().size(), 2);
    ASSERT_EQ(rig.incidents->items().size(), 2);
    EXPECT_EQ(rig.incidents->items().front().code, QStringLiteral("ZQ-MIC-LOST"));
    EXPECT_TRUE(controller.pillState().notice().startsWith(QStringLiteral("Microphone lost.")));
}

TEST_F(DictationControllerFailureTest, NothingIsPastedOnceTheTakeEndedDuringCleanup)
{
    // The watchdog gives up while a slow cleanup runs.
    rig.cleanupSeconds = 200;
    captureTake();
    rig.backends.last()->final(QStringLiteral("slow text"));
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.cleanupCalls, 1);
    rig.advance(136);
    EXPECT_EQ(rig.lastMetadata(DiagnosticEvent::dictationFailed).value(QStringLiteral("reason")),
              QStringLiteral("timed_out"));
    rig.advance(100);
    EXPECT_TRUE(rig.keys.pastedTexts().isEmpty());
    EXPECT_TRUE(rig.history->items().isEmpty());
    EXPECT_EQ(rig.count(DiagnosticEvent::pasteSucceeded), 0);
    ASSERT_EQ(rig.incidents->items().size(), 1);
    EXPECT_TRUE(QFile::exists(recordingPath(rig.incidents->items().front())));

    // Escape during the cleanup.
    rig.cleanupSeconds = 5;
    captureTake();
    rig.backends.last()->final(QStringLiteral("cancelled text"));
    rig.loop.runUntilIdle();
    controller.cancelDictation();
    rig.advance(10);
    EXPECT_TRUE(rig.keys.pastedTexts().isEmpty());
    EXPECT_TRUE(controller.pillState().is(Kind::hidden));
    EXPECT_TRUE(rig.takeFiles().isEmpty());
}

TEST_F(DictationControllerFailureTest, AStreamEndingWithoutAFinalTextFailsAtOnce)
{
    captureTake();
    rig.backends.last()->partial(QStringLiteral("half"));
    rig.backends.last()->finish();
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.count(DiagnosticEvent::transcriptionFailed), 1);
    ASSERT_EQ(rig.incidents->items().size(), 1);
    EXPECT_TRUE(rig.incidents->items().front().recordingFilename.has_value());
    EXPECT_EQ(
        rig.incidents->items().front().code,
        transcriptionIncidentPresentation(QStringLiteral("Transcription returned no result"), QStringLiteral("local"))
            .code);
    rig.advance(200);
    EXPECT_EQ(rig.count(DiagnosticEvent::dictationFailed), 1);
}

TEST_F(DictationControllerFailureTest, ASecondFinalTextIsNotPastedAgain)
{
    captureTake();
    rig.backends.last()->final(QStringLiteral("one"));
    rig.backends.last()->final(QStringLiteral("two"));
    rig.loop.runUntilIdle();
    rig.advance(2);
    EXPECT_EQ(rig.keys.pastedTexts(), QStringList{QStringLiteral("Cleaned: one")});
    EXPECT_EQ(rig.history->items().size(), 1);
    EXPECT_EQ(rig.count(DiagnosticEvent::transcriptionCompleted), 1);
}

TEST_F(DictationControllerFailureTest, ARecordingTheIncidentCannotKeepIsNotLeftBehind)
{
    // Something that is not a folder stands where the kept recordings go.
    const QString recordings = rig.incidents->recordingsDirectory();
    ASSERT_TRUE(QDir(recordings).removeRecursively());
    QFile blocker(recordings);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    captureTake();
    rig.advance(136);
    ASSERT_EQ(rig.incidents->items().size(), 1);
    EXPECT_FALSE(rig.incidents->items().front().recordingFilename.has_value());
    EXPECT_TRUE(rig.takeFiles().isEmpty());
}

TEST_F(DictationControllerFailureTest, RepeatedFailuresKeepOneResetTimerAndPostEachNotice)
{
    rig.microphone.status = platform::MicrophoneAuthorization::denied;
    // Through the trigger: a press while the first notice shows is a take of its own.
    ASSERT_TRUE(controller.ensureHotkeyTapRunning());
    for (const double at : {1.0, 2.0}) {
        rig.eventTap.emitEvent(trigger_test::flagsChanged(KeyCode::function, ModifierFlag::function, at));
        rig.eventTap.emitEvent(trigger_test::flagsChanged(KeyCode::function, 0, at + 0.5));
        rig.advance(1.0);
    }
    EXPECT_EQ(rig.count(DiagnosticEvent::dictationRequested), 2);
    EXPECT_TRUE(controller.pillState().is(Kind::muted));
    rig.advance(0.81);
    EXPECT_TRUE(controller.pillState().is(Kind::hidden));
    ASSERT_EQ(rig.notifications.posted().size(), 2);
    EXPECT_NE(rig.notifications.posted()[0].identifier, rig.notifications.posted()[1].identifier);

    // With notifications refused the pill still tells.
    rig.notifications.granted = false;
    controller.startDictation();
    EXPECT_EQ(rig.notifications.posted().size(), 2);
    EXPECT_EQ(rig.notifications.authorizationRequests(), 3);
    EXPECT_TRUE(controller.pillState().is(Kind::muted));
}

TEST_F(DictationControllerFailureTest, CancelIsSafeInEveryPhase)
{
    controller.cancelDictation(); // idle
    EXPECT_TRUE(controller.pillState().is(Kind::hidden));

    rig.microphone.status = platform::MicrophoneAuthorization::denied;
    controller.startDictation();
    controller.cancelDictation(); // showing a failure notice
    EXPECT_TRUE(controller.pillState().is(Kind::hidden));
    EXPECT_FALSE(controller.isFailResetPending());
    rig.microphone.status = platform::MicrophoneAuthorization::authorized;

    captureTake();
    rig.backends.last()->final(QStringLiteral("done"));
    rig.loop.runUntilIdle();
    controller.cancelDictation(); // during the done flash
    EXPECT_FALSE(controller.isDoneFlashPending());
    EXPECT_TRUE(controller.pillState().is(Kind::hidden));
    EXPECT_EQ(rig.count(DiagnosticEvent::dictationFailed), 1);
    EXPECT_EQ(rig.incidents->items().size(), 1);
}

TEST(PillNoticeTest, TheIconNameFollowsTheColorway)
{
    EXPECT_EQ(appIconName(Colorway::consensusMint), QStringLiteral("AppIcon"));
    for (const Colorway colorway : kAllColorways) {
        EXPECT_EQ(fromRawValue<Colorway>(rawValue(colorway)), colorway);
        if (colorway != Colorway::consensusMint) {
            EXPECT_EQ(appIconName(colorway), QStringLiteral("AppIcon-") + rawValue(colorway));
        }
    }
    EXPECT_FALSE(fromRawValue<Colorway>(u"ConsensusMint").has_value());
}

} // namespace

// Cancel and the one failure path: incidents, kept recordings, notices.

#include "pipeline/DictationController.h"
#include "pipeline/HotkeyTap.h"
#include "pipeline/Paster.h"

#include "audio/AudioDuringDictationController.h"
#include "audio/AudioEngine.h"
#include "pipeline/PillNotice.h"
#include "pipeline/SettingsDefaults.h"
#include "records/DictationIncident.h"
#include "records/IncidentPresentation.h"
#include "records/IncidentStore.h"
#include "runtime/Clocks.h"
#include "runtime/Log.h"
#include "runtime/Settings.h"

#include <QFile>
#include <QUuid>

namespace zq {

namespace {

QString reasonOf(const DictationFailure &failure)
{
    switch (failure.kind()) {
    case DictationFailure::Kind::micPermissionUndetermined:
        return QStringLiteral("mic_permission_undetermined");
    case DictationFailure::Kind::micPermissionDenied:
        return QStringLiteral("mic_permission_denied");
    case DictationFailure::Kind::micUnavailable:
        return QStringLiteral("mic_unavailable");
    case DictationFailure::Kind::noAudio:
        return QStringLiteral("no_audio_captured");
    case DictationFailure::Kind::pasteBlocked:
        return QStringLiteral("clipboard_fallback");
    case DictationFailure::Kind::timedOut:
        return QStringLiteral("timed_out");
    case DictationFailure::Kind::transcription:
        return QStringLiteral("transcription");
    case DictationFailure::Kind::micLost:
        return QStringLiteral("mic_lost");
    }
    return {};
}

bool keepsRecording(const DictationFailure &failure)
{
    return failure.kind() == DictationFailure::Kind::timedOut ||
           failure.kind() == DictationFailure::Kind::transcription;
}

} // namespace

void DictationController::cancelDictation()
{
    const bool startPending = m_audioStartTask.has_value();
    record(DiagnosticEvent::dictationCancelled,
           {{QStringLiteral("audio_start_pending"), startPending ? QStringLiteral("true") : QStringLiteral("false")}});
    cancelTimer(m_failResetTimer);
    cancelTimer(m_doneFlashTimer);
    m_recording = false;
    m_audioDuringDictation.finish();
    setPillState(PillState::hidden());
    if (startPending) {
        record(DiagnosticEvent::audioStartEndedBeforeLive, {{QStringLiteral("intent"), QStringLiteral("cancel")}});
        cancelAudioStart();
        resetToIdle(true);
        return;
    }
    cancelTranscription();
}

void DictationController::cancelTranscription()
{
    cancelTranscriptionTask();
    if (m_audio.takePhase().kind() == TakePhase::Kind::live)
        m_audio.discardTake();
    discardTakeFile();
    resetToIdle(true);
}

void DictationController::failDictation(const DictationFailure &failure, const std::optional<PillNotice> &told)
{
    m_paster.forgetPrepared();
    const QString backend = m_activeBackend.value_or(settingsBackend());
    record(DiagnosticEvent::dictationFailed, {{QStringLiteral("reason"), reasonOf(failure)}});
    m_audioDuringDictation.finish();
    cancelTranscriptionTask();

    if (m_audio.takePhase().kind() == TakePhase::Kind::live) {
        // A take still recording (a transcription error while the user speaks) ends here. When
        // this failure keeps the recording, end it as a finish would, so the file survives for
        // the incident; otherwise the engine deletes it.
        if (keepsRecording(failure) && !m_takeFileURL) {
            const TakeResult result = m_audio.takeResult();
            if (const CapturedTake *take = result.capturedTake())
                m_takeFileURL = take->url;
        } else {
            m_audio.discardTake();
        }
    }

    if (failure.kind() == DictationFailure::Kind::pasteBlocked) {
        discardTakeFile();
    } else {
        const QUuid id = QUuid::createUuid();
        const IncidentPresentation presentation = IncidentPresentation::forFailure(failure, backend);
        DictationIncident incident = newIncident(id, presentation, backend);
        if (keepsRecording(failure)) {
            incident.language = language();
            // A streamed take's file may still wait for its close: the incident keeps it whole.
            if (m_takeFileURL)
                m_audio.completeTakeFile(*m_takeFileURL);
            incident.recordingFilename = m_incidents.keepRecording(m_takeFileURL, id);
        }
        m_incidents.insert(incident);
        m_incidents.trimToLimit();
        m_incidents.save();
        // The kept recording now belongs to the incident store. A file it could not take would
        // otherwise stay behind in the take folder, so it goes.
        if (incident.recordingFilename)
            m_takeFileURL.reset();
        else
            discardTakeFile();
    }

    m_recording = false;
    // The trigger is free at once, as after a cancel: a press while the notice shows is a new take.
    if (HotkeyTap *hotkeys = tap())
        hotkeys->resetToIdle();
    cancelTimer(m_doneFlashTimer);
    const PillNotice notice = told.value_or(pillNotice(failure, backend, Paster::chordText(m_paster.lastChord())));
    setPillState(PillState::muted(notice.text()));
    postNotice(notice);
    cancelTimer(m_failResetTimer);
    m_failResetTimer = schedule(kFailReset, &DictationController::failResetFired);
}

void DictationController::failResetFired()
{
    m_failResetTimer = {};
    // Only the notice goes: the trigger went back when the take failed, and a press of it may be on
    // its way to start the next take.
    resetToIdle(false);
}

// The fields every incident of this session shares; the caller adds the language and recording
// where the take keeps them.
DictationIncident DictationController::newIncident(const QUuid &id, const IncidentPresentation &presentation,
                                                   const QString &backend) const
{
    DictationIncident incident;
    incident.id = id;
    incident.date = m_clocks.wallNow();
    incident.code = presentation.code;
    incident.title = presentation.title;
    incident.message = presentation.message;
    incident.nextStep = presentation.nextStep;
    incident.backend = backend;
    incident.appVersion = m_appVersion;
    incident.build = m_build;
    incident.isRead = false;
    return incident;
}

} // namespace zq

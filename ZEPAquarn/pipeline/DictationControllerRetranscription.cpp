// Transcribing a kept recording again, from the support page.

#include "pipeline/DictationController.h"

#include "pipeline/SettingsDefaults.h"
#include "pipeline/ZEPAError.h"
#include "records/DictationIncident.h"
#include "records/HistoryStore.h"
#include "records/IncidentPresentation.h"
#include "records/IncidentStore.h"
#include "runtime/Log.h"
#include "runtime/Settings.h"

namespace zq {

QString transcriptionErrorText(const std::exception_ptr &error); // DictationControllerFinish.cpp

namespace {

DiagnosticMetadata recoveredMetadata(const QString &backend)
{
    return {{QStringLiteral("backend"), backend}, {QStringLiteral("recovered"), QStringLiteral("true")}};
}

} // namespace

void DictationController::retryRecoveredTranscription(const DictationIncident &incident)
{
    if (m_recoveredTranscriptionTask)
        return;
    if (m_recording || m_audioStartTask || m_transcriptionTask) {
        setRecoveredTranscriptionState(RecoveredTranscriptionState::failed(
            incident.id, QStringLiteral("Finish the current dictation, then try again.")));
        return;
    }
    const std::optional<QString> path = m_incidents.recordingURL(incident);
    if (!path) {
        setRecoveredTranscriptionState(RecoveredTranscriptionState::failed(
            incident.id, QStringLiteral("The saved recording is no longer available.")));
        return;
    }
    const QString retryLanguage = incident.language.value_or(language());
    const QStringList retryDictionary = dictionary();
    setRecoveredTranscriptionState(RecoveredTranscriptionState::transcribing(incident.id));
    record(DiagnosticEvent::transcriptionStarted, recoveredMetadata(incident.backend));
    m_recoveredTranscriptionTask =
        rt::spawn(m_loop, runRecoveredTranscription(m_alive, *path, incident, retryLanguage, retryDictionary));
}

std::optional<QString> DictationController::recoveryFailureMessage(const QUuid &incident) const
{
    if (m_recoveredTranscriptionState.is(RecoveredTranscriptionState::Kind::failed) &&
        m_recoveredTranscriptionState.incident() == incident)
        return m_recoveredTranscriptionState.message();
    return std::nullopt;
}

void DictationController::cancelRecoveredTranscription()
{
    if (m_recoveredTranscriptionTask)
        m_recoveredTranscriptionTask->cancel();
}

rt::Task<void> DictationController::runRecoveredTranscription(Alive alive, QString path, DictationIncident incident,
                                                              QString language, QStringList dictionary)
{
    if (alive.expired())
        co_return;
    QString text;
    std::exception_ptr failure;
    // A retry cancelled before its first step starts no engine.
    if (!co_await rt::isCancelled()) {
        try {
            text =
                co_await m_recoveredTakeTranscriber->transcribeRecording(path, incident.backend, language, dictionary);
        } catch (...) {
            failure = std::current_exception();
        }
    }
    if (alive.expired())
        co_return;
    // A cancelled retry is not a failure: it simply did not happen.
    const bool cancelled = co_await rt::isCancelled();
    if (cancelled || failure) {
        if (cancelled)
            setRecoveredTranscriptionState(RecoveredTranscriptionState::idle());
        else
            recoveredTranscriptionFailed(incident, transcriptionErrorText(failure));
        m_recoveredTranscriptionTask.reset();
        co_return;
    }

    QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        recoveredTranscriptionFailed(
            incident,
            ZEPAError::transcriptionFailed(QStringLiteral("Transcription returned no text")).errorDescription());
        m_recoveredTranscriptionTask.reset();
        co_return;
    }
    if (backendKindOf(incident.backend) != BackendKind::openai && m_cleanup.shouldClean && m_cleanup.clean &&
        m_cleanup.shouldClean(trimmed, m_settings.boolValue(keys::cleanupEnabled))) {
        QString cleaned = trimmed;
        try {
            cleaned = co_await m_cleanup.clean(trimmed, dictionary);
        } catch (...) {
        }
        if (alive.expired())
            co_return;
        if (co_await rt::isCancelled()) {
            setRecoveredTranscriptionState(RecoveredTranscriptionState::idle());
            m_recoveredTranscriptionTask.reset();
            co_return;
        }
        trimmed = cleaned;
    }

    m_history.add(trimmed);
    watchSave(Store::history);
    const bool copied = m_copyRecoveredTranscript(trimmed);
    // The recording is the only copy of the words on disk until a History save holding them is: the
    // incident leaves the list now, its recording once such a save is on disk (on the writer's thread).
    m_history.whenOnDisk([forget = m_incidents.removeOnceRecovered(incident)] { forget(true); });
    setRecoveredTranscriptionState(RecoveredTranscriptionState::succeeded(copied));
    if (m_announce)
        m_announce(copied ? QStringLiteral("Transcript recovered, saved in History, and copied to the clipboard.")
                          : QStringLiteral("Transcript recovered and saved in History."));
    record(DiagnosticEvent::transcriptionCompleted, recoveredMetadata(incident.backend));
    m_recoveredTranscriptionTask.reset();
}

void DictationController::recoveredTranscriptionFailed(const DictationIncident &incident, const QString &errorText)
{
    const IncidentPresentation presentation = transcriptionIncidentPresentation(errorText, incident.backend);
    setRecoveredTranscriptionState(RecoveredTranscriptionState::failed(incident.id, presentation.nextStep));
    if (m_announce)
        m_announce(QStringLiteral("Retry failed. ") + presentation.nextStep);
    record(DiagnosticEvent::transcriptionFailed, recoveredMetadata(incident.backend));
}

} // namespace zq

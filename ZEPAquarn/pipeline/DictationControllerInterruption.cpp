// The end of a take that the application itself interrupts: quit, logout, a lost display.

#include "pipeline/DictationController.h"

#include "audio/AudioEngine.h"
#include "records/DictationIncident.h"
#include "records/HistoryStore.h"
#include "records/IncidentPresentation.h"
#include "records/IncidentStore.h"
#include "runtime/Clocks.h"
#include "runtime/Log.h"

#include <QDateTime>
#include <QFileInfo>
#include <QUuid>

namespace zq {

bool DictationController::keepInterruptedTake()
{
    // A captured take waits for its text with its file in the take folder, which the next start
    // sweeps; a take still recording has its file open there.
    std::optional<QString> recording = m_takeFileURL;
    if (!recording && m_audio.takePhase().kind() == TakePhase::Kind::live) {
        const TakeResult result = m_audio.takeResult();
        if (const CapturedTake *take = result.capturedTake())
            recording = take->url;
    }
    if (!recording)
        return false;

    // A final text still being cleaned up is the user's words: History keeps them, raw.
    if (m_finishedText && m_finishedText->first == m_takeFileURL && m_transcriptionTask)
        m_history.add(m_finishedText->second);
    m_finishedText.reset();

    const QString backend = m_activeBackend.value_or(settingsBackend());
    record(DiagnosticEvent::dictationFailed, {{QStringLiteral("reason"), QStringLiteral("interrupted")}});
    // The upload or recognition ends with the application; its failure is not this take's story.
    cancelTranscriptionTask();
    cancelTimer(m_thinkingWatchdog);

    const QUuid id = QUuid::createUuid();
    const IncidentPresentation presentation = IncidentPresentation::interrupted();
    DictationIncident incident = newIncident(id, presentation, backend);
    incident.language = language();
    // A streamed take's file may still wait for its close: the incident keeps it whole.
    m_audio.completeTakeFile(*recording);
    incident.recordingFilename = m_incidents.keepRecording(recording, id);
    m_incidents.insert(incident);
    m_incidents.trimToLimit();
    // An atomic write of a small file: quit does not wait on anything else.
    m_incidents.save();
    qCInfo(lcDictation) << "dictation: take interrupted — kept as incident" << id.toString(QUuid::WithoutBraces)
                        << (incident.recordingFilename ? "with its recording" : "without a recording");

    m_takeFileURL.reset();
    m_recording = false;
    return true;
}

int DictationController::keepLeftoverTakes(const QStringList &takeFiles)
{
    int kept = 0;
    for (const QString &takeFile : takeFiles) {
        const QDateTime recordedAt = QFileInfo(takeFile).lastModified();
        const QUuid id = QUuid::createUuid();
        DictationIncident incident = newIncident(id, IncidentPresentation::interrupted(), settingsBackend());
        if (recordedAt.isValid())
            incident.date = recordedAt;
        incident.language = language();
        incident.recordingFilename = m_incidents.keepRecording(takeFile, id);
        // One it could not move stays where it is, for the next start to try again.
        if (!incident.recordingFilename)
            continue;
        record(DiagnosticEvent::dictationFailed, {{QStringLiteral("reason"), QStringLiteral("interrupted")}});
        m_incidents.insert(incident);
        ++kept;
    }
    if (kept == 0)
        return 0;
    m_incidents.trimToLimit();
    m_incidents.save();
    qCInfo(lcDictation) << "dictation:" << kept << "take(s) of an earlier run that was killed kept as incidents";
    return kept;
}

} // namespace zq

// The end of a take that the application itself interrupts: quit, logout, a lost display.

#include "pipeline/DictationController.h"

#include "audio/AudioEngine.h"
#include "platform/EscapeKeyGrab.h"
#include "records/DictationIncident.h"
#include "records/HistoryStore.h"
#include "records/IncidentPresentation.h"
#include "records/IncidentStore.h"
#include "runtime/Clocks.h"
#include "runtime/Log.h"
#include "runtime/StartupCleanup.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <algorithm>
#include <utility>
#include <vector>

namespace zq {

bool DictationController::keepInterruptedTake()
{
    // The take ends with the application: Escape is the windows' again.
    if (m_escapeGrab)
        m_escapeGrab->setHeld(false);
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
    // Newest last, so that each goes in front of the older ones: only the newest can stay among the
    // incidents, and the older ones are dropped now rather than kept and trimmed away at once.
    std::vector<std::pair<QDateTime, QString>> byDate;
    for (const QString &takeFile : takeFiles) {
        // A pasted take waits in the take folder until History's save holding its words is on disk; a
        // quit that this save outran leaves it behind, although the save may have reached the disk
        // after all. Words that History holds are no interrupted take.
        const std::optional<QUuid> take = rt::StartupCleanup::takeID(takeFile);
        const QList<HistoryItem> &history = m_history.items();
        if (take &&
            std::any_of(history.cbegin(), history.cend(), [&](const HistoryItem &i) { return i.id == *take; })) {
            QFile::remove(takeFile);
            continue;
        }
        byDate.emplace_back(QFileInfo(takeFile).lastModified(), takeFile);
    }
    std::stable_sort(byDate.begin(), byDate.end(), [](const auto &a, const auto &b) {
        // A file without a date counts as the oldest.
        return a.first.isValid() && b.first.isValid() ? a.first < b.first : b.first.isValid();
    });
    const qsizetype dropped = std::max<qsizetype>(0, qsizetype(byDate.size()) - IncidentStore::maximumItems);
    for (qsizetype i = 0; i < dropped; ++i)
        QFile::remove(byDate[std::size_t(i)].second);

    int kept = 0;
    for (auto it = byDate.begin() + dropped; it != byDate.end(); ++it) {
        const auto &[recordedAt, takeFile] = *it;
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
    if (dropped > 0)
        qCWarning(lcDictation) << "dictation:" << dropped << "older take(s) of an earlier run dropped: only the"
                               << IncidentStore::maximumItems << "newest incidents are kept";
    if (kept == 0)
        return 0;
    m_incidents.trimToLimit();
    m_incidents.save();
    qCInfo(lcDictation) << "dictation:" << kept
                        << "take(s) that an earlier run left without their words kept as incidents";
    return kept;
}

} // namespace zq

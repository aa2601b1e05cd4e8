#pragma once

#include "menubar/brand/CopyConfirmation.h"
#include "pipeline/RecoveredTranscriptionState.h"
#include "records/DictationIncident.h"

#include <QLocale>
#include <QObject>
#include <QString>

#include <optional>

namespace zq {

namespace platform {
class Pasteboard;
}
class DictationController;
class IncidentStore;

// Everything one incident row shows at an instant, from the incident, whether its recording is on
// disk, the controller's re-transcription state and the copy confirmation.
struct IncidentRowLook {
    bool hasRecording = false; // retry, "Show Recording" and "Recording kept" are shown
    bool retrying = false;     // this incident is being re-transcribed: spinner in the retry button
    bool retryEnabled = true;  // no re-transcription runs, for any incident
    QString retryTitle;
    QString retryAccessibleName;
    bool deleteEnabled = true;
    QString deleteHelp; // tooltip and accessible name alike
    QString copyTitle;
    QString copySymbol;
    std::optional<QString> failureMessage;
    QString dateText;
    // After "Show Recording" that nothing on the desktop could show: where the recording is.
    std::optional<QString> revealFailure;
};

// `unshownRecording`: the recording's path when its last reveal found nothing to show it.
IncidentRowLook incidentRowLook(const DictationIncident &issue, bool hasRecording,
                                const RecoveredTranscriptionState &state, bool copied, const QLocale &locale,
                                const std::optional<QString> &unshownRecording = std::nullopt);

// One row of the Support page's recent issues: the incident, its actions and what it shows now.
// Follows the store and the controller and reports every change of its look. Main thread.
class IncidentRowModel : public QObject {
    Q_OBJECT
public:
    IncidentRowModel(DictationIncident issue, IncidentStore &store, DictationController &controller,
                     platform::Pasteboard &pasteboard, rt::MainLoop &loop, QLocale locale = QLocale(),
                     QObject *parent = nullptr);

    const DictationIncident &issue() const { return m_issue; }
    IncidentRowLook look() const;
    bool copied() const { return m_copied.isShown(); }

    // Transcribes the kept recording again through the controller.
    void retry();
    // Puts the incident's issue report on the clipboard and confirms for 1.2 s.
    void copyDetails();
    // Shows the kept recording selected in the file manager; nothing when its file is gone. When
    // nothing could show it, the row says where it is until a later reveal succeeds.
    void showRecordingAction();
    // Removes the incident with its kept recording.
    void deleteAction();

signals:
    void changed();

private:
    DictationIncident m_issue;
    IncidentStore &m_store;
    DictationController &m_controller;
    platform::Pasteboard &m_pasteboard;
    QLocale m_locale;
    CopyConfirmation m_copied;
    std::optional<QString> m_unshownRecording;
};

} // namespace zq

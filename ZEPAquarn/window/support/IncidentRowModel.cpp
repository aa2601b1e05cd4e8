#include "window/support/IncidentRowModel.h"

#include "pipeline/DictationController.h"
#include "records/IncidentStore.h"
#include "window/history/HistoryCopy.h"
#include "window/history/HistoryDate.h"
#include "window/support/RevealFailureText.h"

#include <QPointer>

namespace zq {

IncidentRowLook incidentRowLook(const DictationIncident &issue, bool hasRecording,
                                const RecoveredTranscriptionState &state, bool copied, const QLocale &locale,
                                const std::optional<QString> &unshownRecording)
{
    using Kind = RecoveredTranscriptionState::Kind;
    IncidentRowLook look;
    look.hasRecording = hasRecording;
    const bool busy = state.is(Kind::transcribing);
    look.retrying = busy && state.incident() == issue.id;
    // One re-transcription at a time.
    look.retryEnabled = !busy;
    look.retryTitle = look.retrying ? QStringLiteral("Retrying Transcription") : QStringLiteral("Retry Transcription");
    look.retryAccessibleName =
        look.retrying ? QStringLiteral("Retrying transcription") : QStringLiteral("Retry transcription");
    look.deleteEnabled = !look.retrying;
    // The tooltip names the recording whenever the incident names one, even when its file is gone.
    look.deleteHelp = issue.recordingFilename ? QStringLiteral("Delete issue and recovered recording")
                                              : QStringLiteral("Delete issue");
    look.copyTitle = copied ? QStringLiteral("Copied") : QStringLiteral("Copy Details");
    look.copySymbol = copied ? QStringLiteral("checkmark") : QStringLiteral("doc.on.doc");
    if (state.is(Kind::failed) && state.incident() == issue.id) {
        // A retry that fails for the reason the row already gives says only that it failed, rather
        // than repeating that line under it word for word.
        const QString message = state.message().trimmed();
        const bool repeats = message == issue.message.trimmed() || message == issue.nextStep.trimmed();
        look.failureMessage = repeats ? QStringLiteral("Retry failed.") : state.message();
    }
    look.dateText = abbreviatedDateTime(issue.date, locale);
    if (hasRecording && unshownRecording)
        look.revealFailure = revealFailureText(QStringLiteral("recording"), *unshownRecording);
    return look;
}

IncidentRowModel::IncidentRowModel(DictationIncident issue, IncidentStore &store, DictationController &controller,
                                   platform::Pasteboard &pasteboard, rt::MainLoop &loop, QLocale locale,
                                   QObject *parent)
    : QObject(parent), m_issue(std::move(issue)), m_store(store), m_controller(controller), m_pasteboard(pasteboard),
      m_locale(std::move(locale)), m_copied(loop, [this] { emit changed(); })
{
    connect(&m_store, &IncidentStore::itemsChanged, this, &IncidentRowModel::changed);
    connect(&m_controller, &DictationController::recoveredTranscriptionStateChanged, this, &IncidentRowModel::changed);
}

IncidentRowLook IncidentRowModel::look() const
{
    return incidentRowLook(m_issue, m_store.recordingURL(m_issue).has_value(),
                           m_controller.recoveredTranscriptionState(), m_copied.isShown(), m_locale,
                           m_unshownRecording);
}

void IncidentRowModel::retry()
{
    m_controller.retryRecoveredTranscription(m_issue);
}

void IncidentRowModel::copyDetails()
{
    if (copyHistoryText(m_pasteboard, m_issue.reportText()))
        m_copied.confirm();
}

void IncidentRowModel::showRecordingAction()
{
    // The answer may come after the row is gone (the file manager's reply, or xdg-open's exit).
    m_store.revealRecording(m_issue, [self = QPointer<IncidentRowModel>(this)](const RevealResult &result) {
        if (!self)
            return;
        self->m_unshownRecording = result.shown ? std::nullopt : std::optional<QString>(result.path);
        emit self->changed();
    });
}

void IncidentRowModel::deleteAction()
{
    m_store.remove(m_issue);
}

} // namespace zq

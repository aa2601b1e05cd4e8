#pragma once

#include <QWidget>

class QToolButton;

namespace zq {

class IncidentRowModel;
class StyledLabel;
class SymbolView;
class ZepaButton;

// One recent failure on the Support page: the warning icon beside its title and support code, the
// message and the next step, the actions (retry the kept recording, copy the issue report, show
// the recording), the footer with the kept-recording note, the date and the delete button, the
// failure of its last retry and, when nothing could show the recording, where it is. Redraws
// whenever its model reports a change.
class IncidentRow : public QWidget {
    Q_OBJECT
public:
    // Observes the model without owning it; a model made for this row alone is made its child.
    explicit IncidentRow(IncidentRowModel &model, QWidget *parent = nullptr);

    IncidentRowModel &model() const { return m_model; }
    ZepaButton *retryButton() const { return m_retry; }
    QWidget *retryingIndicator() const { return m_retrying; }
    ZepaButton *copyButton() const { return m_copy; }
    ZepaButton *showRecordingButton() const { return m_showRecording; }
    QToolButton *deleteButton() const { return m_delete; }
    StyledLabel *failureLabel() const { return m_failure; }
    StyledLabel *revealFailureLabel() const { return m_revealFailure; }

    void refresh();

protected:
    void changeEvent(QEvent *event) override;

private:
    void paintDeleteIcon();

    IncidentRowModel &m_model;
    ZepaButton *m_retry;
    QWidget *m_retrying;
    ZepaButton *m_copy;
    ZepaButton *m_showRecording;
    QWidget *m_recordingKept;
    StyledLabel *m_date;
    QToolButton *m_delete;
    StyledLabel *m_failure;
    StyledLabel *m_revealFailure;
};

} // namespace zq

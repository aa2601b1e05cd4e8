#pragma once

#include <QString>
#include <QUuid>

#include <utility>

namespace zq {

// Where the re-transcription of a kept recording stands, as the support page shows it. A plain
// value: two states are equal when they are the same case with equal payloads.
class RecoveredTranscriptionState {
public:
    enum class Kind { transcribing, succeeded, failed, idle };

    // A retry of that incident runs.
    static RecoveredTranscriptionState transcribing(QUuid incident)
    {
        return RecoveredTranscriptionState(Kind::transcribing, incident);
    }
    // The last retry succeeded; `copied` tells whether the text reached the clipboard.
    static RecoveredTranscriptionState succeeded(bool copied)
    {
        RecoveredTranscriptionState state(Kind::succeeded);
        state.m_copied = copied;
        return state;
    }
    // The last retry of that incident failed, with the text to show under it.
    static RecoveredTranscriptionState failed(QUuid incident, QString message)
    {
        return RecoveredTranscriptionState(Kind::failed, incident, std::move(message));
    }
    static RecoveredTranscriptionState idle() { return RecoveredTranscriptionState(Kind::idle); }

    Kind kind() const { return m_kind; }
    bool is(Kind kind) const { return m_kind == kind; }
    // The incident of `transcribing` and `failed`; null otherwise.
    const QUuid &incident() const { return m_incident; }
    // Only meaningful for `succeeded`.
    bool copied() const { return m_copied; }
    // Only meaningful for `failed`.
    const QString &message() const { return m_message; }

    friend bool operator==(const RecoveredTranscriptionState &, const RecoveredTranscriptionState &) = default;

private:
    explicit RecoveredTranscriptionState(Kind kind, QUuid incident = {}, QString message = {})
        : m_kind(kind), m_incident(incident), m_message(std::move(message))
    {}

    Kind m_kind;
    QUuid m_incident;
    bool m_copied = false;
    QString m_message;
};

} // namespace zq

#pragma once

#include <QString>

namespace zq {

// Why a take ended in failure; the controller's one failure path takes it and the incident store
// turns it into a support code. A plain value.
class DictationFailure {
public:
    enum class Kind {
        micPermissionUndetermined,
        micPermissionDenied,
        micUnavailable,
        noAudio,
        pasteBlocked,
        timedOut,
        transcription,
        // The take's only microphone went away mid-take; what was heard before was delivered.
        micLost,
    };

    static DictationFailure micPermissionUndetermined() { return DictationFailure(Kind::micPermissionUndetermined); }
    static DictationFailure micPermissionDenied() { return DictationFailure(Kind::micPermissionDenied); }
    static DictationFailure micUnavailable() { return DictationFailure(Kind::micUnavailable); }
    static DictationFailure noAudio() { return DictationFailure(Kind::noAudio); }
    static DictationFailure pasteBlocked() { return DictationFailure(Kind::pasteBlocked); }
    static DictationFailure timedOut() { return DictationFailure(Kind::timedOut); }
    static DictationFailure micLost() { return DictationFailure(Kind::micLost); }
    // `message` is the engine error's user-facing description.
    static DictationFailure transcription(QString message)
    {
        return DictationFailure(Kind::transcription, std::move(message));
    }

    Kind kind() const { return m_kind; }
    // The error text of `transcription`; empty for every other kind.
    const QString &message() const { return m_message; }

    friend bool operator==(const DictationFailure &, const DictationFailure &) = default;

private:
    explicit DictationFailure(Kind kind, QString message = {}) : m_kind(kind), m_message(std::move(message)) {}

    Kind m_kind;
    QString m_message;
};

} // namespace zq

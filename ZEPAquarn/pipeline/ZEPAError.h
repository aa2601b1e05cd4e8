#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

namespace zq {

// The transcription engines' own failure with a user-facing sentence. It travels as the failure
// of a transcription stream (AsyncChannel::fail), so it is an exception type; errorDescription()
// is the text consumers show and store.
class ZEPAError : public std::exception {
public:
    enum class Kind { transcriptionFailed, wrongAudioSource, noAPIKey };

    static ZEPAError transcriptionFailed(QString message)
    {
        return ZEPAError(Kind::transcriptionFailed, std::move(message));
    }
    static ZEPAError wrongAudioSource() { return ZEPAError(Kind::wrongAudioSource, {}); }
    static ZEPAError noAPIKey() { return ZEPAError(Kind::noAPIKey, {}); }

    Kind kind() const { return m_kind; }
    // The payload of `transcriptionFailed`; empty for the other kinds.
    const QString &message() const { return m_message; }

    QString errorDescription() const;
    const char *what() const noexcept override { return m_what.constData(); }

    friend bool operator==(const ZEPAError &a, const ZEPAError &b)
    {
        return a.m_kind == b.m_kind && a.m_message == b.m_message;
    }

private:
    ZEPAError(Kind kind, QString message);

    Kind m_kind;
    QString m_message;
    QByteArray m_what; // UTF-8 of errorDescription(), kept alive for what()
};

} // namespace zq

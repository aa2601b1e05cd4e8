#pragma once

#include "runtime/Result.h"

#include <QByteArray>
#include <QString>

#include <exception>

namespace zq {

// The error domains of capture failures; the start attempts tell the failed step from them.
namespace audioErrorDomain {
// The application's own capture errors (codes 2 to 6).
inline const QString app = QStringLiteral("ZEPAquarn");
// A status returned by the audio server back-end; the code is that status.
inline const QString serverStatus = QStringLiteral("io.quorvane.zepaquarn.audio-status");
// Failures of the audio-engine core's input tap (codes 1 to 4).
inline const QString audioTap = QStringLiteral("io.quorvane.zepaquarn.audio-tap");
} // namespace audioErrorDomain

// A capture failure thrown inside tasks and executor operations: a domain, a code and a
// user-facing sentence, the same triple as rt::Error.
class AudioCaptureError : public std::exception {
public:
    explicit AudioCaptureError(rt::Error error) : m_error(std::move(error)), m_what(m_error.message.toUtf8()) {}
    AudioCaptureError(const QString &domain, int code, const QString &message)
        : AudioCaptureError(rt::Error{message, domain, code})
    {}

    const rt::Error &error() const { return m_error; }
    const QString &domain() const { return m_error.domain; }
    int code() const { return m_error.code; }
    const QString &errorDescription() const { return m_error.message; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    rt::Error m_error;
    QByteArray m_what;
};

} // namespace zq

#include "audio/CaptureCore.h"

#include <utility>

namespace zq {

PhasedStartError::PhasedStartError(StartFailurePhase phase, std::exception_ptr underlying, QString description)
    : m_phase(phase), m_underlying(std::move(underlying)), m_description(std::move(description)),
      m_what(m_description.toUtf8())
{}

CaptureCoreKind captureCoreKind(const QString &settingValue)
{
    return settingValue == QLatin1String("avfaudio") ? CaptureCoreKind::avfaudio : CaptureCoreKind::auhal;
}

QString captureCoreName(CaptureCoreKind kind)
{
    return kind == CaptureCoreKind::avfaudio ? QStringLiteral("avfaudio") : QStringLiteral("auhal");
}

} // namespace zq

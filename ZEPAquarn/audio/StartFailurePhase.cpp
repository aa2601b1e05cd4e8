#include "audio/StartFailurePhase.h"

#include <array>
#include <utility>

namespace zq {

namespace {

const std::array<std::pair<StartFailurePhase, const char *>, 7> kRawValues{{
    {StartFailurePhase::resolveFailed, "resolve_failed"},
    {StartFailurePhase::engineCreate, "engine_create"},
    {StartFailurePhase::bind, "bind"},
    {StartFailurePhase::tap, "tap"},
    {StartFailurePhase::start, "start"},
    {StartFailurePhase::halTimeout, "hal_timeout"},
    {StartFailurePhase::unknown, "unknown"},
}};

} // namespace

QString rawValue(StartFailurePhase phase)
{
    for (const auto &[candidate, raw] : kRawValues) {
        if (candidate == phase)
            return QString::fromLatin1(raw);
    }
    return QStringLiteral("unknown");
}

std::optional<StartFailurePhase> startFailurePhase(const QString &raw)
{
    for (const auto &[phase, candidate] : kRawValues) {
        if (raw == QLatin1String(candidate))
            return phase;
    }
    return std::nullopt;
}

} // namespace zq

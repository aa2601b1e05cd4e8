#pragma once

#include "runtime/RawValue.h"

#include <QString>

#include <array>
#include <optional>

namespace zq {

// Which step of an audio start failed; only for the journal. The raw values are stored as they are.
enum class StartFailurePhase { resolveFailed, engineCreate, bind, tap, start, halTimeout, unknown };

constexpr std::array<RawValueName<StartFailurePhase>, 7> rawValueNames(StartFailurePhase)
{
    return {{{StartFailurePhase::resolveFailed, "resolve_failed"},
             {StartFailurePhase::engineCreate, "engine_create"},
             {StartFailurePhase::bind, "bind"},
             {StartFailurePhase::tap, "tap"},
             {StartFailurePhase::start, "start"},
             {StartFailurePhase::halTimeout, "hal_timeout"},
             {StartFailurePhase::unknown, "unknown"}}};
}

} // namespace zq

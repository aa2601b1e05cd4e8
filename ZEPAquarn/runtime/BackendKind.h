#pragma once

#include "runtime/RawValue.h"

#include <array>

namespace zq {

// The transcription engine the "backend" setting selects. A take's incident and the diagnostics keep
// the setting's text as it was read; this is what the code decides on.
enum class BackendKind { local, openai };

constexpr std::array<RawValueName<BackendKind>, 2> rawValueNames(BackendKind)
{
    return {{{BackendKind::local, "local"}, {BackendKind::openai, "openai"}}};
}

// The engine a stored "backend" text selects: exactly "openai" is the OpenAI engine; anything else
// ("local", empty, "OpenAI", a name a later version wrote) is the on-device one.
inline BackendKind backendKindOf(QStringView stored)
{
    return fromRawValue<BackendKind>(stored).value_or(BackendKind::local);
}

} // namespace zq

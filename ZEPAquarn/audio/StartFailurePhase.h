#pragma once

#include <QString>

#include <optional>

namespace zq {

// Which step of an audio start failed; only for the journal. The raw values are stored as they are.
enum class StartFailurePhase { resolveFailed, engineCreate, bind, tap, start, halTimeout, unknown };

QString rawValue(StartFailurePhase phase);
std::optional<StartFailurePhase> startFailurePhase(const QString &rawValue);

} // namespace zq

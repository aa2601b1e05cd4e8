#pragma once

#include "transcription/RuleBasedCleanupModel.h"

namespace zq::platform {
using zq::RuleBasedCleanupModel;
} // namespace zq::platform

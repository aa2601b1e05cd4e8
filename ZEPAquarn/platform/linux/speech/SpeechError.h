#pragma once

#include "runtime/Result.h"

#include <QString>

#include <utility>

namespace zq::platform {

// The on-device recogniser's errors share one domain; the code tells the journal which step failed.
enum class SpeechErrorCode {
    noModel = 1,
    modelNotLoaded = 2,
    cancelled = 3,
    decodeFailed = 4,
    misuse = 5,
    cutNotKept = 6,
};

inline rt::Error speechError(QString message, SpeechErrorCode code)
{
    return rt::makeError(std::move(message), QStringLiteral("io.quorvane.zepaquarn.speech"), static_cast<int>(code));
}

inline rt::Error speechCancelledError()
{
    return speechError(QStringLiteral("Speech recognition was cancelled."), SpeechErrorCode::cancelled);
}

} // namespace zq::platform

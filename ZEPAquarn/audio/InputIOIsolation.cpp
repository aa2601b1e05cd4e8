#include "audio/InputIOIsolation.h"

#include "audio/AudioCaptureError.h"
#include "platform/RecordStream.h"
#include "runtime/Log.h"

namespace zq {

void isolateInputIO(platform::RecordStream *unit)
{
    using Scope = platform::RecordStream::IOScope;
    if (!unit)
        throw AudioCaptureError(audioErrorDomain::app, 6,
                                QStringLiteral("The audio server could not create an input unit"));
    const std::optional<bool> output = unit->isIOEnabled(Scope::output);
    const std::optional<bool> input = unit->isIOEnabled(Scope::input);
    if (output == false && input == true)
        return;
    const rt::Result<void> disableOutput = unit->setIOEnabled(Scope::output, false);
    const rt::Result<void> enableInput = unit->setIOEnabled(Scope::input, true);
    if (disableOutput && enableInput)
        return;
    // A failed write always yields a non-zero status, even from a back-end that reports 0.
    const auto status = [](const rt::Result<void> &result) {
        return result ? 0 : (result.error().code != 0 ? result.error().code : -1);
    };
    const int disableStatus = status(disableOutput);
    const int enableStatus = status(enableInput);
    qCCritical(lcAudio, "session: could not isolate input IO (disable_output=%d, enable_input=%d)", disableStatus,
               enableStatus);
    throw AudioCaptureError(audioErrorDomain::serverStatus, disableStatus != 0 ? disableStatus : enableStatus,
                            QStringLiteral("The audio server could not isolate the selected microphone"));
}

} // namespace zq

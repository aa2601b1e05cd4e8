#pragma once

namespace zq::platform {
class RecordStream;
}

namespace zq {

// Makes the unit capture-only: output disabled, input enabled. Writes nothing when the unit is
// already so. Runs on the HAL executor's queue. Throws AudioCaptureError: code 6 of the app domain
// without a unit, or the server status of the failed write.
void isolateInputIO(platform::RecordStream *unit);

} // namespace zq

#pragma once

namespace zq::platform {

// The shape of PCM audio as the capture cores and files describe it.
// Samples travel as 32-bit float, one plane per channel, unless `commonFormat` says 16-bit integer
// (only files and upload copies use that).
struct AudioFormat {
    enum class CommonFormat { float32, int16 };

    double sampleRate = 0;
    int channelCount = 0;
    CommonFormat commonFormat = CommonFormat::float32;
    bool interleaved = false;

    bool isValid() const { return sampleRate > 0 && channelCount > 0; }
    friend bool operator==(const AudioFormat &, const AudioFormat &) = default;
};

} // namespace zq::platform

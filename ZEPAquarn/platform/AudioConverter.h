#pragma once

#include "platform/AudioFormat.h"
#include "platform/PCMBuffer.h"
#include "runtime/Result.h"

#include <memory>
#include <vector>

namespace zq::platform {

// A streaming converter of float32 planar audio: any sample rate to any other, and either the same
// channel count or a mixdown of N channels to mono (the mean of the channels).
//
// Feed it one block after another with convert(); it keeps the resampler's state between blocks,
// so a stream cut into blocks converts exactly like the whole signal. The resampler delays its
// output a little: a block may give fewer frames than its share (even none), and flush() at the end
// of the input returns the rest. One object is used by one thread at a time.
class AudioConverter {
public:
    // Fails when either format is invalid, the target is not float32, or the target's channel count
    // is neither 1 nor the source's.
    static rt::Result<std::unique_ptr<AudioConverter>> create(const AudioFormat &from, const AudioFormat &to);

    ~AudioConverter();
    AudioConverter(const AudioConverter &) = delete;
    AudioConverter &operator=(const AudioConverter &) = delete;

    const AudioFormat &inputFormat() const { return m_from; }
    const AudioFormat &outputFormat() const { return m_to; }

    // Converts the input's valid frames. The input must have the source's channel count (its sample
    // rate is taken to be the source rate). The result is in the output format.
    rt::Result<std::shared_ptr<PCMBuffer>> convert(const PCMBuffer &input);

    // Ends the stream: returns the frames the resampler still holds, then starts afresh.
    rt::Result<std::shared_ptr<PCMBuffer>> flush();

private:
    AudioConverter(const AudioFormat &from, const AudioFormat &to);
    rt::Result<std::shared_ptr<PCMBuffer>> process(const float *const *planes, std::size_t frames, bool last);

    AudioFormat m_from;
    AudioFormat m_to;
    void *m_soxr = nullptr; // soxr_t; null when the rates are equal
    std::vector<std::vector<float>> m_mixed;
    std::vector<const float *> m_inPlanes;
};

} // namespace zq::platform

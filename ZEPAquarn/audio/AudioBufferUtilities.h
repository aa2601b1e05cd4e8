#pragma once

#include "platform/AudioFile.h"
#include "platform/AudioFormat.h"
#include "platform/PCMBuffer.h"
#include "platform/RecordStream.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace zq {

// Small stateless helpers shared by the capture cores, the input tap and the take writer. The
// buffer functions run on the audio thread; each allocates only its result, and every failure
// gives a null buffer or an empty list rather than an exception.

// A new buffer holding `frames` frames copied from one sample pointer per channel. Null when
// `frames` < 1 (or beyond 32 bits), the pointer count differs from the format's channel count, a
// pointer is null, or the format is not planar float32.
std::shared_ptr<platform::PCMBuffer> makePCMBuffer(const float *const *channels, int channelCount, std::int64_t frames,
                                                   const platform::AudioFormat &format);

// A planar float32 copy of the buffer's valid frames. Null for an empty buffer, an interleaved
// buffer of more than one channel, or one without float samples.
std::shared_ptr<platform::PCMBuffer> copyPCMBuffer(const platform::PCMBuffer &buffer);

// The root mean square of channel 0 over consecutive chunks of `chunkFrames` frames (the last one
// may be shorter). Empty for a chunk below 1, an empty buffer or one without float samples.
std::vector<double> chunkRMS(const platform::PCMBuffer &buffer, int chunkFrames);

// A WAV file opened for writing at `path` with the rate, channels and sample type of `settings`;
// the file layer's error is passed on unchanged.
rt::Result<std::unique_ptr<platform::AudioFile>> makeWritableAudioFile(const QString &path,
                                                                       const platform::AudioFormat &settings);

// The device the unit is bound to; nullopt without a unit, when unreadable, or 0.
std::optional<platform::AudioDeviceId> boundInputDevice(const platform::RecordStream *unit);

} // namespace zq

#pragma once

#include "platform/AudioFormat.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace zq::platform {

// A block of float32 PCM audio, one plane per channel, with a fixed capacity and a valid length.
// Buffers are filled once and then shared read-only (`std::shared_ptr<const PCMBuffer>`).
class PCMBuffer {
public:
    PCMBuffer(AudioFormat format, std::uint32_t frameCapacity)
        : m_format(format), m_frameCapacity(frameCapacity),
          m_planes(static_cast<std::size_t>(format.channelCount > 0 ? format.channelCount : 0),
                   std::vector<float>(frameCapacity, 0.0f))
    {}

    const AudioFormat &format() const { return m_format; }
    std::uint32_t frameCapacity() const { return m_frameCapacity; }
    std::uint32_t frameLength() const { return m_frameLength; }
    // Clamped to the capacity: a length is never trusted beyond the storage.
    void setFrameLength(std::uint32_t frames) { m_frameLength = frames < m_frameCapacity ? frames : m_frameCapacity; }

    int channelCount() const { return static_cast<int>(m_planes.size()); }
    float *channelData(int channel) { return m_planes[static_cast<std::size_t>(channel)].data(); }
    const float *channelData(int channel) const { return m_planes[static_cast<std::size_t>(channel)].data(); }

    double duration() const { return m_format.sampleRate > 0 ? m_frameLength / m_format.sampleRate : 0.0; }

private:
    AudioFormat m_format;
    std::uint32_t m_frameCapacity = 0;
    std::uint32_t m_frameLength = 0;
    std::vector<std::vector<float>> m_planes;
};

using SharedPCMBuffer = std::shared_ptr<const PCMBuffer>;

} // namespace zq::platform

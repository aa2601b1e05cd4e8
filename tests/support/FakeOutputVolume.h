#pragma once

#include "platform/OutputVolume.h"

#include <cmath>
#include <map>
#include <optional>
#include <vector>

namespace zq::test {

// The level a volume ramp from `from` to `to` sets at step `step` of 12, on the raised-cosine curve.
inline float rampLevel(float from, float to, int step)
{
    const float t = float(step) / 12.0f;
    const float eased = (1.0f - std::cos(3.1415925f * t)) * 0.5f;
    return from + eased * (to - from);
}

// A scriptable output: devices with a main volume or per-channel volumes, reads and writes that
// fail on demand, and a log of every level written. Main thread only.
class FakeOutputVolume final : public platform::OutputVolume {
public:
    struct Device {
        bool hasMainVolume = true;
        std::uint32_t channelCount = 2;
        std::vector<std::uint32_t> settableChannels; // 1-based, when there is no main volume
        std::map<std::uint32_t, float> levels;       // element -> level
        bool running = false;
    };
    struct Write {
        platform::OutputDeviceId device;
        std::uint32_t element;
        float level;
    };

    // Adds a device with a settable main volume at `level` and makes it the default.
    platform::OutputDeviceId addMainVolumeDevice(float level);
    // Adds a device with no main volume and the given channel levels (elements 1…n), all settable.
    platform::OutputDeviceId addChannelVolumeDevice(std::vector<float> levels);
    Device &device(platform::OutputDeviceId id) { return m_devices.at(id); }
    void setDefaultDevice(std::optional<platform::OutputDeviceId> id) { m_default = id; }

    // A level changed by someone else (the user's volume keys).
    void setLevelExternally(platform::OutputDeviceId id, std::uint32_t element, float level);
    float level(platform::OutputDeviceId id, std::uint32_t element) const;
    void setFailReads(bool fail) { m_failReads = fail; }
    void setFailWrites(bool fail) { m_failWrites = fail; }
    // Levels that read back slightly differently from what was written (hardware steps).
    void setWriteQuantum(float quantum) { m_quantum = quantum; }

    const std::vector<Write> &writes() const { return m_writes; }
    void clearWrites() { m_writes.clear(); }

    std::optional<platform::OutputDeviceId> defaultOutputDevice() override { return m_default; }
    bool isVolumeSettable(platform::OutputDeviceId device, std::uint32_t element) override;
    std::optional<std::uint32_t> outputChannelCount(platform::OutputDeviceId device) override;
    std::optional<float> volume(platform::OutputDeviceId device, std::uint32_t element) override;
    bool setVolume(platform::OutputDeviceId device, std::uint32_t element, float level) override;
    std::optional<bool> isRunning(platform::OutputDeviceId device) override;

private:
    std::map<platform::OutputDeviceId, Device> m_devices;
    std::optional<platform::OutputDeviceId> m_default;
    platform::OutputDeviceId m_nextId = 40;
    bool m_failReads = false;
    bool m_failWrites = false;
    float m_quantum = 0;
    std::vector<Write> m_writes;
};

} // namespace zq::test

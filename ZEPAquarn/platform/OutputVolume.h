#pragma once

#include <cstdint>
#include <optional>

namespace zq::platform {

// An output device as the audio server names it for the life of that device.
using OutputDeviceId = std::uint32_t;

// The volume of the default output device, at the level of the device's properties.
//
// A device has a main volume (element 0) and may have one volume per output channel (elements 1
// to the channel count). Levels are slider positions from 0 (silent) to 1 (the device's nominal
// full level); a device that is turned up beyond its nominal level reads above 1.
// "Running" means another program is playing through the device right now; the sound cues of this
// application never count.
//
// Calls are synchronous and short (a local round trip to the audio server), bounded by a timeout,
// and meant for the main thread. Every failure is a plain "no" (none, false): with no audio server,
// no default output or a device that vanished, nothing is reported and nothing is thrown.
class OutputVolume {
public:
    virtual ~OutputVolume() = default;

    virtual std::optional<OutputDeviceId> defaultOutputDevice() = 0;
    // Whether the device has a volume on `element` that can be set.
    virtual bool isVolumeSettable(OutputDeviceId device, std::uint32_t element) = 0;
    virtual std::optional<std::uint32_t> outputChannelCount(OutputDeviceId device) = 0;
    virtual std::optional<float> volume(OutputDeviceId device, std::uint32_t element) = 0;
    // Sets the level; true once the server has taken it.
    virtual bool setVolume(OutputDeviceId device, std::uint32_t element, float level) = 0;
    // Whether anything but our own cues is playing through the device. None when it cannot be told.
    virtual std::optional<bool> isRunning(OutputDeviceId device) = 0;
};

} // namespace zq::platform

#pragma once

#include "platform/RecordStream.h"
#include "runtime/Executor.h"
#include "runtime/Result.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace zq::platform {

// The audio hardware as the capture side sees it: devices with their properties, listeners on
// those properties, and record streams to capture with.
//
// Device ids come from a counter that never hands out an id twice in the process; 0 means no
// device. An id stays valid while its device is present; a device that comes back (a headset
// plugged in again) gets a new id and keeps its uid.
//
// Threads: every method may be called from any thread and may block on the audio server (the
// capture side calls them on the HAL executor's queue; the device list is also read on the main
// thread). Reads give nullopt when they fail, the object is gone, or no server is reachable;
// nothing here throws.
//
// Listeners: the callback runs on `queue` when one is given, else on a thread of the back-end's
// own; never on the caller's thread, never with a back-end lock held, so it may read properties.
// A listener may fire more than once for one change, or for a change that is not visible any more
// when it runs: callbacks read the property again. After removeListener() returns the callback is
// not started again; one that is running may finish.
class AudioHardware {
public:
    enum class SystemProperty {
        defaultInputDevice, // the system's default input changed
        devices,            // a device appeared or vanished
    };
    enum class DeviceProperty {
        isAlive,           // the device vanished
        nominalSampleRate, // the device's own rate changed
    };
    enum class StringProperty { name, uid };

    using ListenerID = std::uint64_t;
    using Listener = std::function<void()>;

    virtual ~AudioHardware() = default;

    // Every device the back-end reports, in its order (input and output, aggregates included).
    // nullopt when the list cannot be read.
    virtual std::optional<std::vector<AudioDeviceId>> devices() = 0;
    // nullopt when the read fails; 0 when there is no default input.
    virtual std::optional<AudioDeviceId> defaultInputDevice() = 0;

    // Total input channels over the device's input streams; 0 for an output-only device.
    virtual std::optional<int> inputChannelCount(AudioDeviceId device) = 0;
    virtual std::optional<QString> stringProperty(AudioDeviceId device, StringProperty property) = 0;
    // A transport-type code (pipeline/InputTransport.h); 0 when the kind is not known.
    virtual std::optional<std::uint32_t> transportType(AudioDeviceId device) = 0;
    // The device's own input rate in Hz.
    virtual std::optional<double> nominalSampleRate(AudioDeviceId device) = 0;
    // How long that rate has held its present value, from a back-end that hears of every change as
    // it happens; nullopt from one that can only read the rate, or for a device it cannot tell of.
    virtual std::optional<rt::Nanos> nominalSampleRateHeldFor(AudioDeviceId) { return std::nullopt; }
    // False (or nullopt) once the device has vanished.
    virtual std::optional<bool> isAlive(AudioDeviceId device) = 0;
    // The active member devices of an aggregate device, as a list that may contain 0 entries;
    // empty for a device that is not an aggregate.
    virtual std::optional<std::vector<AudioDeviceId>> activeAggregateSubdevices(AudioDeviceId device) = 0;

    // Registration fails with the back-end's status (e.g. no server reachable, unknown device).
    virtual rt::Result<ListenerID> addSystemListener(SystemProperty property, rt::Executor *queue,
                                                     Listener listener) = 0;
    virtual rt::Result<ListenerID> addDeviceListener(AudioDeviceId device, DeviceProperty property, rt::Executor *queue,
                                                     Listener listener) = 0;
    // Unknown ids are ignored.
    virtual void removeListener(ListenerID listener) = 0;

    // A new, unbound record stream. Fails when no audio server is reachable.
    virtual rt::Result<std::unique_ptr<RecordStream>> makeRecordStream() = 0;
};

} // namespace zq::platform

#pragma once

#include "platform/AudioFormat.h"
#include "runtime/Result.h"

#include <cstdint>
#include <functional>
#include <optional>

namespace zq::platform {

// An audio device as the back-end numbers it (see AudioHardware); 0 means none.
using AudioDeviceId = std::uint32_t;

// One capture cycle as the input callback sees it. `frames` never exceeds the stream's
// maximumFramesPerCycle(); `sampleTime` counts frames since the stream started.
struct CaptureCycle {
    std::uint32_t frames = 0;
    double sampleTime = 0;
};

// What a capture core drives: one capture stream from one input device, input only.
//
// Life: bind (setCurrentDevice, optional: unbound it captures from the default input), set the
// client format, install the input callback, initialize(), start(); later stop() and
// uninitialize(). A stream is used once; make a new one for the next session.
//
// Threads: every method but render() blocks on the audio server and is called on the HAL
// executor's queue, never on the main thread, and never from inside the input callback. The input
// callback runs on the back-end's audio thread; inside it the core calls render() to copy that
// cycle's samples. After stop() returns no input callback is in flight and none starts again.
// The configuration-change handler runs on a back-end thread (never inside a blocking method of
// the stream, and not on the audio thread), and may call back into the stream.
//
// Failure: operations return an error whose `code` is the back-end's status (never 0) and whose
// message is a sentence; reads give nullopt. A device that vanishes while the stream runs ends the
// capture (no more callbacks) and fires the configuration-change handler.
class RecordStream {
public:
    enum class IOScope { input, output };

    // Return 0 for success or a non-zero status; the back-end drops the cycle on a non-zero status.
    using InputCallback = std::function<int(const CaptureCycle &)>;
    using ConfigurationChangeHandler = std::function<void()>;

    virtual ~RecordStream() = default;

    // Whether capture (input) or playback (output) is enabled on the stream; nullopt when unreadable.
    virtual std::optional<bool> isIOEnabled(IOScope scope) const = 0;
    virtual rt::Result<void> setIOEnabled(IOScope scope, bool enabled) = 0;

    // Before initialize(): chooses the device. An unknown or vanished id fails here or at start().
    virtual rt::Result<void> setCurrentDevice(AudioDeviceId device) = 0;
    // The device the stream is really bound to: once running, what the server reports for the
    // stream; before, the chosen device or else the current default input. nullopt when there is
    // none or it cannot be read.
    virtual std::optional<AudioDeviceId> currentDevice() const = 0;

    // The bound device's own format (its rate and channels), as it stands now; nullopt when unknown.
    virtual std::optional<AudioFormat> inputFormat() const = 0;
    // The format of the samples render() hands out: float32, non-interleaved.
    virtual rt::Result<void> setClientFormat(const AudioFormat &format) = 0;
    virtual std::optional<AudioFormat> clientFormat() const = 0;
    // The largest frame count of one cycle; nullopt when unreadable.
    virtual std::optional<std::uint32_t> maximumFramesPerCycle() const = 0;

    // Installs (or, with an empty function, clears) the input callback. Not while running.
    virtual rt::Result<void> setInputCallback(InputCallback callback) = 0;
    virtual void setConfigurationChangeHandler(ConfigurationChangeHandler handler) = 0;

    virtual rt::Result<void> initialize() = 0;
    virtual rt::Result<void> start() = 0;
    // Idempotent; see the class comment for its guarantee.
    virtual rt::Result<void> stop() = 0;
    virtual rt::Result<void> uninitialize() = 0;

    // Only inside the input callback, for its cycle: copies `frames` (at most the cycle's) frames
    // of every client channel into `planes` (one per channel, `planeCount` of them). Returns 0, or
    // a non-zero status when the cycle cannot be rendered. Never allocates, locks or logs.
    virtual int render(const CaptureCycle &cycle, float *const *planes, int planeCount, std::uint32_t frames) = 0;
};

} // namespace zq::platform

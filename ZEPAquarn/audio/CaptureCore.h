#pragma once

#include "pipeline/InputTransport.h"
#include "platform/AudioFormat.h"
#include "platform/PCMBuffer.h"

#include "runtime/Executor.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace zq::platform {
class AudioHardware;
}
namespace zq::rt {
class Clocks;
class Settings;
} // namespace zq::rt

namespace zq {

class BoundedHALExecutor;
class DeferredAudioObjectReleasePool;

enum class StartFailurePhase; // audio/StartFailurePhase.h

// A render buffer's byte count is 32 bits wide: a unit's frames per slice at or above this cannot
// be described, so no core sizes its buffers by such a value.
inline constexpr std::uint32_t kCaptureFrameCapacityLimit = 1u << 30;

// Where a captured buffer sits in the stream: its first frame's sample time (frames since the
// capture started) at `sampleRate`.
struct CaptureTime {
    std::int64_t sampleTime = 0;
    double sampleRate = 0;
};

// Called on the audio thread with every captured buffer. The buffer is never written again while
// anyone holds it, but it comes from a small pool the core renders into: a tap that keeps buffers
// beyond the call makes the core drop cycles once the pool is exhausted. Must not block.
using CaptureTapCallback = std::function<void(const platform::SharedPCMBuffer &buffer, const CaptureTime &time)>;
// Called from a listener or notification thread when the device under the capture vanished or
// changed its format; may fire more than once. Must only hand the news to the caller's own thread.
using CaptureRecoveryCallback = std::function<void()>;

// What a successful start bound to.
struct CaptureCoreSetup {
    std::optional<std::uint32_t> boundDevice;
    std::optional<QString> boundDeviceName;           // nullopt when unreadable
    InputTransport transport = InputTransport::other; // `other` when unreadable
    platform::AudioFormat format;                     // the format of the buffers the tap receives
    std::optional<double> deviceNominalRate;          // as read from the device, never a fallback value
};

// What a running capture is bound to now.
struct CaptureRouteInspection {
    std::optional<std::uint32_t> boundDevice;
    // The active members when the bound device is an aggregate and that was asked for; else empty.
    std::set<std::uint32_t> activeAggregateSubdevices;

    friend bool operator==(const CaptureRouteInspection &, const CaptureRouteInspection &) = default;
};

// A numbered step of a core's start failed. `underlying` is the step's own error (an
// AudioCaptureError with the server status, or whatever the step threw); `errorDescription()` is
// its sentence, which the retry log prints.
class PhasedStartError : public std::exception {
public:
    PhasedStartError(StartFailurePhase phase, std::exception_ptr underlying, QString description);

    StartFailurePhase phase() const { return m_phase; }
    const std::exception_ptr &underlying() const { return m_underlying; }
    const QString &errorDescription() const { return m_description; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    StartFailurePhase m_phase;
    std::exception_ptr m_underlying;
    QString m_description;
    QByteArray m_what;
};

// The object that opens the microphone for one capture session of the audio engine.
//
// Threads: start() and inspectRoute() block on the audio server and run on the HAL executor's
// queue (under its 6.0 s deadline); stop() runs on the main thread and moves the heavy part to the
// executor's queue. The core's fields carry no lock: start() writes them before the engine keeps
// the core, and afterwards only the main thread calls stop().
//
// Life: made for one session, started at most once, stopped once. A start that misses its
// deadline still finishes on the abandoned queue, so callers keep the core in a shared_ptr that the
// operation captures. A core destroyed while its capture may still run stops the capture before
// anything the callback uses is freed.
class CaptureCore {
public:
    virtual ~CaptureCore() = default;

    // Blocking; throws AudioCaptureError (domains and codes in audio/AudioCaptureError.h),
    // PhasedStartError, or the audio-tap errors. `prefUID` is the stored input preference (a device
    // uid or "system-default"), `resolved` the device the engine resolved it to.
    virtual CaptureCoreSetup start(const QString &prefUID, std::optional<std::uint32_t> resolved,
                                   CaptureTapCallback tapBlock, CaptureRecoveryCallback onRecoveryNeeded) = 0;
    // Never throws; after stop(): no device, empty set.
    virtual CaptureRouteInspection inspectRoute(bool inspectAggregate) = 0;
    // Releases the microphone; returns without waiting for the audio server. Repeatable.
    virtual void stop() = 0;
    // The capture format while running, nullopt before start and after stop.
    virtual std::optional<platform::AudioFormat> format() const = 0;
};

// Which core the hidden setting "ZEPACaptureCore" selects: "avfaudio" the audio-engine core,
// anything else (or nothing) the unit core.
enum class CaptureCoreKind { auhal, avfaudio };

inline const QString kCaptureCoreSettingKey = QStringLiteral("ZEPACaptureCore");

CaptureCoreKind captureCoreKind(const QString &settingValue);
// Reads the hidden setting at the moment of the call.
CaptureCoreKind captureCoreKind(const rt::Settings &settings);
// "auhal" or "avfaudio", as the session log names the core.
QString captureCoreName(CaptureCoreKind kind);

// What the cores run on. Every referenced object must outlive the cores and their pending
// teardowns (the shared instances live for the whole process).
struct CaptureCoreServices {
    platform::AudioHardware *hardware = nullptr;
    // Where stop() moves the unit's stop and teardown.
    BoundedHALExecutor *executor = nullptr;
    // Where the unit core disposes of a stopped unit, `disposalDelay` later.
    rt::Executor *disposalQueue = nullptr;
    // Where the audio-engine core retires a stopped engine.
    DeferredAudioObjectReleasePool *releasePool = nullptr;
    rt::Nanos disposalDelay = std::chrono::seconds(10);
    // The continuous clock of the readiness wait, and the pause between polls on the calling
    // thread; tests make both virtual so a poll never waits.
    const rt::Clocks *clocks = nullptr;
    std::function<void(rt::Nanos)> sleep;
};

// The process's services over `hardware`: the shared HAL executor and release pool, a utility
// queue for disposals, the system clocks and a real sleep.
CaptureCoreServices sharedCaptureCoreServices(platform::AudioHardware &hardware);

// A new, unstarted core of the given kind.
std::shared_ptr<CaptureCore> makeCaptureCore(CaptureCoreKind kind, const CaptureCoreServices &services);

// Buffers for the audio thread, made before the capture starts so that a cycle never allocates:
// acquire() hands out a buffer nobody else holds, or null when every one is still held (the cycle
// is then dropped). Only one thread may call acquire().
class CaptureBufferPool {
public:
    static constexpr int kDefaultCount = 8;

    CaptureBufferPool(platform::AudioFormat format, std::uint32_t frameCapacity, int count = kDefaultCount);

    std::shared_ptr<platform::PCMBuffer> acquire();
    std::uint32_t frameCapacity() const { return m_frameCapacity; }

private:
    std::uint32_t m_frameCapacity;
    std::vector<std::shared_ptr<platform::PCMBuffer>> m_buffers;
    std::size_t m_next = 0;
};

// A cycle's sample time as the tap reports it: the fraction dropped, 0 when it is not a finite
// number, held to the 64-bit range.
std::int64_t captureSampleTime(double sampleTime);

} // namespace zq

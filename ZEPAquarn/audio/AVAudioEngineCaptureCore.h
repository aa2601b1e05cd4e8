#pragma once

#include "audio/AudioCaptureError.h"
#include "audio/CaptureCore.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace zq {

// The domain of the input tap's failures (codes 1 to 4).
inline const QString audioTapErrorDomain = audioErrorDomain::audioTap;

class CaptureEngine;

// The second capture core, chosen by the hidden setting: a small audio engine whose input node is
// one record stream bound to the selected device and carries a tap. Its start waits until the
// device's input format has settled on the right device before it installs the tap and starts;
// configuration changes of the engine signal recovery. A stopped engine is stopped on the HAL
// executor's queue and retired to the deferred release pool.
class AVAudioEngineCaptureCore final : public CaptureCore {
public:
    static constexpr std::uint32_t kTapBufferFrames = 4096;

    explicit AVAudioEngineCaptureCore(CaptureCoreServices services);
    // Stops an engine that was never stopped (its teardown runs on the executor's queue).
    ~AVAudioEngineCaptureCore() override;
    AVAudioEngineCaptureCore(const AVAudioEngineCaptureCore &) = delete;
    AVAudioEngineCaptureCore &operator=(const AVAudioEngineCaptureCore &) = delete;

    CaptureCoreSetup start(const QString &prefUID, std::optional<std::uint32_t> resolved, CaptureTapCallback tapBlock,
                           CaptureRecoveryCallback onRecoveryNeeded) override;
    CaptureRouteInspection inspectRoute(bool inspectAggregate) override;
    void stop() override;
    std::optional<platform::AudioFormat> format() const override;

private:
    void handOffTeardown(std::shared_ptr<CaptureEngine> engine);

    const CaptureCoreServices m_services;
    // Guards the fields below against a late start or inspection on an abandoned executor queue.
    mutable std::mutex m_mutex;
    std::shared_ptr<CaptureEngine> m_engine;
    // The registration for the engine's configuration changes: cleared, the handler does nothing.
    std::shared_ptr<std::atomic<bool>> m_configObserver;
};

// What the engine raises when a tap cannot be installed; the guard turns it into an audio-tap
// error. `reason` may be absent.
struct AudioEngineException {
    QString name;
    std::optional<QString> reason;
};

// Runs `body`; an AudioEngineException becomes the audio-tap error 3 in `error` (when given) and
// false. Any other exception passes through.
bool catchAVFAudioException(const std::function<void()> &body, std::optional<AudioCaptureError> *error);
AudioCaptureError makeAudioTapError(int code, const QString &description);

} // namespace zq

#pragma once

#include "audio/CaptureCore.h"
#include "platform/AudioHardware.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace zq::rt {
class SerialQueue;
}

namespace zq {

enum class StartFailurePhase;

// The default capture core: one record stream, input only, bound to the device, delivering mono
// float32 at the device's own nominal rate. A later change of that rate, or the device vanishing,
// signals recovery. A stopped unit is stopped on the HAL executor's queue and disposed of
// `disposalDelay` (10 s) later, while late notifications drain.
class AUHALCaptureCore final : public CaptureCore {
public:
    static constexpr double kDefaultClientRate = 48000.0;
    static constexpr std::uint32_t kDefaultMaxFrames = 4096;

    explicit AUHALCaptureCore(CaptureCoreServices services);
    // Stops a capture that was never stopped (its teardown runs on the executor's queue).
    ~AUHALCaptureCore() override;
    AUHALCaptureCore(const AUHALCaptureCore &) = delete;
    AUHALCaptureCore &operator=(const AUHALCaptureCore &) = delete;

    CaptureCoreSetup start(const QString &prefUID, std::optional<std::uint32_t> resolved, CaptureTapCallback tapBlock,
                           CaptureRecoveryCallback onRecoveryNeeded) override;
    CaptureRouteInspection inspectRoute(bool inspectAggregate) override;
    void stop() override;
    std::optional<platform::AudioFormat> format() const override;

    // The client rate of the last start (48000 until a start read the device's rate).
    double clientRate() const;

private:
    struct RenderContext;
    class ListenerQueue;

    static void checkStatus(const rt::Result<void> &result, StartFailurePhase phase, const char *step);
    static std::unique_ptr<platform::RecordStream> makeBoundUnit(platform::AudioHardware &hardware,
                                                                 platform::AudioDeviceId device);
    // Also keeps the rate as the client rate.
    platform::AudioFormat makeClientFormat(std::optional<double> nominal);
    // Replaces the previous context.
    std::shared_ptr<RenderContext> installRenderContext(std::unique_ptr<platform::RecordStream> unit,
                                                        const platform::AudioFormat &clientFormat,
                                                        CaptureTapCallback tapBlock);
    void installDeviceListeners(platform::AudioDeviceId device, const CaptureRecoveryCallback &onRecoveryNeeded);
    void removeDeviceListeners();
    static void deviceAliveChanged(platform::AudioHardware &hardware, platform::AudioDeviceId device,
                                   const CaptureRecoveryCallback &onRecoveryNeeded);
    static void deviceRateChanged(platform::AudioHardware &hardware, platform::AudioDeviceId device, double clientRate,
                                  const CaptureRecoveryCallback &onRecoveryNeeded);
    void handOffTeardown(std::shared_ptr<RenderContext> context);
    static void teardownUnit(const std::shared_ptr<RenderContext> &context, rt::Executor &disposalQueue,
                             rt::Nanos disposeAfter);
    static void disposeUnit(RenderContext &context);

    const CaptureCoreServices m_services;
    // Guards the fields below against a late start or inspection still running on an abandoned
    // executor queue; held only to read or write them.
    mutable std::mutex m_mutex;
    std::shared_ptr<RenderContext> m_context;
    std::optional<platform::AudioDeviceId> m_boundDevice;
    double m_clientRate = kDefaultClientRate;
    std::optional<platform::AudioHardware::ListenerID> m_isAliveListener;
    std::optional<platform::AudioHardware::ListenerID> m_rateListener;
    std::unique_ptr<ListenerQueue> m_listenerQueue;
};

// The device's nominal input rate once three reads in a row agree (at most 40 reads, `sleep`
// 10 ms apart); else the last positive reading, else one more single read. A rate the hardware
// has seen hold for as long as those three reads span is taken at once.
std::optional<double> readStableNominalRate(platform::AudioHardware &hardware, platform::AudioDeviceId device,
                                            const std::function<void(rt::Nanos)> &sleep);

} // namespace zq

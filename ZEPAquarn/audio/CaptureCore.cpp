#include "audio/CaptureCore.h"

#include "audio/AUHALCaptureCore.h"
#include "audio/AVAudioEngineCaptureCore.h"
#include "audio/BoundedHALExecutor.h"
#include "audio/DeferredAudioObjectReleasePool.h"
#include "runtime/Clocks.h"
#include "runtime/SerialQueue.h"
#include "runtime/Settings.h"

#include <atomic>
#include <cmath>
#include <thread>
#include <utility>

namespace zq {

PhasedStartError::PhasedStartError(StartFailurePhase phase, std::exception_ptr underlying, QString description)
    : m_phase(phase), m_underlying(std::move(underlying)), m_description(std::move(description)),
      m_what(m_description.toUtf8())
{}

CaptureCoreKind captureCoreKind(const QString &settingValue)
{
    return settingValue == QLatin1String("avfaudio") ? CaptureCoreKind::avfaudio : CaptureCoreKind::auhal;
}

CaptureCoreKind captureCoreKind(const rt::Settings &settings)
{
    return captureCoreKind(settings.stringValue(kCaptureCoreSettingKey));
}

QString captureCoreName(CaptureCoreKind kind)
{
    return kind == CaptureCoreKind::avfaudio ? QStringLiteral("avfaudio") : QStringLiteral("auhal");
}

CaptureCoreServices sharedCaptureCoreServices(platform::AudioHardware &hardware)
{
    // Disposals are rare and short; one background queue for the whole process.
    static rt::SerialQueue disposalQueue(QStringLiteral("io.quorvane.zepaquarn.audio-disposal"));
    static const rt::SystemClocks clocks;
    CaptureCoreServices services;
    services.hardware = &hardware;
    services.executor = &sharedHALExecutor();
    services.disposalQueue = &disposalQueue;
    services.releasePool = &sharedAudioReleasePool();
    services.clocks = &clocks;
    services.sleep = [](rt::Nanos duration) { std::this_thread::sleep_for(duration); };
    return services;
}

std::shared_ptr<CaptureCore> makeCaptureCore(CaptureCoreKind kind, const CaptureCoreServices &services)
{
    if (kind == CaptureCoreKind::avfaudio)
        return std::make_shared<AVAudioEngineCaptureCore>(services);
    return std::make_shared<AUHALCaptureCore>(services);
}

CaptureBufferPool::CaptureBufferPool(platform::AudioFormat format, std::uint32_t frameCapacity, int count)
    : m_frameCapacity(frameCapacity)
{
    m_buffers.reserve(static_cast<std::size_t>(count > 0 ? count : 1));
    for (int i = 0; i < (count > 0 ? count : 1); ++i)
        m_buffers.push_back(std::make_shared<platform::PCMBuffer>(format, frameCapacity));
}

std::shared_ptr<platform::PCMBuffer> CaptureBufferPool::acquire()
{
    for (std::size_t i = 0; i < m_buffers.size(); ++i) {
        const std::size_t index = (m_next + i) % m_buffers.size();
        // Only the pool holds it: nobody can take a new reference, so it may be written. The fence
        // orders our writes after the last holder's reads (its release of the count).
        if (m_buffers[index].use_count() == 1) {
            std::atomic_thread_fence(std::memory_order_acquire);
            m_next = (index + 1) % m_buffers.size();
            return m_buffers[index];
        }
    }
    return nullptr;
}

std::int64_t captureSampleTime(double sampleTime)
{
    if (!std::isfinite(sampleTime))
        return 0;
    // 2^63 as a double; anything at or beyond it does not fit.
    constexpr double limit = 9223372036854775808.0;
    if (sampleTime >= limit)
        return INT64_MAX;
    if (sampleTime <= -limit)
        return INT64_MIN;
    return static_cast<std::int64_t>(sampleTime);
}

} // namespace zq

#include "audio/AUHALCaptureCore.h"

#include "audio/AudioCaptureError.h"
#include "audio/AudioInputDevice.h"
#include "audio/BoundedHALExecutor.h"
#include "audio/StartFailurePhase.h"
#include "runtime/Log.h"
#include "runtime/SerialQueue.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <vector>

namespace zq {

using platform::AudioDeviceId;
using platform::AudioFormat;
using platform::AudioHardware;
using platform::CaptureCycle;
using platform::RecordStream;

namespace {

QByteArray text(const std::optional<QString> &value, const char *absent)
{
    return value ? value->toUtf8() : QByteArray(absent);
}

} // namespace

// What the audio thread touches: the unit, its render buffer, the client format and the tap. The
// input callback holds it by plain pointer; it lives until the unit is gone (the destructor
// destroys the unit first, which ends every callback), so the callback never outlives it.
struct AUHALCaptureCore::RenderContext {
    RenderContext(std::unique_ptr<RecordStream> unit, AudioFormat format, CaptureTapCallback tapBlock,
                  std::uint32_t maxFrames)
        : unit(std::move(unit)), bufferList(maxFrames, 0.0f), format(format), tapBlock(std::move(tapBlock)),
          maxFrames(maxFrames), pool(format, maxFrames)
    {}
    ~RenderContext() { disposeUnit(*this); }

    // One input cycle, on the audio thread: no allocation, no lock, no log.
    int render(const CaptureCycle &cycle)
    {
        if (disposed.load(std::memory_order_acquire) || !unit || bufferList.empty())
            return 0;
        const std::uint32_t frames = cycle.frames;
        // A cycle larger than the render buffer is dropped rather than written past its end.
        if (frames == 0 || frames > maxFrames)
            return 0;
        float *planes[1] = {bufferList.data()};
        const int status = unit->render(cycle, planes, channels, frames);
        if (status != 0)
            return status;
        std::shared_ptr<platform::PCMBuffer> buffer = pool.acquire();
        if (!buffer)
            return 0;
        std::copy_n(bufferList.data(), frames, buffer->channelData(0));
        buffer->setFrameLength(frames);
        tapBlock(buffer, CaptureTime{captureSampleTime(cycle.sampleTime), format.sampleRate});
        return 0;
    }

    std::unique_ptr<RecordStream> unit;
    std::vector<float> bufferList;
    const AudioFormat format;
    const CaptureTapCallback tapBlock;
    const int channels = 1;
    const std::uint32_t maxFrames;
    CaptureBufferPool pool;
    std::atomic<bool> disposed{false};
};

// The core's own serial queue for its device listeners. Its thread starts with the first
// notification: most sessions never hear one, and a start need not wait for a thread to be made.
class AUHALCaptureCore::ListenerQueue final : public rt::Executor {
public:
    void post(Function fn) override { queue().post(std::move(fn)); }
    rt::WorkItem postDelayed(rt::Nanos delay, Function fn) override
    {
        return queue().postDelayed(delay, std::move(fn));
    }
    rt::Nanos now() const override { return std::chrono::steady_clock::now().time_since_epoch(); }
    bool isCurrent() const override
    {
        std::lock_guard lock(m_mutex);
        return m_queue && m_queue->isCurrent();
    }

private:
    rt::SerialQueue &queue()
    {
        std::lock_guard lock(m_mutex);
        if (!m_queue)
            m_queue = std::make_unique<rt::SerialQueue>(QStringLiteral("io.quorvane.zepaquarn.auhal-listener"));
        return *m_queue;
    }

    mutable std::mutex m_mutex;
    std::unique_ptr<rt::SerialQueue> m_queue;
};

AUHALCaptureCore::AUHALCaptureCore(CaptureCoreServices services)
    : m_services(std::move(services)), m_listenerQueue(std::make_unique<ListenerQueue>())
{}

AUHALCaptureCore::~AUHALCaptureCore()
{
    removeDeviceListeners();
    std::shared_ptr<RenderContext> context;
    {
        std::lock_guard lock(m_mutex);
        context = std::exchange(m_context, nullptr);
    }
    // A core dropped without stop() (a failed or abandoned start): its unit may be running, so it
    // goes through the same teardown as a stop.
    if (context)
        handOffTeardown(std::move(context));
}

double AUHALCaptureCore::clientRate() const
{
    std::lock_guard lock(m_mutex);
    return m_clientRate;
}

CaptureCoreSetup AUHALCaptureCore::start(const QString &prefUID, std::optional<std::uint32_t> resolved,
                                         CaptureTapCallback tapBlock, CaptureRecoveryCallback onRecoveryNeeded)
{
    AudioHardware &hardware = *m_services.hardware;

    // 1. The device.
    std::optional<AudioDeviceId> found = resolved;
    if (!found)
        found = AudioInputDevice::systemDefaultInputDevice(hardware);
    if (!found)
        throw AudioCaptureError(audioErrorDomain::app, 5,
                                QStringLiteral("No input device to bind the capture unit to"));
    const AudioDeviceId device = *found;

    // 2-6.
    std::unique_ptr<RecordStream> unit = makeBoundUnit(hardware, device);

    // 7.
    const std::optional<QString> boundName =
        AudioInputDevice::deviceStringProperty(hardware, device, AudioHardware::StringProperty::name);
    qCInfo(lcAudio, "auhal: bound CurrentDevice=%u (%s) pref=%s", device, text(boundName, "?").constData(),
           prefUID.toUtf8().constData());

    // 8-10. The client format runs at the device's own rate, so the render path converts nothing.
    const std::optional<double> nominal = readStableNominalRate(hardware, device, m_services.sleep);
    const AudioFormat clientFormat = makeClientFormat(nominal);
    checkStatus(unit->setClientFormat(clientFormat), StartFailurePhase::bind, "StreamFormat");

    // 11-13.
    const std::shared_ptr<RenderContext> context =
        installRenderContext(std::move(unit), clientFormat, std::move(tapBlock));

    // 14-16.
    RecordStream *rawUnit = context->unit.get();
    RenderContext *renderContext = context.get();
    checkStatus(
        rawUnit->setInputCallback([renderContext](const CaptureCycle &cycle) { return renderContext->render(cycle); }),
        StartFailurePhase::tap, "SetInputCallback");
    checkStatus(rawUnit->initialize(), StartFailurePhase::engineCreate, "AudioUnitInitialize");
    checkStatus(rawUnit->start(), StartFailurePhase::start, "AudioOutputUnitStart");

    // 17-18.
    {
        std::lock_guard lock(m_mutex);
        m_boundDevice = device;
    }
    installDeviceListeners(device, onRecoveryNeeded);
    qCInfo(lcAudio, "auhal: started — device=%u rate=%ldHz %uch maxFrames=%u", device,
           static_cast<long>(clientFormat.sampleRate), 1u, context->maxFrames);

    // 19-20.
    CaptureCoreSetup setup;
    setup.boundDevice = device;
    setup.boundDeviceName =
        AudioInputDevice::deviceStringProperty(hardware, device, AudioHardware::StringProperty::name);
    const std::optional<std::uint32_t> transport = hardware.transportType(device);
    setup.transport = transport ? inputTransport(*transport) : InputTransport::other;
    setup.format = clientFormat;
    setup.deviceNominalRate = nominal;
    return setup;
}

std::unique_ptr<RecordStream> AUHALCaptureCore::makeBoundUnit(AudioHardware &hardware, AudioDeviceId device)
{
    // 2-3. The back-end has no separate component to look up: a unit that cannot be made is the
    // instance creation failing.
    rt::Result<std::unique_ptr<RecordStream>> made = hardware.makeRecordStream();
    if (!made)
        checkStatus(rt::Result<void>(made.error()), StartFailurePhase::engineCreate, "AudioComponentInstanceNew");
    std::unique_ptr<RecordStream> unit = std::move(made).value();
    if (!unit)
        throw AudioCaptureError(audioErrorDomain::app, 6, QStringLiteral("The audio server produced no capture unit"));

    // 4-6. Input only, bound to the device.
    checkStatus(unit->setIOEnabled(RecordStream::IOScope::input, true), StartFailurePhase::engineCreate,
                "EnableIO input");
    checkStatus(unit->setIOEnabled(RecordStream::IOScope::output, false), StartFailurePhase::engineCreate,
                "DisableIO output");
    checkStatus(unit->setCurrentDevice(device), StartFailurePhase::bind, "CurrentDevice");
    return unit;
}

AudioFormat AUHALCaptureCore::makeClientFormat(std::optional<double> nominal)
{
    const double rate = nominal && *nominal > 0 ? *nominal : kDefaultClientRate;
    {
        std::lock_guard lock(m_mutex);
        m_clientRate = rate;
    }
    const AudioFormat clientFormat{rate, 1, AudioFormat::CommonFormat::float32, false};
    if (!clientFormat.isValid() || !std::isfinite(rate))
        throw AudioCaptureError(audioErrorDomain::app, 5, QStringLiteral("Could not build the capture client format"));
    return clientFormat;
}

std::shared_ptr<AUHALCaptureCore::RenderContext>
AUHALCaptureCore::installRenderContext(std::unique_ptr<RecordStream> unit, const AudioFormat &clientFormat,
                                       CaptureTapCallback tapBlock)
{
    // 11. An unreadable capacity, or one the render buffer cannot describe, falls back to 4096.
    std::uint32_t maxFrames = kDefaultMaxFrames;
    if (const std::optional<std::uint32_t> read = unit->maximumFramesPerCycle();
        read && *read > 0 && *read < kCaptureFrameCapacityLimit)
        maxFrames = *read;

    // 12-13. The render context, with its buffer, made once per start.
    auto context = std::make_shared<RenderContext>(std::move(unit), clientFormat, std::move(tapBlock), maxFrames);
    std::lock_guard lock(m_mutex);
    m_context = context;
    return context;
}

void AUHALCaptureCore::checkStatus(const rt::Result<void> &result, StartFailurePhase phase, const char *step)
{
    if (result)
        return;
    // A failure always carries a non-zero status, even from a back-end that reports 0.
    const int status = result.error().code != 0 ? result.error().code : -1;
    qCCritical(lcAudio, "auhal: %s failed: %d", step, status);
    const QString description =
        QStringLiteral("The audio server capture unit %1 failed (%2)").arg(QLatin1String(step)).arg(status);
    throw PhasedStartError(
        phase, std::make_exception_ptr(AudioCaptureError(audioErrorDomain::serverStatus, status, description)),
        description);
}

std::optional<double> readStableNominalRate(AudioHardware &hardware, AudioDeviceId device,
                                            const std::function<void(rt::Nanos)> &sleep)
{
    constexpr int kRounds = 40;
    constexpr auto kPause = std::chrono::milliseconds(10);
    // A back-end that hears of every change of the rate may have watched it hold for longer than
    // three reads span (two pauses): those reads would agree, so they need not be waited for.
    if (const std::optional<rt::Nanos> held = hardware.nominalSampleRateHeldFor(device); held && *held >= 2 * kPause) {
        if (const std::optional<double> value = hardware.nominalSampleRate(device); value && *value > 0)
            return *value;
    }
    std::optional<double> last;
    int repeats = 0;
    for (int round = 1; round <= kRounds; ++round) {
        const std::optional<double> value = hardware.nominalSampleRate(device);
        if (value && *value > 0) {
            if (last && *value == *last) {
                if (repeats > 0)
                    return *value;
                repeats = 1;
            } else {
                last = *value;
                repeats = 0;
            }
        }
        if (sleep)
            sleep(kPause);
    }
    if (last)
        return last;
    return AudioInputDevice::deviceNominalInputRate(hardware, device);
}

void AUHALCaptureCore::installDeviceListeners(AudioDeviceId device, const CaptureRecoveryCallback &onRecoveryNeeded)
{
    AudioHardware *hardware = m_services.hardware;
    double rate;
    {
        std::lock_guard lock(m_mutex);
        rate = m_clientRate;
    }
    // The handlers hold only the hardware, the device, the rate and the callback, never the core:
    // one that is already running when the core goes away finishes safely.
    const rt::Result<AudioHardware::ListenerID> alive = hardware->addDeviceListener(
        device, AudioHardware::DeviceProperty::isAlive, m_listenerQueue.get(),
        [hardware, device, onRecoveryNeeded] { deviceAliveChanged(*hardware, device, onRecoveryNeeded); });
    const rt::Result<AudioHardware::ListenerID> rateListener = hardware->addDeviceListener(
        device, AudioHardware::DeviceProperty::nominalSampleRate, m_listenerQueue.get(),
        [hardware, device, rate, onRecoveryNeeded] { deviceRateChanged(*hardware, device, rate, onRecoveryNeeded); });
    std::lock_guard lock(m_mutex);
    if (alive)
        m_isAliveListener = alive.value();
    if (rateListener)
        m_rateListener = rateListener.value();
}

void AUHALCaptureCore::removeDeviceListeners()
{
    std::optional<AudioHardware::ListenerID> alive;
    std::optional<AudioHardware::ListenerID> rate;
    {
        std::lock_guard lock(m_mutex);
        if (!m_boundDevice)
            return;
        alive = std::exchange(m_isAliveListener, std::nullopt);
        rate = std::exchange(m_rateListener, std::nullopt);
    }
    if (alive)
        m_services.hardware->removeListener(*alive);
    if (rate)
        m_services.hardware->removeListener(*rate);
}

void AUHALCaptureCore::deviceAliveChanged(AudioHardware &hardware, AudioDeviceId device,
                                          const CaptureRecoveryCallback &onRecoveryNeeded)
{
    // An unreadable property counts as gone.
    if (hardware.isAlive(device).value_or(false))
        return;
    qCCritical(lcAudio, "auhal: bound device %u is no longer alive — signaling recovery", device);
    if (onRecoveryNeeded)
        onRecoveryNeeded();
}

void AUHALCaptureCore::deviceRateChanged(AudioHardware &hardware, AudioDeviceId device, double clientRate,
                                         const CaptureRecoveryCallback &onRecoveryNeeded)
{
    const std::optional<double> rate = AudioInputDevice::deviceNominalInputRate(hardware, device);
    if (!rate || !(*rate > 0))
        return;
    const double tolerance = std::max(clientRate * 0.0001, 1.0);
    if (!(std::abs(*rate - clientRate) > tolerance))
        return;
    qCCritical(lcAudio, "auhal: bound device %u changed format %ldHz -> %ldHz — signaling recovery", device,
               static_cast<long>(clientRate), static_cast<long>(*rate));
    if (onRecoveryNeeded)
        onRecoveryNeeded();
}

CaptureRouteInspection AUHALCaptureCore::inspectRoute(bool /*inspectAggregate*/)
{
    std::shared_ptr<RenderContext> context;
    std::optional<AudioDeviceId> stored;
    {
        std::lock_guard lock(m_mutex);
        context = m_context;
        stored = m_boundDevice;
    }
    CaptureRouteInspection inspection;
    inspection.boundDevice = stored;
    if (context && context->unit && !context->disposed.load(std::memory_order_acquire)) {
        if (const std::optional<AudioDeviceId> current = context->unit->currentDevice(); current && *current != 0)
            inspection.boundDevice = current;
    }
    return inspection;
}

std::optional<AudioFormat> AUHALCaptureCore::format() const
{
    std::lock_guard lock(m_mutex);
    if (!m_context)
        return std::nullopt;
    return m_context->format;
}

void AUHALCaptureCore::stop()
{
    removeDeviceListeners();
    std::shared_ptr<RenderContext> context;
    {
        std::lock_guard lock(m_mutex);
        if (!m_context)
            return;
        context = std::exchange(m_context, nullptr);
        m_boundDevice.reset();
    }
    handOffTeardown(std::move(context));
    qCInfo(lcAudio, "auhal: capture unit stopping off-main — mic claim released; instance retained while HAL "
                    "notifications drain");
}

void AUHALCaptureCore::handOffTeardown(std::shared_ptr<RenderContext> context)
{
    rt::Executor *disposalQueue = m_services.disposalQueue;
    const rt::Nanos delay = m_services.disposalDelay;
    m_services.executor->enqueue(
        [context = std::move(context), disposalQueue, delay] { teardownUnit(context, *disposalQueue, delay); });
}

void AUHALCaptureCore::teardownUnit(const std::shared_ptr<RenderContext> &context, rt::Executor &disposalQueue,
                                    rt::Nanos disposeAfter)
{
    if (context->unit) {
        // Statuses are ignored: the unit is going away either way.
        (void)context->unit->stop();
        (void)context->unit->uninitialize();
    }
    disposalQueue.postDelayed(disposeAfter, [context] {
        // Whoever drops the last reference disposes of it; normally this item, on this queue.
        context->disposed.store(true, std::memory_order_release);
    });
}

void AUHALCaptureCore::disposeUnit(RenderContext &context)
{
    context.disposed.store(true, std::memory_order_release);
    if (context.unit) {
        // Stopping again is harmless and guarantees that no callback is in flight when it goes.
        (void)context.unit->stop();
        context.unit.reset();
    }
    context.bufferList.clear();
    context.bufferList.shrink_to_fit();
}

} // namespace zq

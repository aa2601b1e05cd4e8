#include "audio/AVAudioEngineCaptureCore.h"

#include "audio/AudioBufferUtilities.h"
#include "audio/AudioInputDevice.h"
#include "audio/BoundedHALExecutor.h"
#include "audio/DeferredAudioObjectReleasePool.h"
#include "audio/InputIOIsolation.h"
#include "audio/StartFailurePhase.h"
#include "platform/AudioHardware.h"
#include "runtime/Clocks.h"
#include "runtime/Log.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <set>
#include <vector>

namespace zq {

using platform::AudioDeviceId;
using platform::AudioFormat;
using platform::AudioHardware;
using platform::CaptureCycle;
using platform::RecordStream;

namespace {

QString describe(const AudioFormat &format)
{
    return QStringLiteral("<%1 ch, %2 Hz, %3, %4>")
        .arg(format.channelCount)
        .arg(format.sampleRate)
        .arg(format.commonFormat == AudioFormat::CommonFormat::float32 ? QStringLiteral("Float32")
                                                                       : QStringLiteral("Int16"))
        .arg(format.interleaved ? QStringLiteral("interleaved") : QStringLiteral("deinterleaved"));
}

QString describe(const std::optional<AudioFormat> &format)
{
    return format ? describe(*format) : QStringLiteral("nil");
}

QString describe(const std::set<AudioDeviceId> &devices)
{
    QStringList ids;
    for (AudioDeviceId id : devices)
        ids << QString::number(id);
    return QLatin1Char('[') + ids.join(QStringLiteral(", ")) + QLatin1Char(']');
}

std::optional<AudioDeviceId> nonZero(std::optional<AudioDeviceId> device)
{
    return device && *device != 0 ? device : std::nullopt;
}

} // namespace

// The audio engine the core drives: an input node over one record stream, with at most one tap. The
// unit's callback holds the engine by plain pointer; the engine destroys its unit first, which
// ends every callback, so no callback outlives it.
class CaptureEngine {
public:
    explicit CaptureEngine(std::unique_ptr<RecordStream> unit) : m_unit(std::move(unit)) {}
    ~CaptureEngine()
    {
        m_tapActive.store(false, std::memory_order_release);
        if (m_unit) {
            (void)m_unit->stop();
            m_unit.reset();
        }
    }
    CaptureEngine(const CaptureEngine &) = delete;
    CaptureEngine &operator=(const CaptureEngine &) = delete;

    // The input node's audio unit; null when none could be made.
    RecordStream *recordStream() const { return m_unit.get(); }

    // The input node's output format: the bound device's own format, empty when unknown.
    AudioFormat inputFormat() const
    {
        if (!m_unit)
            return {};
        return m_unit->inputFormat().value_or(AudioFormat{});
    }

    // `format` none: the node's own format. Raises AudioEngineException when the unit refuses.
    void installTap(std::uint32_t bufferSize, std::optional<AudioFormat> format, CaptureTapCallback block)
    {
        if (!m_unit)
            throw AudioEngineException{QStringLiteral("NoInputUnit"), std::nullopt};
        if (m_tap)
            throw AudioEngineException{QStringLiteral("TapAlreadyInstalled"),
                                       QStringLiteral("a tap is already installed on bus 0")};
        const AudioFormat tapFormat = format ? *format : inputFormat();
        if (const rt::Result<void> set = m_unit->setClientFormat(tapFormat); !set)
            throw AudioEngineException{QStringLiteral("TapFormatRejected"), set.error().message};
        std::uint32_t capacity = bufferSize;
        if (const std::optional<std::uint32_t> slice = m_unit->maximumFramesPerCycle();
            slice && *slice > capacity && *slice < kCaptureFrameCapacityLimit)
            capacity = *slice;
        m_pool.emplace(tapFormat, capacity);
        m_planes.assign(static_cast<std::size_t>(tapFormat.channelCount), nullptr);
        m_tapFormat = tapFormat;
        m_tap = std::move(block);
        if (const rt::Result<void> set =
                m_unit->setInputCallback([this](const CaptureCycle &cycle) { return render(cycle); });
            !set) {
            m_tap = nullptr;
            throw AudioEngineException{QStringLiteral("TapInstallFailed"), set.error().message};
        }
        m_tapActive.store(true, std::memory_order_release);
    }

    // From now on cycles are dropped; the callback itself goes with the unit.
    void removeTap() { m_tapActive.store(false, std::memory_order_release); }

    void prepare()
    {
        if (!m_unit || m_initialized)
            return;
        m_prepared = true;
        const rt::Result<void> initialized = m_unit->initialize();
        if (initialized)
            m_initialized = true;
        else
            m_prepareError = initialized.error();
    }

    rt::Result<void> start()
    {
        if (!m_unit)
            return rt::makeError(QStringLiteral("The audio engine has no input unit"), audioErrorDomain::serverStatus,
                                 -1);
        // A failed prepare is reported, not retried behind the caller's back.
        if (!m_prepared)
            prepare();
        if (!m_initialized)
            return m_prepareError.value_or(rt::makeError(QStringLiteral("The audio engine could not be prepared"),
                                                         audioErrorDomain::serverStatus, -1));
        return m_unit->start();
    }

    void stop()
    {
        if (!m_unit)
            return;
        (void)m_unit->stop();
        (void)m_unit->uninitialize();
        m_initialized = false;
        m_prepared = false;
    }

private:
    // One input cycle, on the audio thread: no allocation, no lock, no log.
    int render(const CaptureCycle &cycle)
    {
        if (!m_tapActive.load(std::memory_order_acquire) || !m_pool)
            return 0;
        const std::uint32_t frames = cycle.frames;
        // A cycle larger than the tap's buffers is dropped rather than written past their end.
        if (frames == 0 || frames > m_pool->frameCapacity())
            return 0;
        std::shared_ptr<platform::PCMBuffer> buffer = m_pool->acquire();
        if (!buffer)
            return 0;
        for (std::size_t c = 0; c < m_planes.size(); ++c)
            m_planes[c] = buffer->channelData(static_cast<int>(c));
        const int status = m_unit->render(cycle, m_planes.data(), static_cast<int>(m_planes.size()), frames);
        if (status != 0)
            return status;
        buffer->setFrameLength(frames);
        m_tap(buffer, CaptureTime{captureSampleTime(cycle.sampleTime), m_tapFormat.sampleRate});
        return 0;
    }

    std::unique_ptr<RecordStream> m_unit;
    std::atomic<bool> m_tapActive{false};
    CaptureTapCallback m_tap;
    AudioFormat m_tapFormat;
    std::optional<CaptureBufferPool> m_pool;
    std::vector<float *> m_planes;
    bool m_initialized = false;
    bool m_prepared = false;
    std::optional<rt::Error> m_prepareError;
};

namespace {

// Makes the engine, binds the device and waits until the device's input format has settled.
class SessionSetupOperation {
public:
    struct Result {
        std::optional<AudioDeviceId> boundDevice;
        std::optional<QString> boundDeviceName;
        InputTransport transport = InputTransport::other;
        AudioFormat format;
        std::optional<double> deviceNominalRate;
    };

    SessionSetupOperation(const CaptureCoreServices &services, std::optional<AudioDeviceId> resolved, QString prefUID)
        : resolved(resolved), prefUID(std::move(prefUID)), m_services(services),
          m_systemDefault(this->prefUID == kSystemDefaultInputPreference)
    {}

    Result perform();

    std::shared_ptr<CaptureEngine> engine;
    const std::optional<AudioDeviceId> resolved;
    const QString prefUID;

private:
    // What the final check saw, and the device it accepted.
    struct FinalCheck {
        std::optional<AudioDeviceId> bound;
        std::set<AudioDeviceId> subdevices;
        AudioFormat format;
        std::optional<AudioDeviceId> matched;
    };

    void bind(RecordStream &unit) const;
    bool waitUntilReady(RecordStream &unit) const;
    FinalCheck finalCheck(RecordStream &unit, bool ready) const;
    Result makeResult(const FinalCheck &check) const;
    // Only the "system-default" preference checks the rate; a pinned device is checked by its id.
    bool rateAccepted(const AudioFormat &format) const;

    const CaptureCoreServices &m_services;
    const bool m_systemDefault;
    // The resolved device's own rate, read once before the wait.
    std::optional<double> m_expected;
};

SessionSetupOperation::Result SessionSetupOperation::perform()
{
    AudioHardware &hardware = *m_services.hardware;

    // 1.
    rt::Result<std::unique_ptr<RecordStream>> made = hardware.makeRecordStream();
    engine = std::make_shared<CaptureEngine>(made ? std::move(made).value() : nullptr);

    // 2.
    m_expected = resolved ? AudioInputDevice::deviceNominalInputRate(hardware, *resolved) : std::nullopt;

    // 3-4.
    isolateInputIO(engine->recordStream());
    RecordStream *unit = engine->recordStream();
    if (!unit)
        throw AudioCaptureError(audioErrorDomain::app, 6,
                                QStringLiteral("The audio server could not create an input unit"));

    // 5-8.
    bind(*unit);
    const bool ready = waitUntilReady(*unit);
    return makeResult(finalCheck(*unit, ready));
}

bool SessionSetupOperation::rateAccepted(const AudioFormat &format) const
{
    if (!m_systemDefault || !m_expected)
        return true;
    const double tolerance = std::max(*m_expected * 0.0001, 1.0);
    return std::abs(format.sampleRate - *m_expected) <= tolerance;
}

// Binds the resolved device, unless the unit is already on it.
void SessionSetupOperation::bind(RecordStream &unit) const
{
    const QByteArray pref = prefUID.toUtf8();
    if (!resolved) {
        qCCritical(lcAudio, "session: could not resolve input device for pref=%s", pref.constData());
        return;
    }
    const std::optional<AudioDeviceId> before = unit.currentDevice();
    if (before && *before == *resolved) {
        qCInfo(lcAudio, "session: input device already bound (pref=%s) — skipping rebind", pref.constData());
    } else if (const rt::Result<void> bound = unit.setCurrentDevice(*resolved); bound) {
        qCInfo(lcAudio, "session: bound input device id=%u (pref=%s, was %u)", *resolved, pref.constData(),
               before.value_or(0));
    } else {
        const int status = bound.error().code != 0 ? bound.error().code : -1;
        qCCritical(lcAudio, "session: AudioUnitSetProperty(CurrentDevice) failed: %d (pref=%s)", status,
                   pref.constData());
        throw AudioCaptureError(audioErrorDomain::serverStatus, status,
                                QStringLiteral("The audio server could not select the requested microphone"));
    }
}

// Readiness: three polls in a row see the same valid format on the right device, and no earlier than
// 0.2 s after the wait began. False after 40 polls.
bool SessionSetupOperation::waitUntilReady(RecordStream &unit) const
{
    AudioHardware &hardware = *m_services.hardware;
    const rt::Nanos began = m_services.clocks->continuousNow();
    bool hasPrevious = false;
    std::pair<double, int> previous{0.0, 0};
    int repeats = 0;
    for (int poll = 0; poll < 40; ++poll) {
        if (m_services.sleep)
            m_services.sleep(std::chrono::milliseconds(10));
        const AudioFormat format = engine->inputFormat();
        const std::optional<AudioDeviceId> current = nonZero(unit.currentDevice());
        bool deviceAccepted = !resolved || current == resolved;
        if (!deviceAccepted && m_systemDefault && current)
            deviceAccepted = AudioInputDevice::activeAggregateSubdevices(hardware, *current).count(*resolved) > 0;
        if (!deviceAccepted || !rateAccepted(format)) {
            hasPrevious = false;
            repeats = 0;
            continue;
        }
        const std::pair<double, int> shape{format.sampleRate, format.channelCount};
        if (format.sampleRate <= 0 || format.channelCount <= 0 || !hasPrevious || previous != shape) {
            hasPrevious = true;
            previous = shape;
            repeats = 0;
            continue;
        }
        ++repeats;
        if (repeats > 1 && m_services.clocks->continuousNow() - began >= std::chrono::milliseconds(200))
            return true;
    }
    return false;
}

// The final check, whether or not the wait ended ready; throws when the device is not there or its
// format is not usable.
SessionSetupOperation::FinalCheck SessionSetupOperation::finalCheck(RecordStream &unit, bool ready) const
{
    FinalCheck check;
    check.bound = boundInputDevice(&unit);
    if (m_systemDefault && check.bound && (!resolved || *check.bound != *resolved))
        check.subdevices = AudioInputDevice::activeAggregateSubdevices(*m_services.hardware, *check.bound);
    check.format = engine->inputFormat();
    bool isMatch = false;
    if (!resolved) {
        check.matched = check.bound;
        isMatch = true;
    } else if (check.bound == resolved || (m_systemDefault && check.subdevices.count(*resolved))) {
        check.matched = resolved;
        isMatch = true;
    }
    const bool success =
        ready && isMatch && rateAccepted(check.format) && check.format.sampleRate > 0 && check.format.channelCount >= 1;
    if (!success) {
        qCCritical(lcAudio,
                   "session: requested device never became ready (requested=%u, bound=%u, aggregate_subdevices=%s, "
                   "format=%s, expected_hz=%f)",
                   resolved.value_or(0), check.bound.value_or(0), describe(check.subdevices).toUtf8().constData(),
                   describe(check.format).toUtf8().constData(), m_expected.value_or(0.0));
        throw AudioCaptureError(audioErrorDomain::app, 5,
                                QStringLiteral("The selected microphone did not become ready"));
    }
    return check;
}

SessionSetupOperation::Result SessionSetupOperation::makeResult(const FinalCheck &check) const
{
    AudioHardware &hardware = *m_services.hardware;
    Result result;
    result.format = check.format;
    if (!check.matched)
        return result; // nothing resolved and nothing bound: the engine runs on a device it cannot name
    const AudioDeviceId device = *check.matched;
    if (check.bound && *check.bound != device)
        qCInfo(lcAudio, "session: aggregate device %u represents selected input %u (active subdevices=%s)",
               *check.bound, device, describe(check.subdevices).toUtf8().constData());
    result.deviceNominalRate = m_expected;
    if (!result.deviceNominalRate && check.bound)
        result.deviceNominalRate = AudioInputDevice::deviceNominalInputRate(hardware, *check.bound);
    result.boundDeviceName =
        AudioInputDevice::deviceStringProperty(hardware, device, AudioHardware::StringProperty::name);
    const std::optional<std::uint32_t> transport = hardware.transportType(device);
    result.transport = transport ? inputTransport(*transport) : InputTransport::other;
    result.boundDevice = device;
    return result;
}

bool installTapGuarded(CaptureEngine &engine, std::uint32_t bufferSize, CaptureTapCallback block,
                       std::optional<AudioFormat> *observedFormat, std::optional<AudioFormat> *tapFormatOut,
                       std::optional<AudioCaptureError> *error, double requestedRate)
{
    std::optional<AudioCaptureError> noted;
    AudioFormat inputFormat;
    std::optional<AudioFormat> tapFormat;
    const bool ran = catchAVFAudioException(
        [&] {
            inputFormat = engine.inputFormat();
            if (!(inputFormat.sampleRate > 0) || inputFormat.channelCount <= 0) {
                noted =
                    makeAudioTapError(1, QStringLiteral("Microphone unavailable (0 Hz input) — check mic permission"));
                return;
            }
            const double tapRate = requestedRate > 0 ? requestedRate : 0.0;
            if (tapRate > 0) {
                const AudioFormat requested{tapRate, inputFormat.channelCount, AudioFormat::CommonFormat::float32,
                                            false};
                if (!requested.isValid() || !std::isfinite(tapRate)) {
                    noted = makeAudioTapError(2, QStringLiteral("Microphone unavailable (invalid input format)"));
                    return;
                }
                tapFormat = requested;
            }
            engine.installTap(bufferSize, tapFormat, std::move(block));
        },
        error);
    if (!ran)
        return false;
    if (noted) {
        if (error)
            *error = noted;
        return false;
    }
    if (observedFormat)
        *observedFormat = inputFormat;
    if (tapFormatOut)
        *tapFormatOut = tapFormat;
    return true;
}

// Installs the tap that hands every buffer to the core's tap block.
struct InputTapInstallOperation {
    CaptureEngine &engine;
    std::optional<double> deviceNominalRate;
    CaptureTapCallback tapBlock;
    std::optional<AudioFormat> observedFormat;
    std::optional<AudioFormat> requestedFormat;

    void perform()
    {
        std::optional<AudioCaptureError> error;
        if (!installTapGuarded(engine, AVAudioEngineCaptureCore::kTapBufferFrames, std::move(tapBlock), &observedFormat,
                               &requestedFormat, &error, deviceNominalRate.value_or(0.0))) {
            if (error)
                throw *error;
            throw makeAudioTapError(4, QStringLiteral("Could not install the microphone input tap"));
        }
    }
};

void engineStart(CaptureEngine &engine)
{
    isolateInputIO(engine.recordStream());
    engine.prepare();
    if (const rt::Result<void> started = engine.start(); !started) {
        const int status = started.error().code != 0 ? started.error().code : -1;
        throw AudioCaptureError(audioErrorDomain::serverStatus, status, started.error().message);
    }
}

void engineConfigurationChanged(const CaptureRecoveryCallback &onRecoveryNeeded)
{
    qCCritical(lcAudio, "engine configuration change");
    if (onRecoveryNeeded)
        onRecoveryNeeded();
}

} // namespace

bool catchAVFAudioException(const std::function<void()> &body, std::optional<AudioCaptureError> *error)
{
    try {
        body();
    } catch (const AudioEngineException &exception) {
        if (error) {
            const QString reason = exception.reason.value_or(QStringLiteral("unknown audio engine exception"));
            *error = makeAudioTapError(
                3, QStringLiteral("Audio input changed during startup (%1): %2").arg(exception.name, reason));
        }
        return false;
    }
    return true;
}

AudioCaptureError makeAudioTapError(int code, const QString &description)
{
    return AudioCaptureError(audioTapErrorDomain, code, description);
}

AVAudioEngineCaptureCore::AVAudioEngineCaptureCore(CaptureCoreServices services) : m_services(std::move(services)) {}

AVAudioEngineCaptureCore::~AVAudioEngineCaptureCore()
{
    std::shared_ptr<CaptureEngine> engine;
    {
        std::lock_guard lock(m_mutex);
        if (m_configObserver)
            m_configObserver->store(false);
        engine = std::exchange(m_engine, nullptr);
    }
    // Also the engine of a failed start: it may hold a tap, and stopping it off this thread keeps
    // a blocking call away from the thread that drops the core.
    if (engine)
        handOffTeardown(std::move(engine));
}

CaptureCoreSetup AVAudioEngineCaptureCore::start(const QString &prefUID, std::optional<std::uint32_t> resolved,
                                                 CaptureTapCallback tapBlock, CaptureRecoveryCallback onRecoveryNeeded)
{
    // 1-2.
    SessionSetupOperation setup(m_services, resolved, prefUID);
    const SessionSetupOperation::Result session = setup.perform();
    std::shared_ptr<CaptureEngine> engine = setup.engine;
    if (!engine)
        throw AudioCaptureError(audioErrorDomain::app, 4, QStringLiteral("Audio engine setup produced no engine"));
    {
        std::lock_guard lock(m_mutex);
        m_engine = engine;
    }

    // 3.
    qCInfo(lcAudio, "session: input format(query)=%s device=%s", describe(session.format).toUtf8().constData(),
           session.boundDeviceName ? session.boundDeviceName->toUtf8().constData() : "?");

    // 4-5.
    InputTapInstallOperation install{*engine, session.deviceNominalRate, std::move(tapBlock), std::nullopt,
                                     std::nullopt};
    install.perform();
    qCInfo(lcAudio, "session: tap observed=%s requested=%s (device nominal=%f)",
           describe(install.observedFormat).toUtf8().constData(),
           describe(install.requestedFormat).toUtf8().constData(), session.deviceNominalRate.value_or(0.0));

    // 6.
    try {
        engineStart(*engine);
    } catch (const AudioCaptureError &error) {
        throw PhasedStartError(StartFailurePhase::start, std::current_exception(), error.errorDescription());
    } catch (const std::exception &error) {
        throw PhasedStartError(StartFailurePhase::start, std::current_exception(), QString::fromUtf8(error.what()));
    }

    // 7. The handler holds only the flag and the callback, never the core.
    auto observing = std::make_shared<std::atomic<bool>>(true);
    engine->recordStream()->setConfigurationChangeHandler([observing, onRecoveryNeeded] {
        if (observing->load())
            engineConfigurationChanged(onRecoveryNeeded);
    });
    {
        std::lock_guard lock(m_mutex);
        m_configObserver = observing;
    }

    // 8.
    CaptureCoreSetup result;
    result.boundDevice = session.boundDevice;
    result.boundDeviceName = session.boundDeviceName;
    result.transport = session.transport;
    result.format = session.format;
    result.deviceNominalRate = session.deviceNominalRate;
    return result;
}

CaptureRouteInspection AVAudioEngineCaptureCore::inspectRoute(bool inspectAggregate)
{
    std::shared_ptr<CaptureEngine> engine;
    {
        std::lock_guard lock(m_mutex);
        engine = m_engine;
    }
    CaptureRouteInspection inspection;
    if (!engine)
        return inspection;
    inspection.boundDevice = boundInputDevice(engine->recordStream());
    if (inspectAggregate && inspection.boundDevice)
        inspection.activeAggregateSubdevices =
            AudioInputDevice::activeAggregateSubdevices(*m_services.hardware, *inspection.boundDevice);
    return inspection;
}

std::optional<AudioFormat> AVAudioEngineCaptureCore::format() const
{
    std::shared_ptr<CaptureEngine> engine;
    {
        std::lock_guard lock(m_mutex);
        engine = m_engine;
    }
    if (!engine)
        return std::nullopt;
    return engine->inputFormat();
}

void AVAudioEngineCaptureCore::stop()
{
    std::shared_ptr<CaptureEngine> engine;
    {
        std::lock_guard lock(m_mutex);
        if (m_configObserver) {
            m_configObserver->store(false);
            m_configObserver.reset();
        }
        engine = std::exchange(m_engine, nullptr);
    }
    if (engine)
        handOffTeardown(std::move(engine));
}

void AVAudioEngineCaptureCore::handOffTeardown(std::shared_ptr<CaptureEngine> engine)
{
    DeferredAudioObjectReleasePool *pool = m_services.releasePool;
    m_services.executor->enqueue([engine = std::move(engine), pool]() mutable {
        engine->removeTap();
        engine->stop();
        pool->retire(std::move(engine));
        qCInfo(lcAudio, "session engine stopped — mic claim released; object retained while HAL notifications drain");
    });
}

} // namespace zq

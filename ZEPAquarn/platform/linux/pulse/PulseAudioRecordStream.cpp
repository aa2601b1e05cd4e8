#include "platform/linux/pulse/PulseAudioRecordStream.h"

#include "platform/linux/pulse/PulseAudioDeviceRegistry.h"
#include "platform/linux/pulse/PulseConnection.h"
#include "runtime/Log.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/stream.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>

namespace zq::platform {

namespace {

constexpr std::chrono::milliseconds kStartTimeout{3000};
constexpr pa_usec_t kFragmentUsec = 10 * 1000;

rt::Error streamError(const QString &message, int status)
{
    return rt::makeError(message, QStringLiteral("pulse"), status != 0 ? status : -1);
}

} // namespace

// What the loop thread touches. Lives until the stream's callbacks are cleared (under the loop
// lock) and any posted configuration-change work has run.
struct PulseAudioRecordStream::LoopState {
    InputCallback callback;
    int channels = 1;
    double sampleTime = 0;
    const float *cycleSamples = nullptr; // valid only inside the input callback
    std::uint32_t cycleFrames = 0;

    std::mutex mutex; // for the start wait and the handler, never on the audio path
    std::condition_variable changed;
    pa_stream_state_t state = PA_STREAM_UNCONNECTED;
    ConfigurationChangeHandler configurationChanged;
    std::weak_ptr<PulseAudioDeviceRegistry> registry;
    std::weak_ptr<LoopState> self;
    std::atomic<bool> failed = false;

    void notifyConfigurationChanged()
    {
        // Runs on the loop thread: the handler may call back into the unit, so it runs elsewhere.
        if (const auto registry = this->registry.lock()) {
            registry->post([weak = self] {
                const auto state = weak.lock();
                if (!state)
                    return;
                ConfigurationChangeHandler handler;
                {
                    std::lock_guard lock(state->mutex);
                    handler = state->configurationChanged;
                }
                if (handler)
                    handler();
            });
        }
    }

    static void stateChanged(pa_stream *stream, void *userdata)
    {
        auto *loop = static_cast<LoopState *>(userdata);
        const pa_stream_state_t state = pa_stream_get_state(stream);
        bool wasReady;
        {
            std::lock_guard lock(loop->mutex);
            wasReady = loop->state == PA_STREAM_READY;
            loop->state = state;
            loop->changed.notify_all();
        }
        if (wasReady && !PA_STREAM_IS_GOOD(state)) {
            loop->failed = true;
            loop->notifyConfigurationChanged();
        }
    }

    static void moved(pa_stream *, void *userdata) { static_cast<LoopState *>(userdata)->notifyConfigurationChanged(); }

    // The audio path: no allocation, no lock, no logging.
    static void read(pa_stream *stream, std::size_t, void *userdata)
    {
        auto *loop = static_cast<LoopState *>(userdata);
        const std::size_t frameBytes = sizeof(float) * static_cast<std::size_t>(loop->channels);
        while (pa_stream_readable_size(stream) > 0) {
            const void *data = nullptr;
            std::size_t bytes = 0;
            if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0)
                return;
            if (data && loop->callback) {
                const auto *samples = static_cast<const float *>(data);
                std::size_t frames = bytes / frameBytes;
                while (frames > 0) {
                    const auto cycle =
                        static_cast<std::uint32_t>(std::min<std::size_t>(frames, kMaximumFramesPerCycle));
                    loop->cycleSamples = samples;
                    loop->cycleFrames = cycle;
                    loop->callback(CaptureCycle{cycle, loop->sampleTime});
                    loop->sampleTime += cycle;
                    samples += static_cast<std::size_t>(cycle) * static_cast<std::size_t>(loop->channels);
                    frames -= cycle;
                }
                loop->cycleSamples = nullptr;
                loop->cycleFrames = 0;
            }
            // A hole (no data) is dropped like data: the server skips it.
            pa_stream_drop(stream);
        }
    }
};

PulseAudioRecordStream::PulseAudioRecordStream(std::shared_ptr<PulseAudioDeviceRegistry> registry)
    : m_registry(std::move(registry))
{}

PulseAudioRecordStream::~PulseAudioRecordStream()
{
    std::lock_guard lock(m_mutex);
    closeStreamLocked();
}

std::optional<bool> PulseAudioRecordStream::isIOEnabled(IOScope scope) const
{
    // A record stream captures and never plays.
    return scope == IOScope::input;
}

rt::Result<void> PulseAudioRecordStream::setIOEnabled(IOScope scope, bool enabled)
{
    if ((scope == IOScope::input) == enabled)
        return {};
    return streamError(QStringLiteral("A capture stream cannot change its direction"), PA_ERR_NOTSUPPORTED);
}

rt::Result<void> PulseAudioRecordStream::setCurrentDevice(AudioDeviceId device)
{
    if (m_registry->isKnownAndPresent(device) != true || !m_registry->source(device))
        return streamError(QStringLiteral("The selected microphone is not present"), PA_ERR_NOENTITY);
    std::lock_guard lock(m_mutex);
    m_device = device;
    return {};
}

std::optional<AudioDeviceId> PulseAudioRecordStream::boundDeviceLocked() const
{
    if (m_stream && m_loop) {
        if (m_loop->failed)
            return std::nullopt;
        const char *name = nullptr;
        {
            PulseConnection::Lock lock(*m_connection);
            if (pa_stream_get_state(m_stream) == PA_STREAM_READY)
                name = pa_stream_get_device_name(m_stream);
        }
        if (name)
            return m_registry->idForName(QByteArray(name));
        return std::nullopt;
    }
    if (m_device)
        return m_device;
    const auto name = m_registry->defaultSourceName();
    if (!name || name->isEmpty())
        return std::nullopt;
    return m_registry->idForName(*name);
}

std::optional<AudioDeviceId> PulseAudioRecordStream::currentDevice() const
{
    std::lock_guard lock(m_mutex);
    return boundDeviceLocked();
}

std::optional<AudioFormat> PulseAudioRecordStream::inputFormat() const
{
    std::optional<AudioDeviceId> device;
    {
        std::lock_guard lock(m_mutex);
        device = boundDeviceLocked();
    }
    if (!device)
        return std::nullopt;
    const auto info = m_registry->source(*device);
    if (!info || info->rate == 0 || info->channels == 0)
        return std::nullopt;
    AudioFormat format;
    format.sampleRate = info->rate;
    format.channelCount = info->channels;
    return format;
}

rt::Result<void> PulseAudioRecordStream::setClientFormat(const AudioFormat &format)
{
    pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, static_cast<std::uint32_t>(format.sampleRate),
                        static_cast<std::uint8_t>(std::clamp(format.channelCount, 0, 255))};
    if (format.commonFormat != AudioFormat::CommonFormat::float32 || format.sampleRate != double(spec.rate) ||
        format.channelCount > int(PA_CHANNELS_MAX) || !pa_sample_spec_valid(&spec))
        return streamError(QStringLiteral("The capture format is not supported"), PA_ERR_INVALID);
    std::lock_guard lock(m_mutex);
    m_clientFormat = format;
    m_clientFormat->interleaved = false;
    return {};
}

std::optional<AudioFormat> PulseAudioRecordStream::clientFormat() const
{
    std::lock_guard lock(m_mutex);
    return m_clientFormat;
}

std::optional<std::uint32_t> PulseAudioRecordStream::maximumFramesPerCycle() const
{
    return kMaximumFramesPerCycle;
}

rt::Result<void> PulseAudioRecordStream::setInputCallback(InputCallback callback)
{
    std::lock_guard lock(m_mutex);
    if (m_stream)
        return streamError(QStringLiteral("The input callback cannot change while capturing"), PA_ERR_BADSTATE);
    m_callback = std::move(callback);
    return {};
}

void PulseAudioRecordStream::setConfigurationChangeHandler(ConfigurationChangeHandler handler)
{
    std::lock_guard lock(m_mutex);
    if (m_loop) {
        std::lock_guard loopLock(m_loop->mutex);
        m_loop->configurationChanged = handler;
    }
    m_configurationChanged = std::move(handler);
}

rt::Result<void> PulseAudioRecordStream::initialize()
{
    if (!m_registry->connection())
        return streamError(QStringLiteral("The audio server is not reachable"), PA_ERR_CONNECTIONREFUSED);
    std::lock_guard lock(m_mutex);
    m_initialized = true;
    return {};
}

rt::Result<void> PulseAudioRecordStream::start()
{
    std::unique_lock lock(m_mutex);
    if (m_stream && !m_loop->failed)
        return {};
    closeStreamLocked();
    if (!m_initialized)
        return streamError(QStringLiteral("The capture unit is not initialized"), PA_ERR_BADSTATE);
    const auto connection = m_registry->connection();
    if (!connection)
        return streamError(QStringLiteral("The audio server is not reachable"), PA_ERR_CONNECTIONREFUSED);

    const rt::Result<QByteArray> source = sourceNameLocked();
    if (!source)
        return source.error();
    lock.unlock();
    std::optional<AudioFormat> format = clientFormat();
    if (!format)
        format = inputFormat();
    lock.lock();
    if (!format || !format->isValid())
        return streamError(QStringLiteral("The capture format is not known"), PA_ERR_INVALID);

    const rt::Result<std::shared_ptr<LoopState>> loop = connectLocked(connection, source.value(), *format);
    if (!loop)
        return loop.error();
    if (!waitUntilReady(*loop.value())) {
        const QString reason = connection->errorText();
        closeStreamLocked();
        qCWarning(lcAudio) << "capture stream did not start:" << reason;
        return streamError(QStringLiteral("The microphone could not be opened: %1").arg(reason), PA_ERR_NOENTITY);
    }
    return {};
}

rt::Result<QByteArray> PulseAudioRecordStream::sourceNameLocked() const
{
    if (m_device) {
        const auto name = m_registry->nameOf(*m_device);
        if (!name)
            return streamError(QStringLiteral("The selected microphone is not present"), PA_ERR_NOENTITY);
        return *name;
    }
    const auto name = m_registry->defaultSourceName();
    if (!name || name->isEmpty())
        return streamError(QStringLiteral("There is no input device to capture from"), PA_ERR_NOENTITY);
    return *name;
}

rt::Result<std::shared_ptr<PulseAudioRecordStream::LoopState>>
PulseAudioRecordStream::connectLocked(const std::shared_ptr<PulseConnection> &connection, const QByteArray &source,
                                      const AudioFormat &format)
{
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, static_cast<std::uint32_t>(format.sampleRate),
                              static_cast<std::uint8_t>(format.channelCount)};
    pa_buffer_attr attributes;
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = attributes.prebuf = attributes.minreq = static_cast<std::uint32_t>(-1);
    attributes.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(kFragmentUsec, &spec));

    auto loop = std::make_shared<LoopState>();
    loop->callback = m_callback;
    loop->channels = format.channelCount;
    loop->configurationChanged = m_configurationChanged;
    loop->registry = m_registry;
    loop->self = loop;

    PulseConnection::Lock pulseLock(*connection);
    pa_stream *stream = pa_stream_new(connection->context(), "ZEPA QUARN capture", &spec, nullptr);
    if (!stream)
        return streamError(QStringLiteral("The audio server refused the capture stream"), PA_ERR_INVALID);
    pa_stream_set_state_callback(stream, &LoopState::stateChanged, loop.get());
    pa_stream_set_read_callback(stream, &LoopState::read, loop.get());
    pa_stream_set_moved_callback(stream, &LoopState::moved, loop.get());
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_DONT_MOVE | PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_UNMUTED);
    if (pa_stream_connect_record(stream, source.constData(), &attributes, flags) < 0) {
        const int error = pa_context_errno(connection->context());
        pa_stream_unref(stream);
        return streamError(QStringLiteral("The audio server refused the capture stream: %1")
                               .arg(QString::fromUtf8(pa_strerror(error))),
                           PA_ERR_INVALID);
    }
    // Set while the loop is locked: render() reads m_loop on the loop thread.
    m_connection = connection;
    m_stream = stream;
    m_loop = loop;
    return loop;
}

bool PulseAudioRecordStream::waitUntilReady(LoopState &loop)
{
    std::unique_lock loopLock(loop.mutex);
    loop.changed.wait_for(loopLock, kStartTimeout,
                          [&] { return loop.state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(loop.state); });
    return loop.state == PA_STREAM_READY;
}

void PulseAudioRecordStream::closeStreamLocked()
{
    if (!m_stream)
        return;
    {
        // Once the loop lock is ours, no callback is running, and after this none starts again.
        PulseConnection::Lock pulseLock(*m_connection);
        pa_stream_set_state_callback(m_stream, nullptr, nullptr);
        pa_stream_set_read_callback(m_stream, nullptr, nullptr);
        pa_stream_set_moved_callback(m_stream, nullptr, nullptr);
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(m_stream)))
            pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
    }
    m_stream = nullptr;
    m_loop.reset();
    m_connection.reset();
}

rt::Result<void> PulseAudioRecordStream::stop()
{
    std::lock_guard lock(m_mutex);
    closeStreamLocked();
    return {};
}

rt::Result<void> PulseAudioRecordStream::uninitialize()
{
    std::lock_guard lock(m_mutex);
    closeStreamLocked();
    m_initialized = false;
    return {};
}

int PulseAudioRecordStream::render(const CaptureCycle &cycle, float *const *planes, int planeCount,
                                   std::uint32_t frames)
{
    // Only inside the input callback, on the loop thread, where m_loop cannot change under us.
    LoopState *loop = m_loop.get();
    if (!loop || !loop->cycleSamples || frames > loop->cycleFrames || frames > cycle.frames || !planes ||
        planeCount > loop->channels)
        return -PA_ERR_BADSTATE;
    const float *samples = loop->cycleSamples;
    const int channels = loop->channels;
    for (int c = 0; c < planeCount; ++c) {
        float *plane = planes[c];
        if (!plane)
            return -PA_ERR_INVALID;
        for (std::uint32_t f = 0; f < frames; ++f)
            plane[f] =
                samples[static_cast<std::size_t>(f) * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)];
    }
    return 0;
}

} // namespace zq::platform

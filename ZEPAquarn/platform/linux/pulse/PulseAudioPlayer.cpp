#include "platform/linux/pulse/PulseAudioPlayer.h"

#include "platform/linux/pulse/PulseConnection.h"
#include "runtime/Log.h"

#include <pulse/pulseaudio.h>
#include <sndfile.h>

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

using namespace std::chrono_literals;

namespace zq::platform {

namespace {

constexpr auto kPlayerConnectTimeout = 2000ms;

// The decoded sound: interleaved float frames.
struct Sound {
    std::vector<float> samples;
    int channels = 1;
    int rate = 48000;
    std::size_t frames() const { return samples.size() / std::size_t(channels); }
};

// libsndfile reading from a byte array.
struct MemoryReader {
    const QByteArray &bytes;
    sf_count_t position = 0;
};

rt::Result<Sound> decode(const QByteArray &wavData)
{
    MemoryReader reader{wavData};
    SF_VIRTUAL_IO io{};
    io.get_filelen = [](void *user) { return sf_count_t(static_cast<MemoryReader *>(user)->bytes.size()); };
    io.seek = [](sf_count_t offset, int whence, void *user) {
        auto *r = static_cast<MemoryReader *>(user);
        const sf_count_t base = whence == SEEK_CUR ? r->position : whence == SEEK_END ? r->bytes.size() : 0;
        r->position = std::clamp<sf_count_t>(base + offset, 0, r->bytes.size());
        return r->position;
    };
    io.read = [](void *out, sf_count_t count, void *user) {
        auto *r = static_cast<MemoryReader *>(user);
        const sf_count_t n = std::clamp<sf_count_t>(r->bytes.size() - r->position, 0, count);
        std::memcpy(out, r->bytes.constData() + r->position, std::size_t(n));
        r->position += n;
        return n;
    };
    io.write = [](const void *, sf_count_t, void *) { return sf_count_t(0); };
    io.tell = [](void *user) { return static_cast<MemoryReader *>(user)->position; };

    SF_INFO info{};
    SNDFILE *file = sf_open_virtual(&io, SFM_READ, &info, &reader);
    if (!file)
        return rt::makeError(QStringLiteral("The sound could not be read"), QStringLiteral("sndfile"));
    Sound sound;
    sound.channels = info.channels;
    sound.rate = info.samplerate;
    bool ok = info.channels > 0 && info.channels <= int(PA_CHANNELS_MAX) && info.samplerate > 0 &&
              info.samplerate <= int(PA_RATE_MAX) && info.frames > 0 && info.frames < (sf_count_t(1) << 28);
    if (ok) {
        sound.samples.resize(std::size_t(info.frames) * std::size_t(info.channels));
        ok = sf_readf_float(file, sound.samples.data(), info.frames) == info.frames;
    }
    sf_close(file);
    if (!ok)
        return rt::makeError(QStringLiteral("The sound could not be read"), QStringLiteral("sndfile"));
    return sound;
}

} // namespace

// The connection the factory and its players share; (re)made on first use. Guarded by `mutex`.
struct PulseAudioPlayerFactory::Shared {
    QString serverAddress;
    std::mutex mutex;
    std::shared_ptr<PulseConnection> connection;

    std::shared_ptr<PulseConnection> ready()
    {
        std::lock_guard lock(mutex);
        if (connection && connection->isReady())
            return connection;
        auto fresh = std::make_shared<PulseConnection>(QCoreApplication::applicationName(), serverAddress);
        if (!fresh->connect(kPlayerConnectTimeout))
            return nullptr;
        connection = fresh;
        return connection;
    }
};

namespace {

// One playback in flight: what the stream's callbacks read. Freed only with the stream gone.
struct Playback {
    std::shared_ptr<const Sound> sound;
    std::size_t offsetBytes = 0;
    pa_stream *stream = nullptr;
};

void finishPlayback(pa_stream *stream, int, void *)
{
    // Drained: leave the server so the device is free again.
    pa_stream_disconnect(stream);
}

void writeMore(pa_stream *stream, std::size_t requested, void *userdata)
{
    auto *playback = static_cast<Playback *>(userdata);
    const auto *bytes = reinterpret_cast<const char *>(playback->sound->samples.data());
    const std::size_t total = playback->sound->samples.size() * sizeof(float);
    const std::size_t n = std::min(requested, total - playback->offsetBytes);
    if (n > 0 && pa_stream_write(stream, bytes + playback->offsetBytes, n, nullptr, 0, PA_SEEK_RELATIVE) == 0)
        playback->offsetBytes += n;
    if (playback->offsetBytes >= total) {
        pa_stream_set_write_callback(stream, nullptr, nullptr);
        if (pa_operation *drain = pa_stream_drain(stream, &finishPlayback, nullptr))
            pa_operation_unref(drain);
    }
}

class PulseAudioPlayer final : public AudioPlayer {
public:
    PulseAudioPlayer(std::shared_ptr<PulseAudioPlayerFactory::Shared> shared, Sound sound)
        : m_shared(std::move(shared)), m_sound(std::make_shared<const Sound>(std::move(sound)))
    {}
    ~PulseAudioPlayer() override { stop(); }

    bool prepareToPlay() override { return m_shared->ready() != nullptr; }

    void setCurrentTime(double seconds) override
    {
        const double frame = std::round(seconds * m_sound->rate);
        m_startFrame = std::isfinite(frame) ? std::size_t(std::clamp(frame, 0.0, double(m_sound->frames()))) : 0;
    }

    bool play() override
    {
        stop(); // a replay cuts the sound that still plays
        std::shared_ptr<PulseConnection> connection = m_shared->ready();
        if (!connection)
            return false;
        auto playback = std::make_unique<Playback>();
        playback->sound = m_sound;
        playback->offsetBytes = m_startFrame * std::size_t(m_sound->channels) * sizeof(float);

        PulseConnection::Lock lock(*connection);
        pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, std::uint32_t(m_sound->rate), std::uint8_t(m_sound->channels)};
        pa_proplist *properties = pa_proplist_new();
        pa_proplist_sets(properties, PA_PROP_MEDIA_NAME, "sound cue");
        pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "event");
        pa_proplist_sets(properties, PulseAudioPlayerFactory::kCueStreamProperty, "1");
        pa_stream *stream = pa_stream_new_with_proplist(connection->context(), "sound cue", &spec, nullptr, properties);
        pa_proplist_free(properties);
        if (!stream)
            return false;
        playback->stream = stream;
        pa_stream_set_write_callback(stream, &writeMore, playback.get());
        if (pa_stream_connect_playback(stream, nullptr, nullptr, PA_STREAM_NOFLAGS, nullptr, nullptr) < 0) {
            pa_stream_set_write_callback(stream, nullptr, nullptr);
            pa_stream_unref(stream);
            return false;
        }
        m_connection = std::move(connection);
        m_playback = std::move(playback);
        return true;
    }

private:
    void stop()
    {
        if (!m_playback)
            return;
        {
            PulseConnection::Lock lock(*m_connection);
            pa_stream *stream = m_playback->stream;
            pa_stream_set_write_callback(stream, nullptr, nullptr);
            if (pa_stream_get_state(stream) == PA_STREAM_READY || pa_stream_get_state(stream) == PA_STREAM_CREATING)
                pa_stream_disconnect(stream);
            pa_stream_unref(stream);
        }
        m_playback.reset();
        m_connection.reset();
    }

    std::shared_ptr<PulseAudioPlayerFactory::Shared> m_shared;
    std::shared_ptr<const Sound> m_sound;
    std::size_t m_startFrame = 0;
    // The stream in flight lives on the connection that made it.
    std::shared_ptr<PulseConnection> m_connection;
    std::unique_ptr<Playback> m_playback;
};

} // namespace

PulseAudioPlayerFactory::PulseAudioPlayerFactory(QString serverAddress) : m_shared(std::make_shared<Shared>())
{
    m_shared->serverAddress = std::move(serverAddress);
}

PulseAudioPlayerFactory::~PulseAudioPlayerFactory() = default;

rt::Result<std::unique_ptr<AudioPlayer>> PulseAudioPlayerFactory::makePlayer(const QByteArray &wavData)
{
    rt::Result<Sound> sound = decode(wavData);
    if (!sound)
        return sound.error();
    return std::unique_ptr<AudioPlayer>(std::make_unique<PulseAudioPlayer>(m_shared, std::move(sound).value()));
}

} // namespace zq::platform

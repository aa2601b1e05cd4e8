#include "platform/linux/pulse/PulseOutputVolume.h"

#include "platform/linux/pulse/PulseAudioPlayer.h"
#include "platform/linux/pulse/PulseConnection.h"

#include <pulse/pulseaudio.h>

#include <QCoreApplication>

#include <cmath>
#include <cstring>

using namespace std::chrono_literals;

namespace zq::platform {

namespace {

constexpr auto kVolumeConnectTimeout = 1000ms;
constexpr auto kOperationTimeout = 500ms;

struct SinkVolume {
    bool found = false;
    pa_cvolume volume{};
};

void readSinkVolume(pa_context *, const pa_sink_info *info, int eol, void *userdata)
{
    auto *out = static_cast<SinkVolume *>(userdata);
    if (eol == 0 && info && !out->found) {
        out->found = true;
        out->volume = info->volume;
    }
}

std::optional<SinkVolume> sinkVolume(PulseConnection &connection, OutputDeviceId device)
{
    SinkVolume result;
    pa_operation *operation = nullptr;
    {
        PulseConnection::Lock lock(connection);
        operation = pa_context_get_sink_info_by_index(connection.context(), device, &readSinkVolume, &result);
    }
    if (!connection.await(operation, kOperationTimeout) || !result.found || !pa_cvolume_valid(&result.volume))
        return std::nullopt;
    return result;
}

void reportSuccess(pa_context *, int success, void *userdata)
{
    *static_cast<bool *>(userdata) = success != 0;
}

} // namespace

PulseOutputVolume::PulseOutputVolume(QString serverAddress) : m_serverAddress(std::move(serverAddress)) {}

PulseOutputVolume::~PulseOutputVolume() = default;

PulseConnection *PulseOutputVolume::connection()
{
    if (m_connection && m_connection->isReady())
        return m_connection.get();
    m_connection.reset();
    auto fresh = std::make_unique<PulseConnection>(QCoreApplication::applicationName(), m_serverAddress);
    if (!fresh->connect(kVolumeConnectTimeout))
        return nullptr;
    m_connection = std::move(fresh);
    return m_connection.get();
}

std::optional<OutputDeviceId> PulseOutputVolume::defaultOutputDevice()
{
    PulseConnection *c = connection();
    if (!c)
        return std::nullopt;
    // The server names the default sink; its index is the device's id.
    QByteArray name;
    pa_operation *operation = nullptr;
    {
        PulseConnection::Lock lock(*c);
        operation = pa_context_get_server_info(
            c->context(),
            [](pa_context *, const pa_server_info *info, void *userdata) {
                if (info && info->default_sink_name)
                    *static_cast<QByteArray *>(userdata) = QByteArray(info->default_sink_name);
            },
            &name);
    }
    if (!c->await(operation, kOperationTimeout) || name.isEmpty())
        return std::nullopt;
    std::optional<OutputDeviceId> index;
    {
        PulseConnection::Lock lock(*c);
        operation = pa_context_get_sink_info_by_name(
            c->context(), name.constData(),
            [](pa_context *, const pa_sink_info *info, int eol, void *userdata) {
                if (eol == 0 && info)
                    *static_cast<std::optional<OutputDeviceId> *>(userdata) = info->index;
            },
            &index);
    }
    if (!c->await(operation, kOperationTimeout))
        return std::nullopt;
    return index;
}

bool PulseOutputVolume::isVolumeSettable(OutputDeviceId device, std::uint32_t element)
{
    // The server scales every sink in software when it has no hardware volume, so the overall
    // volume and each channel can always be set.
    const std::optional<std::uint32_t> channels = outputChannelCount(device);
    return channels && element <= *channels;
}

std::optional<std::uint32_t> PulseOutputVolume::outputChannelCount(OutputDeviceId device)
{
    PulseConnection *c = connection();
    if (!c)
        return std::nullopt;
    const std::optional<SinkVolume> sink = sinkVolume(*c, device);
    if (!sink)
        return std::nullopt;
    return sink->volume.channels;
}

std::optional<float> PulseOutputVolume::volume(OutputDeviceId device, std::uint32_t element)
{
    PulseConnection *c = connection();
    if (!c)
        return std::nullopt;
    const std::optional<SinkVolume> sink = sinkVolume(*c, device);
    if (!sink || element > sink->volume.channels)
        return std::nullopt;
    const pa_volume_t raw = element == 0 ? pa_cvolume_max(&sink->volume) : sink->volume.values[element - 1];
    return float(double(raw) / double(PA_VOLUME_NORM));
}

bool PulseOutputVolume::setVolume(OutputDeviceId device, std::uint32_t element, float level)
{
    if (!std::isfinite(level) || level < 0.0f)
        return false;
    PulseConnection *c = connection();
    if (!c)
        return false;
    std::optional<SinkVolume> sink = sinkVolume(*c, device);
    if (!sink || element > sink->volume.channels)
        return false;
    const double scaled = std::round(double(level) * double(PA_VOLUME_NORM));
    const auto raw = pa_volume_t(std::min(scaled, double(PA_VOLUME_MAX)));
    pa_cvolume target = sink->volume;
    if (element == 0)
        pa_cvolume_scale(&target, raw);
    else
        target.values[element - 1] = raw;

    bool succeeded = false;
    pa_operation *operation = nullptr;
    {
        PulseConnection::Lock lock(*c);
        operation = pa_context_set_sink_volume_by_index(c->context(), device, &target, &reportSuccess, &succeeded);
    }
    return c->await(operation, kOperationTimeout) && succeeded;
}

std::optional<bool> PulseOutputVolume::isRunning(OutputDeviceId device)
{
    PulseConnection *c = connection();
    if (!c)
        return std::nullopt;
    struct Scan {
        OutputDeviceId device;
        bool running = false;
    } scan{device};
    pa_operation *operation = nullptr;
    {
        PulseConnection::Lock lock(*c);
        operation = pa_context_get_sink_input_info_list(
            c->context(),
            [](pa_context *, const pa_sink_input_info *info, int eol, void *userdata) {
                auto *s = static_cast<Scan *>(userdata);
                if (eol != 0 || !info || info->sink != s->device || info->corked)
                    return;
                // Our own cues are not other audio.
                if (info->proplist &&
                    pa_proplist_contains(info->proplist, PulseAudioPlayerFactory::kCueStreamProperty) == 1)
                    return;
                s->running = true;
            },
            &scan);
    }
    if (!c->await(operation, kOperationTimeout))
        return std::nullopt;
    return scan.running;
}

} // namespace zq::platform

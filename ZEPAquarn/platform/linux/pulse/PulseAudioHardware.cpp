#include "platform/linux/pulse/PulseAudioHardware.h"

#include "platform/linux/pulse/PulseAudioDeviceRegistry.h"
#include "platform/linux/pulse/PulseAudioRecordStream.h"

namespace zq::platform {

PulseAudioHardware::PulseAudioHardware(QString serverAddress) : m_serverAddress(std::move(serverAddress)) {}

void PulseAudioHardware::start()
{
    registry()->connectInBackground();
}

const std::shared_ptr<PulseAudioDeviceRegistry> &PulseAudioHardware::registry()
{
    // The registry's queue is a thread: made with the first use, whichever thread that is on.
    std::call_once(m_made, [this] { m_registry = PulseAudioDeviceRegistry::create(m_serverAddress); });
    return m_registry;
}

PulseAudioHardware::~PulseAudioHardware() = default;

std::optional<std::vector<AudioDeviceId>> PulseAudioHardware::devices()
{
    const auto sources = registry()->inputSources();
    if (!sources)
        return std::nullopt;
    std::vector<AudioDeviceId> ids;
    ids.reserve(sources->size());
    for (const auto &entry : *sources)
        ids.push_back(entry.first);
    return ids;
}

std::optional<AudioDeviceId> PulseAudioHardware::defaultInputDevice()
{
    const auto name = registry()->defaultSourceName();
    if (!name)
        return std::nullopt;
    // No default, or a monitor as the default: there is no default microphone.
    if (name->isEmpty())
        return AudioDeviceId(0);
    return registry()->idForName(*name).value_or(0);
}

std::optional<int> PulseAudioHardware::inputChannelCount(AudioDeviceId device)
{
    const auto info = registry()->source(device);
    return info ? std::optional(info->channels) : std::nullopt;
}

std::optional<QString> PulseAudioHardware::stringProperty(AudioDeviceId device, StringProperty property)
{
    const auto info = registry()->source(device);
    if (!info)
        return std::nullopt;
    return property == StringProperty::name ? info->description : QString::fromUtf8(info->name);
}

std::optional<std::uint32_t> PulseAudioHardware::transportType(AudioDeviceId device)
{
    const auto info = registry()->source(device);
    return info ? std::optional(info->transportType) : std::nullopt;
}

std::optional<double> PulseAudioHardware::nominalSampleRate(AudioDeviceId device)
{
    const auto info = registry()->source(device);
    return info ? std::optional(double(info->rate)) : std::nullopt;
}

std::optional<rt::Nanos> PulseAudioHardware::nominalSampleRateHeldFor(AudioDeviceId device)
{
    return registry()->rateHeldFor(device);
}

std::optional<bool> PulseAudioHardware::isAlive(AudioDeviceId device)
{
    const auto known = registry()->isKnownAndPresent(device);
    if (!known || !*known)
        return known;
    return registry()->source(device).has_value();
}

std::optional<std::vector<AudioDeviceId>> PulseAudioHardware::activeAggregateSubdevices(AudioDeviceId device)
{
    // The server has no aggregate sources that stand for member devices.
    if (!registry()->source(device))
        return std::nullopt;
    return std::vector<AudioDeviceId>{};
}

rt::Result<AudioHardware::ListenerID> PulseAudioHardware::addSystemListener(SystemProperty property,
                                                                            rt::Executor *queue, Listener listener)
{
    return registry()->addListener(std::nullopt, property, std::nullopt, queue, std::move(listener));
}

rt::Result<AudioHardware::ListenerID> PulseAudioHardware::addDeviceListener(AudioDeviceId device,
                                                                            DeviceProperty property,
                                                                            rt::Executor *queue, Listener listener)
{
    return registry()->addListener(device, std::nullopt, property, queue, std::move(listener));
}

void PulseAudioHardware::removeListener(ListenerID listener)
{
    registry()->removeListener(listener);
}

rt::Result<std::unique_ptr<RecordStream>> PulseAudioHardware::makeRecordStream()
{
    if (!registry()->connection())
        return rt::makeError(QStringLiteral("The audio server is not reachable"), QStringLiteral("pulse"), -1);
    return std::unique_ptr<RecordStream>(std::make_unique<PulseAudioRecordStream>(registry()));
}

} // namespace zq::platform

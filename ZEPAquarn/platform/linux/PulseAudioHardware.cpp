#include "platform/linux/PulseAudioHardware.h"

#include "platform/linux/PulseAudioDeviceRegistry.h"
#include "platform/linux/PulseAudioRecordStream.h"

namespace zq::platform {

PulseAudioHardware::PulseAudioHardware(QString serverAddress)
    : m_registry(PulseAudioDeviceRegistry::create(std::move(serverAddress)))
{
    m_registry->connectInBackground();
}

PulseAudioHardware::~PulseAudioHardware() = default;

std::optional<std::vector<AudioDeviceId>> PulseAudioHardware::devices()
{
    const auto sources = m_registry->inputSources();
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
    const auto name = m_registry->defaultSourceName();
    if (!name)
        return std::nullopt;
    // No default, or a monitor as the default: there is no default microphone.
    if (name->isEmpty())
        return AudioDeviceId(0);
    return m_registry->idForName(*name).value_or(0);
}

std::optional<int> PulseAudioHardware::inputChannelCount(AudioDeviceId device)
{
    const auto info = m_registry->source(device);
    return info ? std::optional(info->channels) : std::nullopt;
}

std::optional<QString> PulseAudioHardware::stringProperty(AudioDeviceId device, StringProperty property)
{
    const auto info = m_registry->source(device);
    if (!info)
        return std::nullopt;
    return property == StringProperty::name ? info->description : QString::fromUtf8(info->name);
}

std::optional<std::uint32_t> PulseAudioHardware::transportType(AudioDeviceId device)
{
    const auto info = m_registry->source(device);
    return info ? std::optional(info->transportType) : std::nullopt;
}

std::optional<double> PulseAudioHardware::nominalSampleRate(AudioDeviceId device)
{
    const auto info = m_registry->source(device);
    return info ? std::optional(double(info->rate)) : std::nullopt;
}

std::optional<rt::Nanos> PulseAudioHardware::nominalSampleRateHeldFor(AudioDeviceId device)
{
    return m_registry->rateHeldFor(device);
}

std::optional<bool> PulseAudioHardware::isAlive(AudioDeviceId device)
{
    const auto known = m_registry->isKnownAndPresent(device);
    if (!known || !*known)
        return known;
    return m_registry->source(device).has_value();
}

std::optional<std::vector<AudioDeviceId>> PulseAudioHardware::activeAggregateSubdevices(AudioDeviceId device)
{
    // The server has no aggregate sources that stand for member devices.
    if (!m_registry->source(device))
        return std::nullopt;
    return std::vector<AudioDeviceId>{};
}

rt::Result<AudioHardware::ListenerID> PulseAudioHardware::addSystemListener(SystemProperty property,
                                                                            rt::Executor *queue, Listener listener)
{
    return m_registry->addListener(std::nullopt, property, std::nullopt, queue, std::move(listener));
}

rt::Result<AudioHardware::ListenerID> PulseAudioHardware::addDeviceListener(AudioDeviceId device,
                                                                            DeviceProperty property,
                                                                            rt::Executor *queue, Listener listener)
{
    return m_registry->addListener(device, std::nullopt, property, queue, std::move(listener));
}

void PulseAudioHardware::removeListener(ListenerID listener)
{
    m_registry->removeListener(listener);
}

rt::Result<std::unique_ptr<RecordStream>> PulseAudioHardware::makeRecordStream()
{
    if (!m_registry->connection())
        return rt::makeError(QStringLiteral("The audio server is not reachable"), QStringLiteral("pulse"), -1);
    return std::unique_ptr<RecordStream>(std::make_unique<PulseAudioRecordStream>(m_registry));
}

} // namespace zq::platform

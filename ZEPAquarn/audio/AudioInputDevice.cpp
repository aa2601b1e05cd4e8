#include "audio/AudioInputDevice.h"

#include "runtime/Log.h"

#include <algorithm>

namespace zq {

using platform::AudioDeviceId;
using platform::AudioHardware;

std::vector<AudioInputDevice> AudioInputDevice::listInputDevices(AudioHardware &hardware)
{
    const std::optional<std::vector<AudioDeviceId>> ids = hardware.devices();
    if (!ids || ids->empty())
        return {};
    std::vector<AudioInputDevice> result;
    for (const AudioDeviceId id : *ids) {
        const std::optional<int> channels = hardware.inputChannelCount(id);
        if (!channels || *channels <= 0)
            continue;
        std::optional<QString> name = hardware.stringProperty(id, AudioHardware::StringProperty::name);
        if (!name)
            continue;
        std::optional<QString> uid = hardware.stringProperty(id, AudioHardware::StringProperty::uid);
        if (!uid)
            continue;
        const std::optional<std::uint32_t> transportCode = hardware.transportType(id);
        result.push_back(AudioInputDevice{id, std::move(*uid), std::move(*name),
                                          transportCode ? inputTransport(*transportCode) : InputTransport::other});
    }
    return result;
}

std::optional<AudioDeviceId> matchPreference(const QString &preference, const std::vector<AudioInputDevice> &devices,
                                             std::optional<AudioDeviceId> systemDefault)
{
    if (preference == kSystemDefaultInputPreference)
        return systemDefault;
    const auto pinned = std::find_if(devices.begin(), devices.end(),
                                     [&](const AudioInputDevice &device) { return device.uid == preference; });
    return pinned != devices.end() ? std::optional(pinned->id) : systemDefault;
}

std::optional<AudioDeviceId> AudioInputDevice::resolve(AudioHardware &hardware, const QString &prefUID)
{
    // The list serves a pinned preference only (its match and the fallback line): the system default
    // needs none, and on the way to a take the list is a round trip to the audio server.
    const bool pinned = prefUID != kSystemDefaultInputPreference;
    const std::vector<AudioInputDevice> devices = pinned ? listInputDevices(hardware) : std::vector<AudioInputDevice>{};
    const std::optional<AudioDeviceId> defaultID = systemDefaultInputDevice(hardware);
    const std::optional<AudioDeviceId> result = matchPreference(prefUID, devices, defaultID);
    const auto listed = [&](auto predicate) { return std::find_if(devices.begin(), devices.end(), predicate); };
    if (pinned && result && result == defaultID &&
        listed([&](const AudioInputDevice &d) { return d.uid == prefUID; }) == devices.end()) {
        const auto defaultDevice = listed([&](const AudioInputDevice &d) { return d.id == *defaultID; });
        const QString name =
            defaultDevice != devices.end() ? defaultDevice->name : QStringLiteral("id %1").arg(*defaultID);
        qCInfo(lcAudio, "pinned device %s unavailable — using system default %s", qUtf8Printable(prefUID),
               qUtf8Printable(name));
    }
    return result;
}

std::optional<AudioDeviceId> AudioInputDevice::systemDefaultInputDevice(AudioHardware &hardware)
{
    const std::optional<AudioDeviceId> id = hardware.defaultInputDevice();
    if (!id || *id == 0)
        return std::nullopt;
    return id;
}

std::optional<QString> AudioInputDevice::deviceStringProperty(AudioHardware &hardware, AudioDeviceId device,
                                                              AudioHardware::StringProperty property)
{
    return hardware.stringProperty(device, property);
}

std::optional<double> AudioInputDevice::deviceNominalInputRate(AudioHardware &hardware, AudioDeviceId device)
{
    const std::optional<double> rate = hardware.nominalSampleRate(device);
    if (!rate || !(*rate > 0))
        return std::nullopt;
    return rate;
}

std::set<AudioDeviceId> AudioInputDevice::activeAggregateSubdevices(AudioHardware &hardware, AudioDeviceId device)
{
    std::set<AudioDeviceId> result;
    if (const auto members = hardware.activeAggregateSubdevices(device)) {
        for (const AudioDeviceId member : *members) {
            if (member != 0)
                result.insert(member);
        }
    }
    return result;
}

std::optional<AudioInputDevice> builtInFallbackDevice(AudioHardware &hardware, std::optional<AudioDeviceId> excluding)
{
    for (AudioInputDevice &device : AudioInputDevice::listInputDevices(hardware)) {
        if (device.transport == InputTransport::builtIn && (!excluding || device.id != *excluding))
            return std::move(device);
    }
    return std::nullopt;
}

} // namespace zq

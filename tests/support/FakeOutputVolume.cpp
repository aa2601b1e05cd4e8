#include "support/FakeOutputVolume.h"

#include <algorithm>
#include <cmath>

namespace zq::test {

platform::OutputDeviceId FakeOutputVolume::addMainVolumeDevice(float level)
{
    const platform::OutputDeviceId id = m_nextId++;
    Device device;
    device.levels[0] = level;
    m_devices[id] = device;
    m_default = id;
    return id;
}

platform::OutputDeviceId FakeOutputVolume::addChannelVolumeDevice(std::vector<float> levels)
{
    const platform::OutputDeviceId id = m_nextId++;
    Device device;
    device.hasMainVolume = false;
    device.channelCount = std::uint32_t(levels.size());
    for (std::uint32_t channel = 1; channel <= levels.size(); ++channel) {
        device.settableChannels.push_back(channel);
        device.levels[channel] = levels[channel - 1];
    }
    m_devices[id] = device;
    m_default = id;
    return id;
}

void FakeOutputVolume::setLevelExternally(platform::OutputDeviceId id, std::uint32_t element, float level)
{
    m_devices.at(id).levels[element] = level;
}

float FakeOutputVolume::level(platform::OutputDeviceId id, std::uint32_t element) const
{
    return m_devices.at(id).levels.at(element);
}

bool FakeOutputVolume::isVolumeSettable(platform::OutputDeviceId id, std::uint32_t element)
{
    const auto found = m_devices.find(id);
    if (found == m_devices.end())
        return false;
    const Device &device = found->second;
    if (element == 0)
        return device.hasMainVolume;
    return std::find(device.settableChannels.begin(), device.settableChannels.end(), element) !=
           device.settableChannels.end();
}

std::optional<std::uint32_t> FakeOutputVolume::outputChannelCount(platform::OutputDeviceId id)
{
    const auto found = m_devices.find(id);
    if (found == m_devices.end())
        return std::nullopt;
    return found->second.channelCount;
}

std::optional<float> FakeOutputVolume::volume(platform::OutputDeviceId id, std::uint32_t element)
{
    const auto found = m_devices.find(id);
    if (m_failReads || found == m_devices.end())
        return std::nullopt;
    const auto level = found->second.levels.find(element);
    if (level == found->second.levels.end())
        return std::nullopt;
    return level->second;
}

bool FakeOutputVolume::setVolume(platform::OutputDeviceId id, std::uint32_t element, float level)
{
    if (m_failWrites || !isVolumeSettable(id, element))
        return false;
    const float stored = m_quantum > 0 ? std::round(level / m_quantum) * m_quantum : level;
    m_devices.at(id).levels[element] = stored;
    m_writes.push_back({id, element, level});
    return true;
}

std::optional<bool> FakeOutputVolume::isRunning(platform::OutputDeviceId id)
{
    const auto found = m_devices.find(id);
    if (found == m_devices.end())
        return std::nullopt;
    return found->second.running;
}

} // namespace zq::test

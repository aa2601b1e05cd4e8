#pragma once

#include "platform/AudioHardware.h"

#include <memory>
#include <mutex>

namespace zq::platform {

class PulseAudioDeviceRegistry;

// The audio hardware on a PulseAudio server (PipeWire desktops serve the same protocol through
// pipewire-pulse). Input devices are the server's sources except monitors; the uid is the
// source's name, the transport comes from its device properties; listeners follow the server's
// subscription events; a record stream is float32 at the device's rate.
// Connects in the background once started, so that the first take does not wait for it, and again
// after the server went away (every device then gets a new id); a read before that connects itself.
// Listeners of the system may be added before the connection is made.
class PulseAudioHardware final : public AudioHardware {
public:
    // `serverAddress` empty: the server libpulse finds itself.
    explicit PulseAudioHardware(QString serverAddress = {});
    ~PulseAudioHardware() override;

    // Begins connecting in the background.
    void start();

    std::optional<std::vector<AudioDeviceId>> devices() override;
    std::optional<AudioDeviceId> defaultInputDevice() override;
    std::optional<int> inputChannelCount(AudioDeviceId device) override;
    std::optional<QString> stringProperty(AudioDeviceId device, StringProperty property) override;
    std::optional<std::uint32_t> transportType(AudioDeviceId device) override;
    std::optional<double> nominalSampleRate(AudioDeviceId device) override;
    std::optional<rt::Nanos> nominalSampleRateHeldFor(AudioDeviceId device) override;
    std::optional<bool> isAlive(AudioDeviceId device) override;
    std::optional<std::vector<AudioDeviceId>> activeAggregateSubdevices(AudioDeviceId device) override;
    rt::Result<ListenerID> addSystemListener(SystemProperty property, rt::Executor *queue, Listener listener) override;
    rt::Result<ListenerID> addDeviceListener(AudioDeviceId device, DeviceProperty property, rt::Executor *queue,
                                             Listener listener) override;
    void removeListener(ListenerID listener) override;
    rt::Result<std::unique_ptr<RecordStream>> makeRecordStream() override;

private:
    const std::shared_ptr<PulseAudioDeviceRegistry> &registry();

    const QString m_serverAddress;
    std::once_flag m_made;
    std::shared_ptr<PulseAudioDeviceRegistry> m_registry;
};

} // namespace zq::platform

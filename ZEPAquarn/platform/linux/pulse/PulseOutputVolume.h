#pragma once

#include "platform/OutputVolume.h"

#include <QString>

#include <memory>

namespace zq::platform {

class PulseConnection;

// The default sink's volume on the sound server. The sink's overall volume is the main element
// (set by scaling all channels, so the balance is kept); each channel of the sink is one more
// element. 1.0 is the server's nominal 100 %. A sink counts as running while a stream other than
// our sound cues plays into it. The connection is made on first use and again after a failure.
// Main thread only; each call waits at most a short timeout for the server.
class PulseOutputVolume final : public OutputVolume {
public:
    explicit PulseOutputVolume(QString serverAddress = {});
    ~PulseOutputVolume() override;

    std::optional<OutputDeviceId> defaultOutputDevice() override;
    bool isVolumeSettable(OutputDeviceId device, std::uint32_t element) override;
    std::optional<std::uint32_t> outputChannelCount(OutputDeviceId device) override;
    std::optional<float> volume(OutputDeviceId device, std::uint32_t element) override;
    bool setVolume(OutputDeviceId device, std::uint32_t element, float level) override;
    std::optional<bool> isRunning(OutputDeviceId device) override;

private:
    PulseConnection *connection();

    const QString m_serverAddress;
    std::unique_ptr<PulseConnection> m_connection;
};

} // namespace zq::platform

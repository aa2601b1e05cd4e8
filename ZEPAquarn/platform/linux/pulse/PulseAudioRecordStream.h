#pragma once

#include "platform/RecordStream.h"

#include <QByteArray>

#include <memory>
#include <mutex>

struct pa_stream;

namespace zq::platform {

class PulseAudioDeviceRegistry;
class PulseConnection;

// A PulseAudio record stream: float32 at the client format's rate and channels,
// small (10 ms) fragments, pinned to its source (a vanished source fails the stream instead of
// moving it elsewhere). The input callback runs on the connection's loop thread; cycles are cut
// to at most maximumFramesPerCycle() frames.
class PulseAudioRecordStream final : public RecordStream {
public:
    explicit PulseAudioRecordStream(std::shared_ptr<PulseAudioDeviceRegistry> registry);
    ~PulseAudioRecordStream() override;

    std::optional<bool> isIOEnabled(IOScope scope) const override;
    rt::Result<void> setIOEnabled(IOScope scope, bool enabled) override;
    rt::Result<void> setCurrentDevice(AudioDeviceId device) override;
    std::optional<AudioDeviceId> currentDevice() const override;
    std::optional<AudioFormat> inputFormat() const override;
    rt::Result<void> setClientFormat(const AudioFormat &format) override;
    std::optional<AudioFormat> clientFormat() const override;
    std::optional<std::uint32_t> maximumFramesPerCycle() const override;
    rt::Result<void> setInputCallback(InputCallback callback) override;
    void setConfigurationChangeHandler(ConfigurationChangeHandler handler) override;
    rt::Result<void> initialize() override;
    rt::Result<void> start() override;
    rt::Result<void> stop() override;
    rt::Result<void> uninitialize() override;
    int render(const CaptureCycle &cycle, float *const *planes, int planeCount, std::uint32_t frames) override;

    static constexpr std::uint32_t kMaximumFramesPerCycle = 4096;

private:
    struct LoopState;
    std::optional<AudioDeviceId> boundDeviceLocked() const;
    // The chosen source, else the server's default one.
    rt::Result<QByteArray> sourceNameLocked() const;
    // Makes the stream and asks the server to record; the stream then belongs to this object.
    rt::Result<std::shared_ptr<LoopState>> connectLocked(const std::shared_ptr<PulseConnection> &connection,
                                                         const QByteArray &source, const AudioFormat &format);
    // False when the stream failed or did not become ready in time.
    static bool waitUntilReady(LoopState &loop);
    void closeStreamLocked();

    const std::shared_ptr<PulseAudioDeviceRegistry> m_registry;
    mutable std::mutex m_mutex;
    std::optional<AudioDeviceId> m_device;
    std::optional<AudioFormat> m_clientFormat;
    InputCallback m_callback;
    ConfigurationChangeHandler m_configurationChanged;
    bool m_initialized = false;
    std::shared_ptr<LoopState> m_loop; // shared with posted configuration-change work
    std::shared_ptr<PulseConnection> m_connection;
    pa_stream *m_stream = nullptr;
};

} // namespace zq::platform

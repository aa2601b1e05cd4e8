#pragma once

#include "platform/AudioPlayer.h"

#include <QString>

#include <memory>

namespace zq::platform {

// Plays in-memory sounds on the sound server's default output, one playback stream per play.
// The streams carry kCueStreamProperty, so that PulseOutputVolume never counts them as other audio.
// The connection is made on first use and made again after the server went away.
class PulseAudioPlayerFactory final : public AudioPlayerFactory {
public:
    static constexpr auto kCueStreamProperty = "io.quorvane.zepaquarn.sound-cue";

    // `serverAddress` empty: the server libpulse finds itself.
    explicit PulseAudioPlayerFactory(QString serverAddress = {});
    ~PulseAudioPlayerFactory() override;

    rt::Result<std::unique_ptr<AudioPlayer>> makePlayer(const QByteArray &wavData) override;

    struct Shared;

private:
    std::shared_ptr<Shared> m_shared;
};

} // namespace zq::platform

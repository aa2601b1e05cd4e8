#pragma once

#include "pipeline/SoundCue.h"
#include "platform/AudioPlayer.h"
#include "runtime/Executor.h"

#include <QByteArray>

#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace zq::rt {
class Settings;
}

namespace zq {

// Plays the sound cues. Both cues are synthesised once, in the background, right after
// construction; playing only rewinds and starts a prepared player.
//
// play() is called on the main thread and reads "soundCues" at every call. Preparation and playback
// run on one serial queue ("io.quorvane.zepaquarn.sound-cues"), so a cue asked for early waits for
// its preparation. A cue that cannot be built or whose player cannot be made is never played, and
// nothing is reported.
class SoundCuePlayer {
public:
    static constexpr int kSampleRateHz = 48000;
    static constexpr auto kQueueLabel = "io.quorvane.zepaquarn.sound-cues";

    // `queue` runs preparation and playback; none makes the named serial queue. The settings and
    // the factory must outlive the player.
    SoundCuePlayer(rt::Settings &settings, platform::AudioPlayerFactory &factory,
                   std::unique_ptr<rt::Executor> queue = nullptr);
    ~SoundCuePlayer();
    SoundCuePlayer(const SoundCuePlayer &) = delete;
    SoundCuePlayer &operator=(const SoundCuePlayer &) = delete;

    void play(SoundCue cue);

    // The mono samples of a cue at `sampleRateHz`. Empty when the description yields no usable
    // length (not finite, or too long to be a sound cue).
    static std::vector<float> renderSamples(const CueSpec &spec, double sampleRateHz = kSampleRateHz);
    // A complete 48 kHz, 16-bit, mono WAV file of the cue; none when there are no samples.
    static std::optional<QByteArray> wavData(const CueSpec &spec);
    // The 16-bit value written for one sample: clamped to [-1, 1], scaled by 32767, truncated.
    static qint16 pcm16(float sample);

private:
    void prepareCues();

    rt::Settings &m_settings;
    platform::AudioPlayerFactory &m_factory;
    // Touched only on the queue.
    std::map<SoundCue, std::unique_ptr<platform::AudioPlayer>> m_players;
    // Last: destroying it finishes queued work, which still uses the members above.
    std::unique_ptr<rt::Executor> m_queue;
};

} // namespace zq

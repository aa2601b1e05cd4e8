#pragma once

#include "audio/AudioDuringDictationBackend.h"
#include "platform/MediaPlayers.h"
#include "platform/OutputVolume.h"
#include "runtime/Executor.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace zq {

// Lowers the default output's volume by short eased ramps and pauses media players, on the
// platform's output volume and media players. Main thread only; the ramps run as tasks on `loop`.
//
// A volume control the user moves during a take (its level no longer matches what we last set),
// or one that cannot be read or written, is left alone from then on.
class AudioDuringDictationSystemBackend final : public AudioDuringDictationBackend {
public:
    static constexpr float kLoweredFactor = 0.2f;
    static constexpr float kOverrideThreshold = 0.002f;
    static constexpr int kRampSteps = 12;
    static constexpr double kLoweringSeconds = 0.18;
    static constexpr double kRestoringSeconds = 0.24;

    struct VolumeControl {
        std::uint32_t element = 0; // 0 main, else the channel
        float original = 0;
        float lowered = 0;
        float lastApplied = 0;
        bool userOverrode = false;
    };
    struct VolumeSnapshot {
        platform::OutputDeviceId device = 0;
        std::vector<std::shared_ptr<VolumeControl>> controls;
    };

    // The loop, volume and players must outlive the backend.
    AudioDuringDictationSystemBackend(rt::MainLoop &loop, platform::OutputVolume &volume,
                                      platform::MediaPlayers &players);
    ~AudioDuringDictationSystemBackend() override;
    AudioDuringDictationSystemBackend(const AudioDuringDictationSystemBackend &) = delete;
    AudioDuringDictationSystemBackend &operator=(const AudioDuringDictationSystemBackend &) = delete;

    bool lowerVolume() override;
    void rampVolumeBack() override;
    void restoreVolume() override;
    bool pausePlayingPlayers() override;
    void resumePausedPlayers() override;

    // Whether something other than our cues plays through the default output now.
    bool isOutputRunning();
    // The settable volume elements of a device: the main one, else each settable channel.
    std::vector<std::uint32_t> volumeAddresses(platform::OutputDeviceId device);

    // The snapshot held until a restore completes; none when nothing is lowered.
    std::shared_ptr<const VolumeSnapshot> volumeSnapshot() const;
    bool isRamping() const;

    // The shared state that the ramp tasks hold weakly.
    struct State;

private:
    static void ramp(const std::shared_ptr<State> &state, const std::shared_ptr<VolumeSnapshot> &snapshot,
                     bool restoring, rt::Nanos duration);

    std::shared_ptr<State> m_state;
};

} // namespace zq

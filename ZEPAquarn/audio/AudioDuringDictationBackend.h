#pragma once

namespace zq {

// The system side of audio during dictation: what the controller asks of the computer's output.
// Everything runs on the main thread and every failure is silent.
class AudioDuringDictationBackend {
public:
    virtual ~AudioDuringDictationBackend() = default;

    // Starts lowering the output volume; false when there is nothing that can be lowered.
    virtual bool lowerVolume() = 0;
    // Starts ramping a lowered volume back; does nothing when nothing is held lowered.
    virtual void rampVolumeBack() = 0;
    // Puts the volume back at once, without a ramp.
    virtual void restoreVolume() = 0;
    // Pauses every media player that is playing; false when none was paused.
    virtual bool pausePlayingPlayers() = 0;
    // Resumes the players paused above that are still there and still paused.
    virtual void resumePausedPlayers() = 0;
};

} // namespace zq

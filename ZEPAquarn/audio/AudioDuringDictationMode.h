#pragma once

#include "runtime/RawValue.h"

#include <QString>

#include <array>
#include <optional>

namespace zq::rt {
class Settings;
}

namespace zq {

// What happens to other sound on the computer while the user dictates.
enum class AudioDuringDictationMode { unchanged, lowerVolume, pausePlayback };

inline constexpr AudioDuringDictationMode kAllAudioDuringDictationModes[] = {AudioDuringDictationMode::unchanged,
                                                                             AudioDuringDictationMode::lowerVolume,
                                                                             AudioDuringDictationMode::pausePlayback};

constexpr std::array<RawValueName<AudioDuringDictationMode>, 3> rawValueNames(AudioDuringDictationMode)
{
    return {{{AudioDuringDictationMode::unchanged, "unchanged"},
             {AudioDuringDictationMode::lowerVolume, "lower-volume"},
             {AudioDuringDictationMode::pausePlayback, "pause-playback"}}};
}

// The "audioDuringDictation" setting as it stands now; missing or unknown counts as unchanged.
AudioDuringDictationMode readAudioDuringDictationMode(const rt::Settings &settings);

} // namespace zq

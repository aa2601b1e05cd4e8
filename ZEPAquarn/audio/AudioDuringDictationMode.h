#pragma once

#include <QString>

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

// "unchanged", "lower-volume", "pause-playback".
QString rawValue(AudioDuringDictationMode mode);
// None for any other text.
std::optional<AudioDuringDictationMode> audioDuringDictationMode(const QString &rawValue);

// The "audioDuringDictation" setting as it stands now; missing or unknown counts as unchanged.
AudioDuringDictationMode readAudioDuringDictationMode(const rt::Settings &settings);

} // namespace zq

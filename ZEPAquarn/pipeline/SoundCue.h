#pragma once

#include <optional>
#include <variant>
#include <vector>

namespace zq {

// The two short sounds: the microphone is live, and a take was captured.
enum class SoundCue { listening, captured };

inline constexpr SoundCue kAllSoundCues[] = {SoundCue::listening, SoundCue::captured};

enum class NoiseFilter { lowPass, bandPass };

// A sine tone, optionally sweeping exponentially from `frequency` to `endFrequency` over `glide`
// seconds (over attack + decay when no glide is given). Times in seconds, level linear.
struct CueTone {
    double frequency = 0;
    std::optional<double> endFrequency;
    std::optional<double> glide;
    double start = 0;
    double attack = 0;
    double decay = 0;
    double level = 0;
};

// Filtered white noise. `q` is the band-pass Q, or the low-pass resonance in dB.
struct CueNoise {
    NoiseFilter filter = NoiseFilter::bandPass;
    double frequency = 0;
    double q = 0;
    double start = 0;
    double attack = 0;
    double decay = 0;
    double level = 0;
};

using CueVoice = std::variant<CueTone, CueNoise>;

// How one cue is synthesised: voices mixed, scaled by `gain`, then fed through a filtered echo.
struct CueSpec {
    double gain = 1;
    std::vector<CueVoice> voices;
    double echoDelay = 0; // seconds
    double echoFeedback = 0;
    double echoMix = 0;
    double echoCutoff = 0; // Hz
    bool dryOnly = false;
};

// The fixed description of each cue.
const CueSpec &cueSpec(SoundCue cue);

} // namespace zq

#include "pipeline/SoundCue.h"

namespace zq {

namespace {

CueSpec makeListening()
{
    CueSpec spec;
    spec.gain = 0.45;
    spec.echoDelay = 0.13;
    spec.echoFeedback = 0.2;
    spec.echoMix = 0.13;
    spec.echoCutoff = 3600;
    spec.voices = {
        CueNoise{NoiseFilter::bandPass, 3200, 1.7, 0.0, 0.001, 0.018, 0.1},
        CueTone{659.25, std::nullopt, 0.0, 0.025, 0.012, 0.2, 0.05},
        CueTone{987.77, std::nullopt, 0.0, 0.025, 0.012, 0.22, 0.035},
    };
    return spec;
}

CueSpec makeCaptured()
{
    CueSpec spec;
    spec.gain = 0.55;
    spec.echoDelay = 0.09;
    spec.echoFeedback = 0.2;
    spec.echoMix = 0.15;
    spec.echoCutoff = 3000;
    spec.voices = {CueTone{1200, 550.0, 0.14, 0.0, 0.004, 0.2, 0.075}};
    return spec;
}

} // namespace

const CueSpec &cueSpec(SoundCue cue)
{
    static const CueSpec listening = makeListening();
    static const CueSpec captured = makeCaptured();
    return cue == SoundCue::listening ? listening : captured;
}

} // namespace zq

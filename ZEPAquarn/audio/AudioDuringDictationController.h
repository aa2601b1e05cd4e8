#pragma once

#include "audio/AudioDuringDictationBackend.h"
#include "audio/AudioDuringDictationMode.h"

#include <memory>
#include <optional>

namespace zq {

// Decides, at the start and end of each take, what to do with other sound, and remembers which
// effect is applied. Main thread only.
class AudioDuringDictationController {
public:
    explicit AudioDuringDictationController(std::unique_ptr<AudioDuringDictationBackend> backend);
    AudioDuringDictationController(const AudioDuringDictationController &) = delete;
    AudioDuringDictationController &operator=(const AudioDuringDictationController &) = delete;

    // A take starts: applies `mode` unless an effect is already active.
    void begin(AudioDuringDictationMode mode);
    // The take ended: undoes the effect, the volume by a ramp.
    void finish();
    // The application quits: undoes the effect at once.
    void end();

    std::optional<AudioDuringDictationMode> activeMode() const { return m_activeMode; }
    AudioDuringDictationBackend &backend() { return *m_backend; }

private:
    std::unique_ptr<AudioDuringDictationBackend> m_backend;
    std::optional<AudioDuringDictationMode> m_activeMode;
};

} // namespace zq

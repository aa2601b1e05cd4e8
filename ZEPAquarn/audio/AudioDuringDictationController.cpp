#include "audio/AudioDuringDictationController.h"

#include <utility>

namespace zq {

AudioDuringDictationController::AudioDuringDictationController(std::unique_ptr<AudioDuringDictationBackend> backend)
    : m_backend(std::move(backend))
{}

void AudioDuringDictationController::begin(AudioDuringDictationMode mode)
{
    if (m_activeMode || mode == AudioDuringDictationMode::unchanged)
        return;
    switch (mode) {
    case AudioDuringDictationMode::lowerVolume:
        if (m_backend->lowerVolume())
            m_activeMode = mode;
        break;
    case AudioDuringDictationMode::pausePlayback:
        // Only what really plays is paused, so nothing that was paused can be started by us.
        if (m_backend->pausePlayingPlayers())
            m_activeMode = mode;
        break;
    case AudioDuringDictationMode::unchanged:
        break;
    }
}

void AudioDuringDictationController::finish()
{
    const std::optional<AudioDuringDictationMode> mode = std::exchange(m_activeMode, std::nullopt);
    if (!mode)
        return;
    switch (*mode) {
    case AudioDuringDictationMode::lowerVolume:
        m_backend->rampVolumeBack();
        break;
    case AudioDuringDictationMode::pausePlayback:
        m_backend->resumePausedPlayers();
        break;
    case AudioDuringDictationMode::unchanged:
        break;
    }
}

void AudioDuringDictationController::end()
{
    const std::optional<AudioDuringDictationMode> mode = std::exchange(m_activeMode, std::nullopt);
    if (mode == AudioDuringDictationMode::pausePlayback)
        m_backend->resumePausedPlayers();
    else
        m_backend->restoreVolume(); // also a ramp back still running from the last take
}

} // namespace zq

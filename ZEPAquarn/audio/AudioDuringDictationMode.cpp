#include "audio/AudioDuringDictationMode.h"

#include "pipeline/SettingsDefaults.h"
#include "runtime/Settings.h"

namespace zq {

AudioDuringDictationMode readAudioDuringDictationMode(const rt::Settings &settings)
{
    return settings.enumValue<AudioDuringDictationMode>(keys::audioDuringDictation)
        .value_or(AudioDuringDictationMode::unchanged);
}

} // namespace zq

#include "audio/AudioDuringDictationMode.h"

#include "pipeline/SettingsDefaults.h"
#include "runtime/Settings.h"

namespace zq {

QString rawValue(AudioDuringDictationMode mode)
{
    switch (mode) {
    case AudioDuringDictationMode::unchanged:
        return QStringLiteral("unchanged");
    case AudioDuringDictationMode::lowerVolume:
        return QStringLiteral("lower-volume");
    case AudioDuringDictationMode::pausePlayback:
        return QStringLiteral("pause-playback");
    }
    return {};
}

std::optional<AudioDuringDictationMode> audioDuringDictationMode(const QString &text)
{
    for (AudioDuringDictationMode mode : kAllAudioDuringDictationModes) {
        if (rawValue(mode) == text)
            return mode;
    }
    return std::nullopt;
}

AudioDuringDictationMode readAudioDuringDictationMode(const rt::Settings &settings)
{
    return audioDuringDictationMode(settings.stringValue(QLatin1String(keys::audioDuringDictation)))
        .value_or(AudioDuringDictationMode::unchanged);
}

} // namespace zq

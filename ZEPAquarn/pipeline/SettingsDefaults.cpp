#include "pipeline/SettingsDefaults.h"

#include "audio/AudioDuringDictationMode.h"
#include "audio/AudioInputDevice.h"
#include "pipeline/Colorway.h"
#include "runtime/BackendKind.h"

namespace zq {

const std::vector<std::pair<QString, rt::SettingValue>> &defaultSettingsTable()
{
    using rt::SettingValue;
    static const std::vector<std::pair<QString, SettingValue>> table = {
        {keys::backend, rawValue(BackendKind::local)},
        {keys::triggerKey, rawValue(TriggerKey::fn)},
        {keys::secondaryTriggerKey, QString()},
        {keys::cleanupEnabled, true},
        {keys::language, QStringLiteral("auto")},
        {keys::dictionary, QStringList()},
        {keys::onboarded, false},
        {keys::inputDevice, kSystemDefaultInputPreference},
        {keys::appearance, QStringLiteral("system")},
        {keys::pillAnimation, QStringLiteral("logo-bars")},
        {keys::showInDock, false},
        {keys::soundCues, true},
        {keys::audioDuringDictation, rawValue(AudioDuringDictationMode::lowerVolume)},
        {keys::releaseMicWhenIdle, false},
        {keys::typingWPM, qint64(40)},
        {keys::depthUnlocked, QList<qint64>()},
        {keys::depthSelection, rawValue(Colorway::consensusMint)},
        {keys::inviteCode, QString()},
        {keys::inviteVerifiedDownloads, qint64(-1)}, // -1: count not known yet
        {keys::milestoneDismissed, false},
        {keys::milestoneLastShown, 0.0},
        {keys::milestoneShown, QStringList()},
        {keys::motionGrandfathered, QStringList()},
        {keys::motionAnnounced, QStringList()},
        {keys::updateAvailableVersion, QString()},
        {keys::updateAvailableBuild, QString()},
        {keys::updateReminderVersion, QString()},
        {keys::updateReminderDate, 0.0},
    };
    return table;
}

void registerDefaults(rt::Settings &settings, TriggerKey primaryTrigger)
{
    const auto &table = defaultSettingsTable();
    rt::SettingsTable defaults(table.begin(), table.end());
    defaults[keys::triggerKey] = rawValue(primaryTrigger);
    settings.registerDefaults(defaults);
}

} // namespace zq

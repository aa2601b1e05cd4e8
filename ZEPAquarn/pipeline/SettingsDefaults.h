#pragma once

#include "pipeline/TriggerKey.h"
#include "runtime/Settings.h"

#include <QString>

#include <utility>
#include <vector>

namespace zq {

// The settings keys, spelled as they are stored. Read a setting at the moment it is needed.
namespace keys {
inline constexpr const char backend[] = "backend";
inline constexpr const char triggerKey[] = "triggerKey";
inline constexpr const char secondaryTriggerKey[] = "secondaryTriggerKey";
inline constexpr const char cleanupEnabled[] = "cleanupEnabled";
inline constexpr const char language[] = "language";
inline constexpr const char dictionary[] = "dictionary";
inline constexpr const char onboarded[] = "onboarded";
inline constexpr const char inputDevice[] = "inputDevice";
inline constexpr const char appearance[] = "appearance";
inline constexpr const char pillAnimation[] = "pillAnimation";
inline constexpr const char showInDock[] = "showInDock";
inline constexpr const char soundCues[] = "soundCues";
inline constexpr const char audioDuringDictation[] = "audioDuringDictation";
inline constexpr const char releaseMicWhenIdle[] = "releaseMicWhenIdle";
inline constexpr const char typingWPM[] = "typingWPM";
inline constexpr const char depthUnlocked[] = "depthUnlocked";
inline constexpr const char depthSelection[] = "depthSelection";
inline constexpr const char inviteCode[] = "inviteCode";
inline constexpr const char inviteVerifiedDownloads[] = "inviteVerifiedDownloads";
inline constexpr const char milestoneDismissed[] = "milestoneDismissed";
inline constexpr const char milestoneLastShown[] = "milestoneLastShown";
inline constexpr const char milestoneShown[] = "milestoneShown";
inline constexpr const char motionGrandfathered[] = "motionGrandfathered";
inline constexpr const char motionAnnounced[] = "motionAnnounced";
inline constexpr const char updateAvailableVersion[] = "updateAvailableVersion";
inline constexpr const char updateAvailableBuild[] = "updateAvailableBuild";
inline constexpr const char updateReminderVersion[] = "updateReminderVersion";
inline constexpr const char updateReminderDate[] = "updateReminderDate";
// Hidden: never registered, so it reads as empty unless set by hand ("avfaudio" picks the
// second capture core).
inline constexpr const char captureCore[] = "ZEPACaptureCore";
} // namespace keys

// The 28 registered keys with their defaults, in registration order.
const std::vector<std::pair<QString, rt::SettingValue>> &defaultSettingsTable();

// Registers the table as the settings' defaults (memory only). Called once at launch before
// any setting is read. `primaryTrigger` stands in for "fn" as the default of "triggerKey": a keyboard
// whose Fn key never reaches the desktop starts on a key it has (pipeline/TriggerReach.h).
void registerDefaults(rt::Settings &settings, TriggerKey primaryTrigger = TriggerKey::fn);

} // namespace zq

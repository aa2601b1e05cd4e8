#pragma once

#include "pipeline/LanguageCatalogue.h"
#include "platform/PermissionProbe.h"
#include "records/FileManagerReveal.h"
#include "rewards/depth/InviteService.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QApplication;

namespace zq {

namespace rt {
class MainLoop;
class Settings;
} // namespace rt

namespace platform {
class AudioHardware;
class DesktopAppearance;
class Pasteboard;
class TrayPanel;
class UserNotifications;
} // namespace platform

class AudioDuringDictationController;
class DictationController;
class TriggerRecordingGate;
class Updater;
enum class UpdaterStart;

// What the application is built from: the desktop's back-ends, made before it (by main.cpp, or by a
// test over fakes) and kept until after it is gone. They are cheap to make: what connects or runs a
// thread starts later, the tray panel before the tray icon, the rest once it is up or when first used.
struct AppServices {
    QApplication &application;
    rt::MainLoop &loop;
    // With the defaults registered.
    rt::Settings &settings;
    platform::AudioHardware &hardware;
    platform::PermissionProbe &permissionProbe;
    // The clipboard that History, Support, the ledger card and invite links copy to.
    platform::Pasteboard &pasteboard;
    // Where the notice that no key starts dictation goes.
    platform::UserNotifications &notifications;
    // Ended at termination: the lowered volume or paused playback comes back.
    AudioDuringDictationController &audioDuringDictation;
    // Held open by the trigger recorders while they record.
    TriggerRecordingGate &recordingGate;
    // Starts the diagnostics journal, the crash-report scan and the hang watchdog.
    std::function<void()> startDiagnostics = {};
    // Makes the dictation controller over these services.
    std::function<std::unique_ptr<DictationController>()> makeController;
    // Makes the update service with its framework, started now or held; none leaves the application
    // without updates.
    std::function<std::unique_ptr<Updater>(UpdaterStart)> makeUpdater = {};
    // Shows the diagnostics journal in the file manager and says whether anything could.
    std::function<void(RevealDone)> revealDiagnostics = {};
    // Hands the allocator's free memory back to the system; none: the C library's trim.
    std::function<void()> trimMemory = {};
    // The invite client of the depth store; without a transport nothing is ever sent.
    InviteService invites = {};
    // The languages each engine offers, for the tray panel's language choice.
    LanguageCatalogue languages = {};
    // The keyboard map as the launch read it, so the tray icon needs no connection of its own; the
    // probe reads it once the launch is done.
    std::optional<platform::KeyboardMap> launchKeyboardMap = {};
    // What the desktop prefers for the colour scheme and motion, read before the application's
    // palette replaces the desktop's (may be null: no preference).
    platform::DesktopAppearance *desktopAppearance = nullptr;
    // What the tray tells of its colours and panel, for the icon (may be null: nothing).
    platform::TrayPanel *trayPanel = nullptr;
    // Where the worn icon is written for the desktop to find by name (DesktopIcon); empty: nowhere.
    QString desktopIconsFolder = {};
};

} // namespace zq

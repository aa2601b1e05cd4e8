#pragma once

#include "audio/AudioDuringDictationBackend.h"
#include "audio/AudioDuringDictationController.h"
#include "audio/AudioEngine.h"
#include "audio/BoundedHALExecutor.h"
#include "pipeline/DictationController.h"
#include "pipeline/Paster.h"
#include "pipeline/SoundCuePlayer.h"
#include "records/HistoryStore.h"
#include "records/IncidentStore.h"
#include "records/StatsStore.h"
#include "runtime/Settings.h"
#include "support/FakeAudioHardware.h"
#include "support/FakeAudioPlayer.h"
#include "support/FakeCaptureCore.h"
#include "support/FakeEscapeKeyGrab.h"
#include "support/FakeEventTap.h"
#include "support/FakeKeySynthesizer.h"
#include "support/FakeMicrophonePermission.h"
#include "support/FakePasteboard.h"
#include "support/FakeTranscriptionBackend.h"
#include "support/FakeUserNotifications.h"
#include "support/RecordingPillDisplay.h"
#include "support/VirtualLoop.h"

#include <QStringList>
#include <QTemporaryDir>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace zq::test {

// Records what audio during dictation asked of the computer's output.
class FakeAudioDuringDictationBackend final : public AudioDuringDictationBackend {
public:
    bool lowerVolume() override;
    void rampVolumeBack() override;
    void restoreVolume() override;
    bool pausePlayingPlayers() override;
    void resumePausedPlayers() override;

    bool isVolumeLowered() const { return m_lowered; }
    QStringList calls() const { return m_calls; }

private:
    bool m_lowered = false;
    QStringList m_calls;
};

// The dictation controller on fakes of everything it drives, on virtual time: the real audio
// engine over fake capture cores and fake hardware, real stores in a private folder, the real
// paste over a fake clipboard, the real cue player over fake players, and scriptable engines,
// permission, notifications and cleanup. Construct and use on the test's thread.
class FakeDictationServices {
public:
    struct Options {
        // Makes the controller in the constructor.
        bool makeController = true;
        // Uses the rig's scripted cleanup.
        bool cleanup = true;
    };

    FakeDictationServices() : FakeDictationServices(Options{}) {}
    explicit FakeDictationServices(Options options);
    ~FakeDictationServices();

    // The controller's wiring over this rig; tests may change it before makeController().
    DictationController::Dependencies dependencies();
    void makeController();

    // Starts a take and brings it live: the core starts, delivers its first buffer, the engine
    // begins the take. False when that does not happen within a few real seconds.
    [[nodiscard]] bool startLive();
    // The same for a take already started.
    [[nodiscard]] bool bringLive();
    // Runs the loop (real time for other threads, virtual steps of 10 ms for the engine's polls)
    // until `done` holds; false after `maxSteps` steps.
    bool pump(const std::function<bool()> &done, int maxSteps = 300);
    // `count` buffers of 10 ms each from the running core, each followed by a loop run.
    void deliver(int count, float value = 0.1f);
    // Advances virtual time (seconds).
    void advance(double seconds);

    // Diagnostics, in order.
    std::vector<DiagnosticEvent> events() const;
    // The metadata of the last event of that kind; empty when there was none.
    DiagnosticMetadata lastMetadata(DiagnosticEvent event) const;
    int count(DiagnosticEvent event) const;
    void clearEvents();

    // How many times a cue was played (the player factory makes listening first, then captured).
    int cuePlays(SoundCue cue) const;
    // Files in the take folder.
    QStringList takeFiles() const;
    QString takeDirectory() const;

    // Cleanup script: how long it takes (virtual seconds, ignoring cancellation as a slow model
    // would) and what it makes of a text.
    double cleanupSeconds = 0;
    std::function<QString(const QString &)> cleanupResult = [](const QString &text) {
        return QStringLiteral("Cleaned: ") + text;
    };
    int cleanupCalls = 0;

    QTemporaryDir dir;
    VirtualLoop loop;
    rt::Settings settings{QString()};
    FakeAudioHardware hardware;
    platform::AudioDeviceId microphoneID = 0;
    FakeCaptureCoreFactory cores;
    BoundedHALExecutor hal{QStringLiteral("io.quorvane.zepaquarn.test-hal")};
    std::unique_ptr<AudioEngine> engine;
    std::unique_ptr<HistoryStore> history;
    std::unique_ptr<IncidentStore> incidents;
    std::unique_ptr<StatsStore> stats;
    FakeAudioPlayerFactory players;
    std::unique_ptr<SoundCuePlayer> cues;
    FakeAudioDuringDictationBackend *audioBackend = nullptr;
    std::unique_ptr<AudioDuringDictationController> audioDuringDictation;
    FakePasteboard pasteboard;
    FakeKeySynthesizer keys{[this] { return pasteboard.text(); }};
    FakeScreenLock screenLock;
    FakeFrontWindow frontWindow;
    std::unique_ptr<Paster> paster;
    FakeEventTap eventTap;
    FakeEscapeKeyGrab escapeGrab;
    FakeMicrophonePermission microphone;
    FakeUserNotifications notifications;
    FakeTranscriptionBackendFactory backends;
    QStringList copied; // texts the recovered-take copy function received
    bool copySucceeds = true;
    QStringList announcements;
    int prewarmCalls = 0;
    // The pill the controller made, once it made it.
    RecordingPillDisplay *pill = nullptr;
    std::unique_ptr<DictationController> controller;
    // The controller makeController() made, also once its owner took it over.
    DictationController *made = nullptr;

private:
    Options m_options;
    mutable std::mutex m_eventsMutex;
    std::vector<std::pair<DiagnosticEvent, DiagnosticMetadata>> m_events;
};

} // namespace zq::test

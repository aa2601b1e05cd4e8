#pragma once

#include "audio/AudioInputDevice.h"
#include "audio/CaptureCore.h"
#include "audio/InputChangeTrigger.h"
#include "audio/LevelHistory.h"
#include "audio/StartFailurePhase.h"
#include "audio/TakeMode.h"
#include "audio/TakeResult.h"
#include "pipeline/InputTransport.h"
#include "pipeline/TakePhase.h"
#include "pipeline/TakeRecoveryCoordinator.h"
#include "pipeline/TakeStartIntent.h"
#include "platform/AudioFormat.h"
#include "platform/AudioHardware.h"
#include "platform/PCMBuffer.h"
#include "runtime/AsyncChannel.h"
#include "runtime/Clocks.h"
#include "runtime/Executor.h"
#include "runtime/Task.h"

#include <QMap>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace zq::rt {
class Settings;
}

namespace zq {

class BoundedHALExecutor;
enum class DiagnosticEvent;                        // records/DiagnosticEvent.h
using DiagnosticMetadata = QMap<QString, QString>; // as records/DiagnosticEvent.h

// The capture service: keeps one capture session (a running capture core bound to one input
// device) open across takes so that a take normally starts without a new microphone claim, proves
// that a session delivers audio on the selected route before a take begins, records each take to a
// WAV file in the private take folder (and, when streamed, to a live buffer stream), and keeps a
// running take alive across device and format changes.
//
// Threads: a QObject of the main thread; every method is called there, and its asynchronous steps
// are tasks on the injected main loop. Blocking calls into the audio server run on the HAL executor
// under its deadline. The capture core's tap runs on the audio thread and reaches the engine only
// through four small locks and one main-loop item per buffer.
//
// Lifetime: the engine may be destroyed while a start, pre-warm or recovery is suspended; those
// tasks are then never resumed (their owner is gone), and the session is closed.
class AudioEngine : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool captureLive READ captureLive NOTIFY captureLiveChanged)

public:
    using TakeResult = zq::TakeResult;
    using CapturedTake = zq::CapturedTake;
    // Makes the core for one session; the engine passes what "ZEPACaptureCore" selects.
    using CoreFactory = std::function<std::shared_ptr<CaptureCore>(CaptureCoreKind kind)>;
    using DiagnosticsRecorder = std::function<void(DiagnosticEvent event, const DiagnosticMetadata &metadata)>;

    struct Dependencies {
        rt::MainLoop &loop;
        const rt::Clocks &clocks;
        rt::Settings &settings;
        platform::AudioHardware &hardware;
        CoreFactory makeCore;
        // The private folder take files are written to (rt::Paths::takeDir()).
        QString takeDirectory;
        // sharedHALExecutor() when null.
        BoundedHALExecutor *halExecutor = nullptr;
        // Diagnostics::shared() when empty.
        DiagnosticsRecorder record;
    };

    // Fixed values.
    static constexpr double kAudioServerDeadline = 6.0;
    static constexpr double kWarmFreshness = 0.6;
    static constexpr double kEndedIntentWarmKeep = 30.0;
    static constexpr double kUnusedPrewarmKeep = 30.0;
    static constexpr double kRetryPause = 0.4;
    static constexpr double kWaitPoll = 0.01;
    static constexpr double kFirstBufferLimit = 0.6;
    static constexpr double kSlowFirstBufferLimit = 2.5; // Bluetooth and continuity devices
    static constexpr double kTooShort = 0.5;
    static constexpr double kMicGrace = 60.0;
    static constexpr int kRecoveriesPerTake = 3;
    static constexpr double kRecoveryVerificationDelay = 1.2;

    explicit AudioEngine(Dependencies dependencies, QObject *parent = nullptr);
    ~AudioEngine() override;
    AudioEngine(const AudioEngine &) = delete;
    AudioEngine &operator=(const AudioEngine &) = delete;

    // True exactly while a take is live with capture proved.
    bool captureLive() const { return m_captureLive; }
    // The voice levels of the current take, for the meters.
    const LevelHistory &history() const { return m_history; }
    // Empties the meters' state (no levels, envelope 0, no last chunk), so a pill that shows
    // before the take begins never reads the previous take's levels.
    void resetMeter();
    // Runs on the main thread once per take, when its first buffer arrives.
    void setOnTakeLive(std::function<void()> callback) { m_onTakeLive = std::move(callback); }
    // The take files' disk queue. A take's file is made there when the take begins, so that the
    // take goes live without waiting for the disk, and a streamed take's file is flushed to disk
    // and closed there once the take ends, so that the release does not wait for the disk before
    // the stream's end reaches the transcriber. None (the default): both on the main thread. It
    // must outlive the engine. A take written only to its file (for an upload) is always closed
    // before takeResult() returns.
    void setTakeFileCloser(rt::Executor *closer) { m_takeFileCloser = closer; }

    // Starts a take: reuses a fresh warm session on the selected route or opens and proves a new
    // one (retried once after 0.4 s when it throws), then begins the take unless `intent` was
    // withdrawn meanwhile. Returns true when no take began because the intent had ended (a session
    // that was opened is kept warm for 30 s), false when the take began. Throws the start's error
    // (AudioCaptureError, PhasedStartError, HALOperationError) or rt::CancellationError when the
    // calling task is cancelled; a failed start leaves no session open.
    rt::Task<bool> start(TakeMode mode, bool allowRescueFallback, std::shared_ptr<TakeStartIntent> intent);

    // The live buffers of the current streamed take, in captureFormat(); none for a file-only take
    // and between takes. The stream ends when the take ends.
    std::optional<rt::AsyncChannel<platform::SharedPCMBuffer>> buffers() const { return m_buffers; }
    // The format of the current take's stream and file: the capture format when the take began
    // (48 kHz mono when the core had none), kept for the whole take even when a rebuild changes
    // the device's rate. Between takes: the open core's format, or none.
    std::optional<platform::AudioFormat> captureFormat() const;

    // Ends the take, releases or keeps the microphone, and classifies the take: too short (below
    // 0.5 s, file deleted), empty (no buffer came after the take went live, file deleted) or
    // captured (the file is the caller's).
    TakeResult takeResult();
    // Ends the take, releases or keeps the microphone, and deletes the take file.
    void discardTake();
    // Closes the ended take's file at `path` now when its close still waits on the take-file
    // queue, so that whoever keeps the file gets all of it with its final header.
    void completeTakeFile(const QString &path);

    // The number of input buffers the capture tap delivered during the current take (0 between
    // takes until the next one begins). Written on the audio thread, read here under its lock.
    std::int64_t tapFires() const;

    // Releases the held microphone now or keeps it, by the session's transport and
    // "releaseMicWhenIdle" (read each time). Runs after every take; call it directly only while
    // the phase is idle or grace idle, so a changed rule applies without waiting for a take.
    void applyMicReleasePolicy();

    // The input preference ("inputDevice") or the system's devices changed: drops a session on
    // another device at once (or after the take), and pre-warms a Bluetooth or continuity device
    // chosen in a picker.
    void inputPreferenceChanged(InputChangeTrigger trigger);

    // State, for the controller's diagnostics, views and tests.
    TakePhase takePhase() const { return m_takePhase; }
    bool hasSession() const { return m_core != nullptr; }
    std::optional<platform::AudioDeviceId> sessionRouteHint() const { return m_sessionRouteHint; }
    std::optional<QString> boundDeviceName() const { return m_boundDeviceName; }
    InputTransport sessionTransport() const { return m_sessionTransport; }
    std::optional<platform::AudioDeviceId> knownSilentDevice() const { return m_knownSilentDevice; }
    const TakeRecoveryCoordinator &recovery() const { return m_recovery; }
    // Whether the current take has lost its microphone: a rebuild found no input to open, or the
    // rebuilds ran out with no sound flowing again. A later rebuild that opens an input clears it.
    bool takeInputLost() const { return m_takeInputLost; }
    bool isGraceReleasePending() const { return m_graceTimer.isValid() && !m_graceTimer.isCancelled(); }
    // The path of the current take's file, if a take has one.
    std::optional<QString> takeFilePath() const { return m_fileURL; }
    // Calls into the audio server that have not come back yet (tests wait on it).
    int hardwareCallsInFlight() const { return m_halInFlight->load(); }

signals:
    void captureLiveChanged(bool captureLive);
    // The take phase moved (starting, live, idle, grace idle).
    void takePhaseChanged();

private:
    struct TakeWriter;      // the take file and stream, written on the audio thread
    struct ClosingTakeFile; // a take file whose close waits on the take-file queue

    // The buffers a session opened for a take delivers while the start proves it. They were
    // captured after the press that asked for the session, so they open the take: its first buffer
    // is the one that proved the session, not the microphone's next delivery.
    struct HeldAudio {
        std::uint64_t generation = 0;
        rt::Nanos askedAt{0};     // when the session was asked for (continuous clock)
        rt::Nanos lastArrival{0}; // when the newest buffer came
        double seconds = 0;
        std::vector<platform::SharedPCMBuffer> buffers; // copies, oldest first
    };
    // The most a start holds: more than the slowest first buffer and route check take.
    static constexpr double kHeldAudioLimit = 3.0;
    // The held buffers a take may begin with: only as much audio, the newest, as can have been
    // captured since the session was asked for; a source that hands over a backlog at once (a pipe,
    // a network source) gives older audio first, and that never enters the take.
    static std::vector<platform::SharedPCMBuffer> capturedSinceAsked(HeldAudio held);

    // What the audio thread shares with the engine: four cells, each under its own lock, held for
    // a read or a write only and never two at once (beginTake() alone counts the held buffers it
    // writes while it installs the take, so no buffer of the audio thread can come between).
    struct TapCells {
        std::mutex generationLock;
        std::uint64_t activeGeneration = 0;
        std::mutex lastTapLock;
        std::optional<std::pair<std::uint64_t, rt::Nanos>> lastTapFire; // (generation, continuous time)
        // Ends the first-buffer wait's pause when the next buffer arrives; taken by that buffer.
        std::function<void()> firstTapWake;
        std::mutex takeIOLock;
        std::shared_ptr<TakeWriter> takeIO;
        // Under takeIOLock: what the session of a fresh start delivers before its take begins.
        std::optional<HeldAudio> held;
        std::mutex firesLock;
        std::int64_t fires = 0;
        std::int64_t copyFails = 0;

        // Fixed at construction.
        rt::MainLoop *loop = nullptr;
        const rt::Clocks *clocks = nullptr;
        AudioEngine *engine = nullptr;
        std::weak_ptr<int> alive;
    };

    // Phase and session.
    void transition(const TakeLifecycleEvent &event, const char *at);
    void teardownSession();
    void endFailedStart(const char *at);
    void scheduleGraceRelease(const QString &reason, double afterSeconds);
    void graceElapsed(const QString &reason, double seconds);
    void defaultInputChanged();
    void systemDevicesChanged();
    void registerListeners();
    QString preferredInput() const;
    std::optional<platform::AudioFormat> coreFormat() const;
    std::optional<rt::Nanos> lastTapInstantOfActiveSession() const;
    // Hands `wake` to the next buffer of the open session, or calls it when one has already come.
    void armFirstTapWake(std::function<void()> wake);
    std::optional<QString> deviceName(platform::AudioDeviceId device) const;

    // Asynchronous steps (tasks on the main loop).
    rt::Task<void> startSession(QString prefUID, std::optional<platform::AudioDeviceId> resolved);
    struct UsedTarget {
        QString prefUID;
        std::optional<platform::AudioDeviceId> resolved;
    };
    rt::Task<UsedTarget> startSessionFallingBackToSystemDefault(QString prefUID,
                                                                std::optional<platform::AudioDeviceId> resolved);
    rt::Task<bool> waitForFirstBuffer();
    rt::Task<bool> sessionStillOnRoute(QString prefUID, std::optional<platform::AudioDeviceId> expected);
    // Whether the open session can serve a start on `resolved` as it is.
    rt::Task<bool> warmSessionReusable(QString prefUID, std::optional<platform::AudioDeviceId> resolved);
    // Begins the take when the intent is still active, else keeps the session warm; true when no take began.
    bool claimIntent(TakeStartIntent &intent, TakeMode mode, const char *at);
    rt::Task<void> startAttempt(QString prefUID, std::optional<platform::AudioDeviceId> resolved,
                                bool allowRescueFallback);
    // Whether the tap of the session just opened fired, on the route asked for.
    rt::Task<bool> provedLive(UsedTarget used);
    void updateKnownSilentDevice(std::optional<platform::AudioDeviceId> targetID,
                                 std::optional<platform::AudioDeviceId> resolved);
    rt::Task<void> openSessionWithRetry(QString prefUID, std::optional<platform::AudioDeviceId> resolved,
                                        bool allowRescueFallback, bool recordDiagnostics);
    rt::Task<std::optional<platform::AudioDeviceId>> resolveOnExecutor(QString prefUID);
    rt::Task<std::optional<AudioInputDevice>> builtInOnExecutor(std::optional<platform::AudioDeviceId> excluding);
    rt::Task<void> prewarm(QString prefUID, std::optional<platform::AudioDeviceId> resolved);
    rt::Task<void> handleConfigurationChange();
    rt::Task<void> recoverSession(int attempt, QString mode, std::optional<QString> reason);
    rt::Task<void> recoverThenVerify(int attempt, QString mode, QString reason);

    // Take.
    void beginTake(TakeMode mode);
    void dropHeldAudio();
    std::uint64_t activeGeneration() const;
    // The meter's levels and the take's proof for buffers written to the take (main thread).
    // `fileCreated` none: the file is still being made on the take-file queue.
    void reportTakeBuffers(const std::vector<platform::SharedPCMBuffer> &buffers, std::int64_t fires,
                           std::optional<bool> fileCreated);
    void endTake();
    static void deleteTakeFile(const QString &path);
    void closeTakeWriter(const std::shared_ptr<TakeWriter> &writer);

    // Tap hand-over and levels (main thread).
    static void handleTapBuffer(const std::shared_ptr<TapCells> &cells, std::uint64_t generation,
                                const platform::SharedPCMBuffer &buffer);
    struct TapReport {
        std::uint64_t takeSerial = 0;
        std::int64_t fires = 0;
        std::vector<double> levels;
        double chunkDuration = 0;
        double bufferDuration = 0;
        platform::AudioFormat format;
        std::optional<bool> fileCreated = false; // none: still being made
        // The take's first buffers: they prove its capture.
        bool first = false;
    };
    static TapReport tapReportOf(const platform::PCMBuffer &buffer);
    void tapArrived(const TapReport &report);
    void ingestLevels(const std::vector<double> &levels, double chunkDuration, double bufferDuration);
    void scheduleRecoveryCheck();
    void verifyRecovery(std::int64_t firesBefore);
    void record(DiagnosticEvent event, const DiagnosticMetadata &metadata = {});
    void spawnTask(rt::Task<void> task);

    rt::MainLoop &m_loop;
    rt::Executor *m_takeFileCloser = nullptr;
    const rt::Clocks &m_clocks;
    rt::Settings &m_settings;
    platform::AudioHardware &m_hardware;
    CoreFactory m_makeCore;
    QString m_takeDirectory;
    BoundedHALExecutor &m_halExecutor;
    DiagnosticsRecorder m_record;

    LevelHistory m_history;
    double m_envelope = 0.0;
    std::optional<rt::Nanos> m_lastChunkAt;
    bool m_captureLive = false;
    std::function<void()> m_onTakeLive;
    std::shared_ptr<CaptureCore> m_core;
    CaptureCoreKind m_coreKind = CaptureCoreKind::auhal;
    std::optional<platform::AudioDeviceId> m_sessionRouteHint;
    std::optional<QString> m_boundDeviceName;
    std::optional<platform::AudioHardware::ListenerID> m_defaultDeviceListener;
    TakeRecoveryCoordinator m_recovery;
    bool m_takeInputLost = false;
    rt::WorkItem m_recoveryCheckTimer;
    rt::WorkItem m_graceTimer;
    std::optional<platform::AudioHardware::ListenerID> m_deviceListListener;
    InputTransport m_sessionTransport = InputTransport::other;
    std::optional<platform::AudioDeviceId> m_knownSilentDevice;
    std::optional<QString> m_fileURL;
    std::optional<rt::Nanos> m_startedAt; // continuous clock
    TakePhase m_takePhase = TakePhase::idle();
    std::optional<rt::AsyncChannel<platform::SharedPCMBuffer>> m_buffers;
    std::optional<platform::AudioFormat> m_takeFormat;
    std::uint64_t m_takeSerial = 0;
    // How many of the take's tap fires are the opening buffers it began with.
    std::int64_t m_openingFires = 0;
    // Streamed takes' files still to be closed on the take-file queue, by path.
    std::vector<std::pair<QString, std::weak_ptr<ClosingTakeFile>>> m_closingTakeFiles;
    // Set while a start opens a session of its own for its take: that session's first buffers are
    // held for the take (HeldAudio). A warm session's are not: they may predate the press.
    bool m_holdStartAudio = false;
    // The four cells the audio thread shares with the engine, each under its own lock.
    std::shared_ptr<TapCells> m_cells;

    std::shared_ptr<std::atomic<int>> m_halInFlight = std::make_shared<std::atomic<int>>(0);
    // Expires with the engine; suspended work and main-loop items check it before touching it.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
    std::vector<rt::TaskHandle<void>> m_tasks;
};

// The step of an audio start that an error of the start path points to, for the journal.
StartFailurePhase startFailurePhaseOf(const std::exception_ptr &error);
// The user-facing sentence of an error of the start path.
QString describeError(const std::exception_ptr &error);

} // namespace zq

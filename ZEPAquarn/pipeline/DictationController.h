#pragma once

#include "audio/TakeMode.h"
#include "pipeline/AudioSource.h"
#include "pipeline/BackendFactory.h"
#include "pipeline/DictationFailure.h"
#include "pipeline/PillDisplay.h"
#include "pipeline/PillNotice.h"
#include "pipeline/PillState.h"
#include "pipeline/RecoveredTranscriptionState.h"
#include "pipeline/TakeStartIntent.h"
#include "pipeline/TranscriptionBackend.h"
#include "pipeline/TriggerLogic.h"
#include "records/DiagnosticEvent.h"
#include "runtime/BackendKind.h"
#include "runtime/Executor.h"
#include "runtime/Task.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

namespace zq {

namespace rt {
class Clocks;
class Paths;
class Settings;
} // namespace rt

namespace platform {
class EscapeKeyGrab;
class EventTap;
class MicrophonePermission;
class Pasteboard;
class UserNotifications;
} // namespace platform

class AudioDuringDictationController;
class AudioEngine;
class HistoryStore;
class HotkeyTap;
class IncidentStore;
class Paster;
class SoundCuePlayer;
class StatsStore;
class StoreWriter;
struct DictationIncident;
struct IncidentPresentation;

// Runs dictation: turns the trigger's actions into takes, starts and finishes the capture, drives
// the transcription, cleans up, pastes and records the text, turns every failure into a notice
// (and mostly an incident), and transcribes kept recordings again on request.
//
// Main thread only; every asynchronous step is a task on the injected main loop and every timing
// rule a delayed item on it. The services it is given must outlive it. Destroying it cancels its
// tasks and timers; nothing it started touches it afterwards.
class DictationController final : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool tapRunning READ tapRunning WRITE setTapRunning NOTIFY tapRunningChanged)

public:
    // Puts a recovered transcript on the clipboard; true when written.
    using CopyFunction = std::function<bool(const QString &text)>;
    using DiagnosticsRecorder = std::function<void(DiagnosticEvent event, const DiagnosticMetadata &metadata)>;
    // Makes the pill on first use.
    using PillFactory = std::function<std::unique_ptr<PillDisplay>()>;
    // Speaks a short message through the desktop's accessibility service.
    using Announcer = std::function<void(const QString &message)>;

    // The transcript cleanup: whether a text should be cleaned (given "cleanupEnabled"), and the
    // cleaning itself, which never fails (it returns its input when it cannot clean).
    struct Cleanup {
        std::function<bool(const QString &text, bool enabled)> shouldClean;
        std::function<rt::Task<QString>(QString text, QStringList dictionary)> clean;
    };

    struct Dependencies {
        rt::MainLoop &loop;
        rt::Clocks &clocks;
        rt::Settings &settings;
        AudioEngine &audio;
        HistoryStore &history;
        IncidentStore &incidents;
        StatsStore &stats;
        SoundCuePlayer &cues;
        AudioDuringDictationController &audioDuringDictation;
        Paster &paster;
        platform::MicrophonePermission &microphone;
        // The global key source of the hotkey tap; without one the tap never runs.
        platform::EventTap *eventSource = nullptr;
        // Held while a take records, so that Escape cancels it without reaching the window in front.
        platform::EscapeKeyGrab *escapeGrab = nullptr;
        // Without a notification service no notification is attempted.
        platform::UserNotifications *notifications = nullptr;
        // Required: makes the engine of a live take from the "backend" setting.
        BackendFactory makeBackend{};
        // Transcribes kept recordings; a RecoveredTakeTranscriber over `makeBackend` when null.
        std::shared_ptr<RecoveredTakeTranscribing> recoveredTakeTranscriber{};
        // The clipboard of the default copy function, used when `copyRecoveredTranscript` is empty.
        platform::Pasteboard *pasteboard = nullptr;
        CopyFunction copyRecoveredTranscript{};
        // No cleanup when empty.
        Cleanup cleanup{};
        // Warms the connection of the OpenAI engine; called when a take starts with it.
        std::function<void()> prewarmOpenAI{};
        // Without a factory the controller drives no pill (it still keeps its pill state).
        PillFactory makePill{};
        // Diagnostics::shared() when empty.
        DiagnosticsRecorder record{};
        Announcer announce{};
        // "Unknown" when empty.
        QString appVersion{};
        QString build{};
    };

    // Fixed values.
    static constexpr rt::Nanos kFailReset = rt::seconds(1.8);
    static constexpr rt::Nanos kDoneFlash = rt::seconds(1.005);
    static constexpr rt::Nanos kAccidentalPress = rt::seconds(0.5);
    static constexpr rt::Nanos kFragmentDuration = rt::seconds(1.0);
    static constexpr rt::Nanos kFragmentGap = rt::seconds(3.0);
    static constexpr double kWatchdogFactor = 0.5;
    static constexpr rt::Nanos kWatchdogFloor = rt::seconds(135.0);

    explicit DictationController(Dependencies dependencies, QObject *parent = nullptr);
    ~DictationController() override;
    DictationController(const DictationController &) = delete;
    DictationController &operator=(const DictationController &) = delete;

    // The trigger's actions (what the hotkey tap delivers).
    void handleTriggerAction(TriggerAction action);
    // Installs the hotkey tap when it is not running; returns whether it runs.
    bool ensureHotkeyTapRunning();

    // The start action: starts a take unless one (or a re-transcription) is in flight.
    void startDictation();
    // The finish action.
    void requestFinish();
    // The cancel action (Escape): drops the take in whatever phase it is, without a notice.
    void cancelDictation();

    // Transcribes the kept recording of `incident` again, or explains at once why it cannot.
    void retryRecoveredTranscription(const DictationIncident &incident);
    // The failure text to show under `incident`, when the last retry of exactly that one failed.
    std::optional<QString> recoveryFailureMessage(const QUuid &incident) const;
    // Stops a running re-transcription (at quit), its engine at once; its state returns to idle.
    void cancelRecoveredTranscription();
    // At quit (or when the display goes away): a take with audio but no delivered text becomes an
    // interrupted-transcription incident that keeps its recording, so Retry can finish it later. A
    // take still recording ends here and keeps what was captured. Synchronous, no network. True when
    // a take was kept.
    bool keepInterruptedTake();
    // At start: take files with audio that an earlier run left behind (killed, or quit while a History
    // save was outrun) become interrupted incidents as keepInterruptedTake() would have made them; a
    // take whose words History holds is only deleted. Returns how many were kept.
    int keepLeftoverTakes(const QStringList &takeFiles);

    // Published state.
    bool tapRunning() const { return m_tapRunning; }
    void setTapRunning(bool running);
    const RecoveredTranscriptionState &recoveredTranscriptionState() const { return m_recoveredTranscriptionState; }
    void setRecoveredTranscriptionState(const RecoveredTranscriptionState &state);

    // State, for views and tests.
    const PillState &pillState() const { return m_pillState; }
    bool isRecording() const { return m_recording; }
    bool isBusy() const;
    bool isAudioStartPending() const { return m_audioStartTask.has_value(); }
    bool isTranscribing() const { return m_transcriptionTask.has_value(); }
    bool isRetryRunning() const { return m_recoveredTranscriptionTask.has_value(); }
    const QString &liveTranscript() const { return m_liveTranscript; }
    std::optional<QString> activeBackend() const { return m_activeBackend; }
    std::optional<QString> takeFilePath() const { return m_takeFileURL; }
    std::uint64_t audioStartGeneration() const { return m_audioStartGeneration; }
    bool isFailResetPending() const { return isPending(m_failResetTimer); }
    bool isDoneFlashPending() const { return isPending(m_doneFlashTimer); }
    bool isWatchdogArmed() const { return isPending(m_thinkingWatchdog); }

    AudioEngine &audio() const { return m_audio; }
    HistoryStore &history() const { return m_history; }
    IncidentStore &incidents() const { return m_incidents; }
    StatsStore &stats() const { return m_stats; }
    // The pill, made on first use; null without a pill factory.
    PillDisplay *pill();
    // The hotkey tap, made on first use; null without an event source.
    HotkeyTap *tap();

    // The default copy function: the text as plain text on `pasteboard`; false for an empty text,
    // which leaves the clipboard alone.
    static bool copyToPasteboard(platform::Pasteboard &pasteboard, const QString &text);
    // The watchdog's delay for a take of `capturedSeconds`: max(0.5 × seconds, 135 s).
    static rt::Nanos watchdogDelay(double capturedSeconds);

signals:
    void tapRunningChanged(bool running);
    void recoveredTranscriptionStateChanged();
    void pillStateChanged();

private:
    using Alive = std::weak_ptr<int>;

    // Start.
    rt::Task<void> runAudioStart(Alive alive, std::uint64_t generation, std::shared_ptr<TakeStartIntent> intent,
                                 TakeMode mode, rt::Nanos startMark);
    void handleAudioStarted(std::uint64_t generation, bool withdrawn, rt::Nanos startMark);
    void audioStartFailed(std::uint64_t generation);
    void cancelAudioStart();

    // Finish and delivery.
    void finishDictation();
    void startTranscription(std::unique_ptr<TranscriptionBackend> backend, AudioSource source);
    void cancelTranscriptionTask();
    rt::Task<void> runTranscription(Alive alive, std::shared_ptr<TranscriptionBackend> backend, AudioSource source,
                                    rt::Nanos startMark);
    rt::Task<void> completeDictation(Alive alive, QString text);
    void armThinkingWatchdog(double capturedSeconds);
    void thinkingWatchdogFired();
    void resetToIdle(bool resetTrigger);
    void discardTakeFile();
    // Deletes a delivered take's file once a History save holding its text is on disk (the one its text
    // just started, or a later one when that failed): killed before that, the run leaves the take for the
    // next start to keep.
    void discardTakeFileOnceInHistory(const QString &takeFile);
    // The stores whose saves the controller watches, to tell the user when one cannot be written.
    enum class Store {
        history,
        statistics,
    };
    // Watches the save just asked of `store`: its outcome comes back to the loop (noteSave()).
    void watchSave(Store store);
    // Tells the user once when a store's saves start failing; a save that reaches the disk ends that.
    void noteSave(Store store, bool onDisk);
    void doneFlashFired();
    // How a paste ended for the controller: the text went in (or nothing more can be known), or the window
    // in front never fetched it, the text left on the clipboard or only in the history.
    enum class PasteOutcome {
        delivered,
        notFetched,
        notFetchedReplaced,
    };
    // What only a paste the front window fetched does (the statistics, "paste_succeeded", the done
    // pill), held until the paster tells how the paste ended. The rest of the take is recorded at once.
    struct PasteAwaitingFetch {
        std::uint64_t id = 0;
        qint64 words = 0;
        // The take's seconds, taken out of the statistics store: the next take may arm its own meanwhile.
        std::optional<double> seconds;
        bool inputLost = false;
        // m_pillTransitions as the paste left it: the take still shows while nothing else set the pill.
        std::uint64_t pillTransitions = 0;
        // m_takesBegun as the paste left it: a newer take began (or was refused) when it moved on.
        std::uint64_t takesBegun = 0;
        // m_pillTransitions right after the pill told that the text was not inserted; 0 while not told there.
        std::uint64_t toldInPill = 0;
        // The desktop notification that told it; empty while none did.
        QString notice = {};
    };
    // Applies the outcome of the paste `id` (none: the oldest, which the paster settles first), once;
    // nothing when it does not await its fetch.
    void settlePaste(PasteOutcome outcome, std::optional<std::uint64_t> id = std::nullopt);
    // A paste told as not inserted, whose text the window fetched after all: it counts, and the pill stops
    // saying otherwise.
    void settleLateFetch(std::uint64_t id);
    // The paste did not insert the text: it stays on the clipboard (and is in the history), and the user
    // is told.
    void pasteRefused();
    // Posts `notice` as a user notification, where there is a notification service.
    // Returns the notification's identifier (also kept in m_lastNotice); empty without a notification service.
    QString postNotice(const PillNotice &notice);

    // Cancel and failure.
    void cancelTranscription();
    // `notice` in place of the failure's own.
    void failDictation(const DictationFailure &failure, const std::optional<PillNotice> &notice = std::nullopt);
    void failResetFired();

    // Re-transcription.
    rt::Task<void> runRecoveredTranscription(Alive alive, QString path, DictationIncident incident, QString language,
                                             QStringList dictionary);
    void recoveredTranscriptionFailed(const DictationIncident &incident, const QString &errorText);

    // Helpers.
    void setPillState(const PillState &state);
    void record(DiagnosticEvent event, const DiagnosticMetadata &metadata = {});
    rt::WorkItem schedule(rt::Nanos delay, void (DictationController::*body)());
    static void cancelTimer(rt::WorkItem &timer);
    static bool isPending(const rt::WorkItem &timer) { return timer.isValid() && !timer.isCancelled(); }
    QString settingsBackend() const;
    QString backendOrUnknown() const;
    // None reads as on-device, like any name but the OpenAI one.
    BackendKind activeBackendKind() const;
    QString attemptSpanMs() const;
    QString language() const;
    QStringList dictionary() const;
    DictationIncident newIncident(const QUuid &id, const IncidentPresentation &presentation,
                                  const QString &backend) const;

    rt::MainLoop &m_loop;
    rt::Clocks &m_clocks;
    rt::Settings &m_settings;
    AudioEngine &m_audio;
    HistoryStore &m_history;
    IncidentStore &m_incidents;
    StatsStore &m_stats;
    SoundCuePlayer &m_cues;
    AudioDuringDictationController &m_audioDuringDictation;
    Paster &m_paster;
    platform::MicrophonePermission &m_microphone;
    platform::EventTap *m_eventSource;
    platform::EscapeKeyGrab *m_escapeGrab;
    platform::UserNotifications *m_notifications;
    BackendFactory m_makeBackend;
    std::shared_ptr<RecoveredTakeTranscribing> m_recoveredTakeTranscriber;
    CopyFunction m_copyRecoveredTranscript;
    Cleanup m_cleanup;
    std::function<void()> m_prewarmOpenAI;
    PillFactory m_makePill;
    DiagnosticsRecorder m_record;
    Announcer m_announce;
    QString m_appVersion;
    QString m_build;

    std::unique_ptr<PillDisplay> m_pill;
    std::unique_ptr<HotkeyTap> m_tap;
    std::optional<rt::TaskHandle<void>> m_transcriptionTask;
    std::optional<rt::TaskHandle<void>> m_recoveredTranscriptionTask;
    std::optional<rt::TaskHandle<void>> m_audioStartTask;
    std::shared_ptr<TakeStartIntent> m_currentStartIntent;
    std::uint64_t m_audioStartGeneration = 0;
    QString m_liveTranscript;
    PillState m_pillState = PillState::hidden();
    rt::WorkItem m_failResetTimer;
    rt::WorkItem m_doneFlashTimer;
    bool m_recording = false;
    std::optional<rt::Nanos> m_attemptStartedAt;
    std::optional<double> m_attemptSpan;
    std::optional<QString> m_takeFileURL;
    // The final text of the take whose file this is, noted as its cleanup begins: until the paste
    // it is in no History, and a quit then keeps it there (keepInterruptedTake()).
    std::optional<std::pair<QString, QString>> m_finishedText;
    // The captured take lost its microphone part-way: delivered, then reported as micLost.
    bool m_takeInputLost = false;
    std::optional<QString> m_activeBackend;
    bool m_tapRunning = false;
    RecoveredTranscriptionState m_recoveredTranscriptionState = RecoveredTranscriptionState::idle();
    rt::WorkItem m_thinkingWatchdog;
    // Pastes still waiting for their fetch, oldest first; the paster settles them in that order.
    std::deque<PasteAwaitingFetch> m_awaitingFetch;
    // Pastes told as not inserted whose text the window may still fetch, oldest first; a few.
    std::deque<PasteAwaitingFetch> m_givenUpPastes;
    // The identifier of the latest desktop notification posted.
    QString m_lastNotice;
    // Counts every take begun, also one refused at its start.
    std::uint64_t m_takesBegun = 0;
    std::uint64_t m_lastPasteId = 0;
    // The stores whose latest save failed: the user has been told, and is not told again until one is saved.
    bool m_historyUnsaved = false;
    bool m_statisticsUnsaved = false;
    // Counts every setPillState(): whatever sets the pill after a paste (a new take, Escape) owns it, and
    // the paste's outcome no longer shows there.
    std::uint64_t m_pillTransitions = 0;

    // Expires with the controller; tasks and timers check it before touching it.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

// The three stores the controller writes, in their folders under the data folder: "history.json"
// and "stats.json" in it, the incidents in "Incidents". For the application's wiring.
struct DictationStores {
    static DictationStores open(const rt::Paths &paths, const rt::Clocks &clocks);

    DictationStores();
    DictationStores(DictationStores &&) noexcept;
    DictationStores &operator=(DictationStores &&) noexcept;
    ~DictationStores();

    // Writes the history and the statistics off the main thread; it goes last, once they have.
    std::unique_ptr<StoreWriter> writer;
    std::unique_ptr<HistoryStore> history;
    std::unique_ptr<IncidentStore> incidents;
    std::unique_ptr<StatsStore> stats;
};

} // namespace zq

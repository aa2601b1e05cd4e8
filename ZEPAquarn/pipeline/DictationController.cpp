#include "pipeline/DictationController.h"

#include "audio/AudioEngine.h"
#include "pipeline/HotkeyTap.h"
#include "pipeline/Paster.h"
#include "pipeline/SettingsDefaults.h"
#include "pipeline/SoundCuePlayer.h"
#include "platform/EscapeKeyGrab.h"
#include "platform/Pasteboard.h"
#include "records/Diagnostics.h"
#include "records/HistoryStore.h"
#include "records/IncidentStore.h"
#include "records/StatsStore.h"
#include "records/StoreWriter.h"
#include "runtime/Log.h"
#include "runtime/Paths.h"
#include "runtime/Settings.h"

#include <QDir>

#include <algorithm>
#include <cmath>

namespace zq {

namespace {

DictationController::DiagnosticsRecorder defaultRecorder(DictationController::DiagnosticsRecorder recorder)
{
    if (recorder)
        return recorder;
    return [](DiagnosticEvent event, const DiagnosticMetadata &metadata) {
        Diagnostics::shared().record(event, metadata);
    };
}

DictationController::CopyFunction defaultCopy(DictationController::CopyFunction copy, platform::Pasteboard *pasteboard)
{
    if (copy)
        return copy;
    if (!pasteboard)
        return [](const QString &) { return false; };
    return [pasteboard](const QString &text) { return DictationController::copyToPasteboard(*pasteboard, text); };
}

QString orUnknown(const QString &value)
{
    return value.isEmpty() ? QStringLiteral("Unknown") : value;
}

} // namespace

DictationController::DictationController(Dependencies dependencies, QObject *parent)
    : QObject(parent), m_loop(dependencies.loop), m_clocks(dependencies.clocks), m_settings(dependencies.settings),
      m_audio(dependencies.audio), m_history(dependencies.history), m_incidents(dependencies.incidents),
      m_stats(dependencies.stats), m_cues(dependencies.cues), m_audioDuringDictation(dependencies.audioDuringDictation),
      m_paster(dependencies.paster), m_microphone(dependencies.microphone), m_eventSource(dependencies.eventSource),
      m_escapeGrab(dependencies.escapeGrab), m_notifications(dependencies.notifications),
      m_makeBackend(std::move(dependencies.makeBackend)),
      m_recoveredTakeTranscriber(dependencies.recoveredTakeTranscriber
                                     ? std::move(dependencies.recoveredTakeTranscriber)
                                     : std::make_shared<RecoveredTakeTranscriber>(m_makeBackend)),
      m_copyRecoveredTranscript(defaultCopy(std::move(dependencies.copyRecoveredTranscript), dependencies.pasteboard)),
      m_cleanup(std::move(dependencies.cleanup)), m_prewarmOpenAI(std::move(dependencies.prewarmOpenAI)),
      m_makePill(std::move(dependencies.makePill)), m_record(defaultRecorder(std::move(dependencies.record))),
      m_announce(std::move(dependencies.announce)), m_appVersion(orUnknown(dependencies.appVersion)),
      m_build(orUnknown(dependencies.build))
{
    Q_ASSERT(m_makeBackend);
    // The listening cue confirms that audio really flows, so it waits for the first buffer.
    m_audio.setOnTakeLive([this, alive = Alive(m_alive)] {
        if (alive.expired() || !m_recording)
            return;
        m_cues.play(SoundCue::listening);
    });
    m_paster.setOnNotFetched([this, alive = Alive(m_alive)](Paster::Leftover leftover) {
        if (!alive.expired())
            settlePaste(leftover == Paster::Leftover::onClipboard ? PasteOutcome::notFetched
                                                                  : PasteOutcome::notFetchedReplaced);
    });
}

DictationController::~DictationController()
{
    m_audio.setOnTakeLive({});
    m_paster.setOnNotFetched({});
    // Nothing more will be known of a paste still awaiting its fetch. Its take is in the history; it is
    // no success either, and nothing reaches the owner of an object half gone.
    m_awaitingFetch.clear();
    m_givenUpPastes.clear();
    m_alive.reset();
    for (auto *task : {&m_audioStartTask, &m_recoveredTranscriptionTask}) {
        if (*task)
            (*task)->cancel();
    }
    cancelTranscriptionTask();
    if (m_currentStartIntent)
        m_currentStartIntent->withdraw();
    for (auto *timer : {&m_failResetTimer, &m_doneFlashTimer, &m_thinkingWatchdog})
        cancelTimer(*timer);
    if (m_tap)
        m_tap->stop();
    if (m_escapeGrab)
        m_escapeGrab->setHeld(false);
}

void DictationController::handleTriggerAction(TriggerAction action)
{
    switch (action) {
    case TriggerAction::start:
        startDictation();
        break;
    case TriggerAction::finish:
        requestFinish();
        break;
    case TriggerAction::cancel:
        cancelDictation();
        break;
    case TriggerAction::none:
        break;
    case TriggerAction::lock:
        if (m_pillState.is(PillState::Kind::listening)) {
            record(DiagnosticEvent::dictationLocked);
            setPillState(PillState::locked());
        }
        break;
    }
}

bool DictationController::ensureHotkeyTapRunning()
{
    if (!m_tapRunning) {
        HotkeyTap *hotkeys = tap();
        setTapRunning(hotkeys && hotkeys->start());
    }
    return m_tapRunning;
}

HotkeyTap *DictationController::tap()
{
    if (!m_tap && m_eventSource) {
        m_tap = std::make_unique<HotkeyTap>(
            *m_eventSource, m_settings, m_loop, m_clocks,
            [this, alive = Alive(m_alive)](TriggerAction action) {
                if (!alive.expired())
                    handleTriggerAction(action);
            },
            [this, alive = Alive(m_alive)](const QString &reason) {
                if (!alive.expired())
                    record(DiagnosticEvent::hotkeyTapDisabled, {{QStringLiteral("reason"), reason}});
            });
    }
    return m_tap.get();
}

PillDisplay *DictationController::pill()
{
    if (!m_pill && m_makePill)
        m_pill = m_makePill();
    return m_pill.get();
}

bool DictationController::isBusy() const
{
    return m_recording || m_audioStartTask || m_transcriptionTask || m_recoveredTranscriptionTask;
}

void DictationController::setTapRunning(bool running)
{
    if (m_tapRunning == running)
        return;
    m_tapRunning = running;
    emit tapRunningChanged(running);
}

void DictationController::setRecoveredTranscriptionState(const RecoveredTranscriptionState &state)
{
    if (m_recoveredTranscriptionState == state)
        return;
    m_recoveredTranscriptionState = state;
    emit recoveredTranscriptionStateChanged();
}

void DictationController::setPillState(const PillState &state)
{
    const bool changed = !(m_pillState == state);
    m_pillState = state;
    ++m_pillTransitions;
    if (PillDisplay *panel = pill())
        panel->update(state);
    // While a take records, Escape is its cancel key and none of the front window's.
    if (m_escapeGrab)
        m_escapeGrab->setHeld(state.is(PillState::Kind::listening) || state.is(PillState::Kind::locked));
    if (changed)
        emit pillStateChanged();
}

void DictationController::record(DiagnosticEvent event, const DiagnosticMetadata &metadata)
{
    m_record(event, metadata);
}

rt::WorkItem DictationController::schedule(rt::Nanos delay, void (DictationController::*body)())
{
    return m_loop.postDelayed(delay, [this, alive = Alive(m_alive), body] {
        if (!alive.expired())
            (this->*body)();
    });
}

void DictationController::cancelTimer(rt::WorkItem &timer)
{
    timer.cancel();
    timer = {};
}

QString DictationController::settingsBackend() const
{
    return m_settings.stringValue(keys::backend);
}

BackendKind DictationController::activeBackendKind() const
{
    return backendKindOf(m_activeBackend.value_or(QString()));
}

QString DictationController::backendOrUnknown() const
{
    return m_activeBackend.value_or(QStringLiteral("unknown"));
}

QString DictationController::attemptSpanMs() const
{
    if (!m_attemptSpan)
        return QStringLiteral("0");
    return QString::number(static_cast<qint64>(*m_attemptSpan * 1000.0));
}

QString DictationController::language() const
{
    return m_settings.stringValue(keys::language);
}

QStringList DictationController::dictionary() const
{
    return m_settings.stringListValue(keys::dictionary);
}

bool DictationController::copyToPasteboard(platform::Pasteboard &pasteboard, const QString &text)
{
    if (text.isEmpty())
        return false;
    pasteboard.setString(text);
    return true;
}

rt::Nanos DictationController::watchdogDelay(double capturedSeconds)
{
    const double scaled = kWatchdogFactor * capturedSeconds;
    if (std::isnan(scaled))
        return kWatchdogFloor;
    return std::max(rt::seconds(scaled), kWatchdogFloor);
}

DictationStores DictationStores::open(const rt::Paths &paths, const rt::Clocks &clocks)
{
    DictationStores stores;
    stores.history = std::make_unique<HistoryStore>(paths.dataDir(), clocks);
    stores.stats = std::make_unique<StatsStore>(paths.dataDir());
    stores.writer = std::make_unique<StoreWriter>();
    stores.history->setWriter(stores.writer.get());
    stores.stats->setWriter(stores.writer.get());
    stores.incidents = std::make_unique<IncidentStore>(QDir(paths.dataDir()).filePath(QStringLiteral("Incidents")));
    return stores;
}

DictationStores::DictationStores() = default;
DictationStores::DictationStores(DictationStores &&) noexcept = default;
DictationStores &DictationStores::operator=(DictationStores &&) noexcept = default;
DictationStores::~DictationStores() = default;

} // namespace zq

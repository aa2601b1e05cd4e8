// Finish of a take: judging what was captured, transcription, cleanup, delivery, return to idle.

#include "pipeline/DictationController.h"

#include "audio/AudioDuringDictationController.h"
#include "audio/AudioEngine.h"
#include "pipeline/HotkeyTap.h"
#include "pipeline/Paster.h"
#include "pipeline/PillNotice.h"
#include "pipeline/SettingsDefaults.h"
#include "pipeline/SoundCuePlayer.h"
#include "pipeline/ZEPAError.h"
#include "platform/SpeechRecognizer.h"
#include "platform/UserNotifications.h"
#include "records/HistoryStore.h"
#include "records/StatsStore.h"
#include "runtime/Clocks.h"
#include "runtime/Log.h"
#include "runtime/Settings.h"
#include "runtime/StartupCleanup.h"
#include "transcription/TranscriptCleanup.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <utility>

namespace zq {

namespace {

QString durationMsSince(const rt::Clocks &clocks, rt::Nanos mark)
{
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(clocks.uptimeNow() - mark);
    return QString::number(std::max<qint64>(elapsed.count(), 0));
}

} // namespace

// The user-facing sentence of a transcription stream's failure.
QString transcriptionErrorText(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const ZEPAError &e) {
        return e.errorDescription();
    } catch (const platform::SpeechRecognizerError &e) {
        return e.error().message;
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
    }
    return QStringLiteral("Transcription failed");
}

void DictationController::requestFinish()
{
    // A finish that belongs to no take (its start already failed, or it was cancelled) must not
    // end anything: it would hide a failure notice and journal a take that never existed.
    if (!m_recording && !m_audioStartTask) {
        qCInfo(lcDictation) << "dictation: finish without a take in flight — ignored";
        return;
    }

    if (m_recording && m_attemptStartedAt)
        m_attemptSpan = double((m_clocks.continuousNow() - *m_attemptStartedAt).count()) / 1e9;
    else
        m_attemptSpan.reset();
    m_recording = false;
    const bool startPending = m_audioStartTask.has_value();
    record(DiagnosticEvent::dictationFinishRequested,
           {{QStringLiteral("audio_start_pending"), startPending ? QStringLiteral("true") : QStringLiteral("false")}});

    if (startPending) {
        record(DiagnosticEvent::audioStartEndedBeforeLive, {{QStringLiteral("intent"), QStringLiteral("finish")},
                                                            {QStringLiteral("attempt_span_ms"), attemptSpanMs()}});
        cancelAudioStart();
        if (!m_attemptSpan || rt::Seconds(*m_attemptSpan) < kAccidentalPress) {
            resetToIdle(true);
            return;
        }
        if (HotkeyTap *hotkeys = tap())
            hotkeys->resetToIdle();
        failDictation(DictationFailure::noAudio());
        return;
    }
    finishDictation();
    // The user's audio comes back once the recogniser has heard that the input ended (the engine's
    // feed resumes ahead of this): reading the output's volume back waits on the sound server. A take
    // begun meanwhile keeps the audio as it is and brings it back itself.
    m_loop.post([this, alive = Alive(m_alive)] {
        if (!alive.expired() && !m_recording)
            m_audioDuringDictation.finish();
    });
}

void DictationController::finishDictation()
{
    const TakeResult result = m_audio.takeResult();
    switch (result.kind()) {
    case TakeResult::Kind::tooShort:
        record(DiagnosticEvent::captureTooShort, {{QStringLiteral("attempt_span_ms"), attemptSpanMs()}});
        cancelTranscriptionTask();
        if (!m_attemptSpan || rt::Seconds(*m_attemptSpan) < kAccidentalPress)
            resetToIdle(true);
        else
            failDictation(DictationFailure::noAudio());
        return;
    case TakeResult::Kind::empty:
        record(DiagnosticEvent::captureEmpty);
        cancelTranscriptionTask();
        failDictation(DictationFailure::noAudio());
        return;
    case TakeResult::Kind::captured:
        break;
    }

    const CapturedTake take = *result.capturedTake();
    m_takeInputLost = take.inputLost;
    record(DiagnosticEvent::captureCompleted,
           {{QStringLiteral("backend"), backendOrUnknown()},
            {QStringLiteral("duration_ms"), QString::number(static_cast<qint64>(take.duration * 1000.0))}});

    const bool fragment = m_attemptSpan && rt::Seconds(take.duration) < kFragmentDuration &&
                          rt::Seconds(*m_attemptSpan - take.duration) > kFragmentGap;
    if (fragment) {
        record(DiagnosticEvent::captureEmpty, {{QStringLiteral("reason"), QStringLiteral("fragment")},
                                               {QStringLiteral("attempt_span_ms"), attemptSpanMs()}});
        QFile::remove(take.url);
        cancelTranscriptionTask();
        failDictation(DictationFailure::noAudio());
        return;
    }

    m_cues.play(SoundCue::captured);
    m_stats.setArmedTake(take.duration);
    setPillState(PillState::thinking());
    armThinkingWatchdog(take.duration);
    m_takeFileURL = take.url;
    // The engine finishes on its own thread meanwhile: reading the clipboard now takes it off the path
    // from the final text to the paste. Queued behind the loop's resumption of the engine's feed, which
    // tells the recogniser that the input ended: the read must not delay that either.
    m_loop.post([this, alive = Alive(m_alive)] {
        if (!alive.expired() && m_pillState.is(PillState::Kind::thinking))
            m_paster.prepare();
    });

    // The on-device engine has been transcribing the streamed buffers since the take began and
    // finishes with the stream, which the engine has just ended.
    if (activeBackendKind() == BackendKind::openai)
        startTranscription(m_makeBackend(rawValue(BackendKind::openai)), AudioSource::file(take.url));
}

void DictationController::startTranscription(std::unique_ptr<TranscriptionBackend> backend, AudioSource source)
{
    const rt::Nanos startMark = m_clocks.uptimeNow();
    record(DiagnosticEvent::transcriptionStarted, {{QStringLiteral("backend"), backendOrUnknown()}});
    // One take has one transcription: a task still running here would be a leftover that could
    // deliver into this take.
    cancelTranscriptionTask();
    m_transcriptionTask =
        rt::spawn(m_loop, runTranscription(m_alive, std::shared_ptr<TranscriptionBackend>(std::move(backend)),
                                           std::move(source), startMark));
}

void DictationController::cancelTranscriptionTask()
{
    if (m_transcriptionTask)
        m_transcriptionTask->cancel();
    m_transcriptionTask.reset();
}

rt::Task<void> DictationController::runTranscription(Alive alive, std::shared_ptr<TranscriptionBackend> backend,
                                                     AudioSource source, rt::Nanos startMark)
{
    // A task cancelled before its first step starts no engine.
    if (alive.expired() || !backend || co_await rt::isCancelled())
        co_return;
    rt::AsyncChannel<TranscriptUpdate> updates = backend->transcribe(std::move(source), language(), dictionary());
    std::exception_ptr failure;
    try {
        while (true) {
            std::optional<TranscriptUpdate> update = co_await updates.next();
            if (alive.expired())
                co_return;
            if (!update)
                break;
            if (!update->isFinal()) {
                m_liveTranscript = update->text;
                continue;
            }
            record(DiagnosticEvent::transcriptionCompleted,
                   {{QStringLiteral("backend"), backendOrUnknown()},
                    {QStringLiteral("duration_ms"), durationMsSince(m_clocks, startMark)}});
            // One take pastes once: anything the engine sends after its final text is dropped.
            updates.cancel();
            co_await completeDictation(alive, update->text);
            co_return;
        }
    } catch (const rt::CancellationError &) {
        co_return;
    } catch (...) {
        failure = std::current_exception();
    }
    if (alive.expired() || co_await rt::isCancelled())
        co_return;

    // The stream ended without a final text: nothing will come, so say so now rather than leave
    // the take thinking until the watchdog gives up.
    const QString text = failure ? transcriptionErrorText(failure) : QStringLiteral("Transcription returned no result");
    record(DiagnosticEvent::transcriptionFailed,
           {{QStringLiteral("backend"), backendOrUnknown()},
            {QStringLiteral("duration_ms"), durationMsSince(m_clocks, startMark)}});
    failDictation(DictationFailure::transcription(text));
}

rt::Task<void> DictationController::completeDictation(Alive alive, QString text)
{
    const QString trimmed = text.trimmed();
    // Told once, after what was heard has been delivered (or when nothing was).
    const bool inputLost = std::exchange(m_takeInputLost, false);
    if (trimmed.isEmpty()) {
        if (inputLost)
            failDictation(DictationFailure::micLost());
        else
            resetToIdle(true);
        m_transcriptionTask.reset();
        discardTakeFile();
        co_return;
    }

    QString delivered = trimmed;
    if (activeBackendKind() != BackendKind::openai && m_cleanup.shouldClean && m_cleanup.clean) {
        const bool enabled = m_settings.boolValue(keys::cleanupEnabled);
        if (m_cleanup.shouldClean(trimmed, enabled)) {
            setPillState(PillState::thinking());
            // Until the paste the text is in no History: a quit during the cleanup keeps it there.
            if (m_takeFileURL)
                m_finishedText = std::pair(*m_takeFileURL, trimmed);
            QString cleaned;
            try {
                cleaned = co_await m_cleanup.clean(trimmed, dictionary());
            } catch (const rt::CancellationError &) {
                co_return;
            } catch (...) {
                // Cleanup never loses a transcript.
                cleaned = trimmed;
            }
            // A watchdog, a cancel or the controller's end while the cleanup ran: this take is
            // over, and nothing may be pasted into whatever window is in front by now.
            if (alive.expired() || co_await rt::isCancelled())
                co_return;
            delivered = cleaned;
        }
    }

    // A paste still awaiting its fetch settles on its own: the paster holds this one back until it has.
    const bool posted = m_paster.paste(delivered);
    // Recorded either way, at once: the text is on the clipboard and stays findable. Named after the
    // take, which a quit that History's save outran leaves behind for the next start.
    m_history.add(delivered, m_takeFileURL ? rt::StartupCleanup::takeID(*m_takeFileURL).value_or(QUuid()) : QUuid());
    watchSave(Store::history);
    // The take's file holds the words until History does on disk, however the paste ends meanwhile.
    if (const std::optional<QString> takeFile = std::exchange(m_takeFileURL, std::nullopt))
        discardTakeFileOnceInHistory(*takeFile);
    m_transcriptionTask.reset();
    if (!posted) {
        pasteRefused();
        co_return;
    }
    // The trigger is free as soon as the text is on its way: the wait for the window's fetch below only
    // decides how the take is told, and a new take meanwhile pastes once this paste is through.
    if (HotkeyTap *hotkeys = tap())
        hotkeys->resetToIdle();
    // The front window fetches the text from this main thread; what only a fetched paste does waits for
    // that, so that a text the window never fetched is told as not inserted. The watchdog must not fire
    // meanwhile.
    cancelTimer(m_thinkingWatchdog);
    const std::optional<double> seconds = m_stats.armedTake();
    m_stats.setArmedTake(std::nullopt);
    const std::uint64_t id = ++m_lastPasteId;
    m_awaitingFetch.push_back(
        PasteAwaitingFetch{id, splitWords(delivered).size(), seconds, inputLost, m_pillTransitions, m_takesBegun});
    // Otherwise the paster ends the wait: with the fetch, or through its not-fetched callback.
    const bool waits = m_paster.whenFetched([this, alive, id] {
        if (!alive.expired())
            settlePaste(PasteOutcome::delivered, id);
    });
    if (!waits)
        settlePaste(PasteOutcome::delivered, id);
}

void DictationController::settlePaste(PasteOutcome outcome, std::optional<std::uint64_t> id)
{
    const auto found = id ? std::find_if(m_awaitingFetch.begin(), m_awaitingFetch.end(),
                                         [&](const PasteAwaitingFetch &p) { return p.id == *id; })
                          : m_awaitingFetch.begin();
    if (found == m_awaitingFetch.end()) {
        if (id && outcome == PasteOutcome::delivered)
            settleLateFetch(*id);
        return;
    }
    PasteAwaitingFetch paste = *found;
    m_awaitingFetch.erase(found);
    const bool shown = paste.pillTransitions == m_pillTransitions;
    if (outcome != PasteOutcome::delivered) {
        record(DiagnosticEvent::pasteFallback);
        // "Press … to insert it" only for the text the clipboard holds; another is only in History.
        const std::optional<PillNotice> notice =
            outcome == PasteOutcome::notFetched
                ? std::nullopt
                : std::optional(PillNotice{QStringLiteral("Transcript not inserted"),
                                           QStringLiteral("The window did not take it. Saved in History. Open "
                                                          "History to copy it."),
                                           true});
        if (shown) {
            failDictation(DictationFailure::pasteBlocked(), notice);
            paste.toldInPill = m_pillTransitions;
            paste.notice = m_lastNotice;
        } else if (paste.takesBegun != m_takesBegun) {
            // A newer take owns the pill, even one refused at its start; this one's words are in the history,
            // and the user must know that they are not in the window.
            paste.notice = postNotice(notice.value_or(pillNotice(DictationFailure::pasteBlocked(), backendOrUnknown(),
                                                                 Paster::chordText(m_paster.lastChord()))));
        }
        {
            // The window may still take it: a paste held back from a window that wakes, or a late fetch.
            constexpr std::size_t kGivenUpKept = 8;
            if (m_givenUpPastes.size() == kGivenUpKept)
                m_givenUpPastes.pop_front();
            m_givenUpPastes.push_back(paste);
        }
        return;
    }
    record(DiagnosticEvent::pasteSucceeded);
    if (paste.seconds) {
        m_stats.countTake(*paste.seconds, paste.words, m_clocks.wallNow());
        watchSave(Store::statistics);
    }
    if (!shown)
        return;
    if (paste.inputLost) {
        // The words are in place; the user still has to know the rest of the take was not heard.
        failDictation(DictationFailure::micLost());
        return;
    }
    setPillState(PillState::done());
    cancelTimer(m_doneFlashTimer);
    m_doneFlashTimer = schedule(kDoneFlash, &DictationController::doneFlashFired);
}

void DictationController::settleLateFetch(std::uint64_t id)
{
    const auto found = std::find_if(m_givenUpPastes.begin(), m_givenUpPastes.end(),
                                    [&](const PasteAwaitingFetch &p) { return p.id == id; });
    if (found == m_givenUpPastes.end())
        return;
    const PasteAwaitingFetch paste = *found;
    m_givenUpPastes.erase(found);
    record(DiagnosticEvent::pasteSucceeded);
    if (paste.seconds) {
        m_stats.countTake(*paste.seconds, paste.words, m_clocks.wallNow());
        watchSave(Store::statistics);
    }
    // A user who followed the notice would paste the text a second time.
    if (!paste.notice.isEmpty() && m_notifications)
        m_notifications->remove(paste.notice);
    if (paste.toldInPill != 0 && paste.toldInPill == m_pillTransitions) {
        cancelTimer(m_failResetTimer);
        resetToIdle(false);
    }
}

void DictationController::pasteRefused()
{
    record(DiagnosticEvent::pasteFallback);
    failDictation(DictationFailure::pasteBlocked());
}

QString DictationController::postNotice(const PillNotice &notice)
{
    m_lastNotice.clear();
    if (!m_notifications)
        return {};
    platform::UserNotifications *center = m_notifications;
    m_lastNotice = newNotificationIdentifier();
    center->requestAuthorization([center, notice, identifier = m_lastNotice](bool granted) {
        postUserNotification(granted, notice, *center, identifier);
    });
    return m_lastNotice;
}

void DictationController::armThinkingWatchdog(double capturedSeconds)
{
    cancelTimer(m_thinkingWatchdog);
    m_thinkingWatchdog = schedule(watchdogDelay(capturedSeconds), &DictationController::thinkingWatchdogFired);
}

void DictationController::thinkingWatchdogFired()
{
    m_thinkingWatchdog = {};
    if (m_pillState.is(PillState::Kind::thinking))
        failDictation(DictationFailure::timedOut());
}

void DictationController::doneFlashFired()
{
    m_doneFlashTimer = {};
    if (m_pillState.is(PillState::Kind::done)) {
        m_activeBackend.reset();
        setPillState(PillState::hidden());
    }
}

void DictationController::resetToIdle(bool resetTrigger)
{
    m_paster.forgetPrepared();
    m_audioDuringDictation.finish();
    m_activeBackend.reset();
    m_attemptSpan.reset();
    m_stats.setArmedTake(std::nullopt);
    cancelTimer(m_thinkingWatchdog);
    if (!m_pillState.is(PillState::Kind::hidden))
        setPillState(PillState::hidden());
    if (resetTrigger) {
        if (HotkeyTap *hotkeys = tap())
            hotkeys->resetToIdle();
    }
}

void DictationController::discardTakeFile()
{
    if (m_takeFileURL)
        QFile::remove(*m_takeFileURL);
    m_takeFileURL.reset();
}

void DictationController::discardTakeFileOnceInHistory(const QString &takeFile)
{
    // On the writer's thread when History has one, which also runs this as it ends at quit.
    m_history.whenOnDisk([takeFile] { QFile::remove(takeFile); });
}

void DictationController::watchSave(Store store)
{
    // The outcome comes on the writer's thread, which may outlive the controller but not the loop.
    auto told = [loop = &m_loop, alive = Alive(m_alive), this, store](bool onDisk) {
        loop->post([alive, this, store, onDisk] {
            if (!alive.expired())
                noteSave(store, onDisk);
        });
    };
    if (store == Store::history)
        m_history.whenSaved(std::move(told));
    else
        m_stats.whenSaved(std::move(told));
}

void DictationController::noteSave(Store store, bool onDisk)
{
    const bool anyUnsaved = m_historyUnsaved || m_statisticsUnsaved;
    (store == Store::history ? m_historyUnsaved : m_statisticsUnsaved) = !onDisk;
    if (onDisk || anyUnsaved)
        return;
    const QString folder = QFileInfo(m_history.filePath()).absolutePath();
    qCWarning(lcDictation).noquote() << "dictation:" << (store == Store::history ? "History" : "the statistics")
                                     << "cannot be saved in" << folder << "— told the user";
    postNotice(storeNotSavedNotice(store == Store::history ? QStringLiteral("history") : QStringLiteral("statistics"),
                                   folder));
}

} // namespace zq

// The start of a take: permission, the audio start task and its completion.

#include "pipeline/DictationController.h"

#include "audio/AudioDuringDictationController.h"
#include "audio/AudioEngine.h"
#include "pipeline/SettingsDefaults.h"
#include "platform/MicrophonePermission.h"
#include "runtime/Clocks.h"
#include "runtime/Log.h"

#include <algorithm>
#include <chrono>

namespace zq {

void DictationController::startDictation()
{
    // Before the busy test, so that even a refused start removes both timers.
    cancelTimer(m_failResetTimer);
    cancelTimer(m_doneFlashTimer);
    if (isBusy())
        return;
    ++m_takesBegun;

    setRecoveredTranscriptionState(RecoveredTranscriptionState::idle());
    record(DiagnosticEvent::dictationRequested, {{QStringLiteral("backend"), settingsBackend()}});
    m_liveTranscript.clear();

    switch (m_microphone.authorizationStatus()) {
    case platform::MicrophoneAuthorization::notDetermined:
        // The take does not wait for the answer; the next start finds it.
        m_microphone.requestAccess({});
        failDictation(DictationFailure::micPermissionUndetermined());
        return;
    case platform::MicrophoneAuthorization::denied:
    case platform::MicrophoneAuthorization::restricted:
        failDictation(DictationFailure::micPermissionDenied());
        return;
    case platform::MicrophoneAuthorization::authorized:
        break;
    }

    m_recording = true;
    m_audioDuringDictation.begin(readAudioDuringDictationMode(m_settings));
    m_attemptStartedAt = m_clocks.continuousNow();
    m_activeBackend = settingsBackend();
    const bool openAI = activeBackendKind() == BackendKind::openai;
    if (openAI && m_prewarmOpenAI)
        m_prewarmOpenAI();
    m_audio.resetMeter();
    setPillState(PillState::listening());

    const rt::Nanos startMark = m_clocks.uptimeNow();
    record(DiagnosticEvent::audioStartBegan, {{QStringLiteral("backend"), backendOrUnknown()}});
    const std::uint64_t generation = ++m_audioStartGeneration;
    m_currentStartIntent = std::make_shared<TakeStartIntent>();
    // Every engine but the OpenAI one is the on-device one, which transcribes while the user speaks
    // and so needs the buffers streamed.
    const TakeMode mode = openAI ? TakeMode::fileOnly : TakeMode::streamed;
    m_audioStartTask = rt::spawn(m_loop, runAudioStart(m_alive, generation, m_currentStartIntent, mode, startMark));
}

rt::Task<void> DictationController::runAudioStart(Alive alive, std::uint64_t generation,
                                                  std::shared_ptr<TakeStartIntent> intent, TakeMode mode,
                                                  rt::Nanos startMark)
{
    // Spawned tasks first run a loop turn later: the controller may be gone by then.
    if (alive.expired())
        co_return;
    bool withdrawn = false;
    try {
        // Awaited directly: the engine beginning the take and the controller learning of it
        // happen in one turn of the loop, so no action can slip in between.
        withdrawn = co_await m_audio.start(mode, true, std::move(intent));
    } catch (const rt::CancellationError &) {
        co_return; // only the controller's end cancels this task
    } catch (...) {
        if (alive.expired())
            co_return;
        audioStartFailed(generation);
        co_return;
    }
    if (alive.expired())
        co_return;
    handleAudioStarted(generation, withdrawn, startMark);
}

void DictationController::handleAudioStarted(std::uint64_t generation, bool withdrawn, rt::Nanos startMark)
{
    if (generation != m_audioStartGeneration) {
        // A withdrawn start never begins a take; should one begin anyway, nobody owns it.
        if (!withdrawn && m_audio.takePhase().kind() == TakePhase::Kind::live) {
            qCWarning(lcDictation) << "dictation: a withdrawn start began a take — discarding it";
            m_audio.discardTake();
        }
        return;
    }
    m_audioStartTask.reset();
    m_currentStartIntent.reset();
    if (withdrawn)
        return;

    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(m_clocks.uptimeNow() - startMark);
    record(DiagnosticEvent::audioStartCompleted,
           {{QStringLiteral("duration_ms"), QString::number(std::max<qint64>(elapsed.count(), 0))}});

    const QString backend = m_activeBackend.value_or(rawValue(BackendKind::local));
    if (backendKindOf(backend) == BackendKind::openai)
        return;
    const auto buffers = m_audio.buffers();
    if (!buffers)
        return;
    platform::AudioFormat format;
    format.sampleRate = 48000;
    format.channelCount = 1;
    format = m_audio.captureFormat().value_or(format);
    startTranscription(m_makeBackend(backend), AudioSource::stream(*buffers, format));
}

void DictationController::audioStartFailed(std::uint64_t generation)
{
    if (generation != m_audioStartGeneration)
        return;
    m_audioStartTask.reset();
    m_currentStartIntent.reset();
    m_recording = false;
    failDictation(DictationFailure::micUnavailable());
}

void DictationController::cancelAudioStart()
{
    if (m_currentStartIntent)
        m_currentStartIntent->withdraw();
    m_currentStartIntent.reset();
    ++m_audioStartGeneration;
    // Not cancelled: the engine sees the withdrawn intent, and the generation makes its late
    // completion a no-op.
    m_audioStartTask.reset();
}

} // namespace zq

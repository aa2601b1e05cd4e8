// The engine's asynchronous steps: starting a take on a warm or fresh session, the start attempt
// with its proof, rebuild and built-in fallback, the pre-warm, and the rebuild of a running take.

#include "audio/AudioCaptureError.h"
#include "audio/AudioEngine.h"
#include "audio/BoundedHALExecutor.h"
#include "audio/HALOperationError.h"
#include "audio/StartFailurePhase.h"
#include "audio/TapPollPause.h"
#include "pipeline/SettingsDefaults.h"
#include "records/DiagnosticEvent.h"
#include "runtime/Log.h"
#include "runtime/Settings.h"

#include <algorithm>
#include <cmath>

namespace zq {

namespace {

bool isHALTimeout(const std::exception_ptr &error)
{
    if (!error)
        return false;
    try {
        std::rethrow_exception(error);
    } catch (const HALOperationError &) {
        return true;
    } catch (...) {
        return false;
    }
}

QString formatDescription(const platform::AudioFormat &format)
{
    return QStringLiteral("%1 Hz, %2 ch, %3")
        .arg(format.sampleRate, 0, 'f', 0)
        .arg(format.channelCount)
        .arg(format.commonFormat == platform::AudioFormat::CommonFormat::int16 ? QStringLiteral("int16")
                                                                               : QStringLiteral("float32"));
}

const QString kStartupRebuild = QStringLiteral("startup_rebuild");
const QString kBuiltInFallback = QStringLiteral("builtin_fallback");

} // namespace

QString describeError(const std::exception_ptr &error)
{
    if (!error)
        return QStringLiteral("no error");
    try {
        std::rethrow_exception(error);
    } catch (const AudioCaptureError &e) {
        return e.errorDescription();
    } catch (const PhasedStartError &e) {
        return e.errorDescription();
    } catch (const HALOperationError &) {
        return HALOperationError::errorDescription();
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("unknown error");
    }
}

StartFailurePhase startFailurePhaseOf(const std::exception_ptr &error)
{
    if (!error)
        return StartFailurePhase::unknown;
    try {
        std::rethrow_exception(error);
    } catch (const HALOperationError &) {
        return StartFailurePhase::halTimeout;
    } catch (const PhasedStartError &e) {
        return isHALTimeout(e.underlying()) ? StartFailurePhase::halTimeout : e.phase();
    } catch (const AudioCaptureError &e) {
        if (e.domain() == audioErrorDomain::audioTap)
            return StartFailurePhase::tap;
        if (e.domain() == audioErrorDomain::app) {
            switch (e.code()) {
            case 2:
                return StartFailurePhase::start;
            case 3:
                return StartFailurePhase::tap;
            case 4:
            case 6:
                return StartFailurePhase::engineCreate;
            case 5:
                return StartFailurePhase::bind;
            default:
                return StartFailurePhase::unknown;
            }
        }
        if (e.domain() == audioErrorDomain::serverStatus)
            return StartFailurePhase::bind;
        return StartFailurePhase::unknown;
    } catch (...) {
        return StartFailurePhase::unknown;
    }
}

// Awaiters here are always named locals: g++ 12 can destroy temporaries of a co_await
// expression twice. They resume their task only while the engine exists (m_alive).

// A call through the HAL executor that counts itself as in flight until its resumption is on the
// loop.
template <typename F, typename Late = detail::NoLateResultHandler>
static auto guardedCall(BoundedHALExecutor &executor, const std::shared_ptr<int> &alive,
                        const std::shared_ptr<std::atomic<int>> &inFlight, F operation, Late onLateResult = {})
{
    return detail::BoundedCallAwaiter<F, Late>(executor, AudioEngine::kAudioServerDeadline, std::move(operation),
                                               std::move(onLateResult), detail::CallOwnerGuard{alive, inFlight});
}

rt::Task<bool> AudioEngine::start(TakeMode mode, bool allowRescueFallback, std::shared_ptr<TakeStartIntent> intent)
{
    static constexpr const char *at = "start(mode:allowRescueFallback:intent:)";

    // 1-2. Another start owns the session: wait for it, unless this take stops being wanted.
    while (m_takePhase.kind() == TakePhase::Kind::starting) {
        if (!intent->isActive())
            co_return true;
        auto pause = rt::sleepFor(rt::seconds(kWaitPoll), m_alive);
        co_await pause;
    }
    if (!intent->isActive())
        co_return true;

    // 3.
    transition(TakeLifecycleEvent::startClaimed(), at);
    m_graceTimer.cancel();
    m_graceTimer = {};

    // 4.
    const QString preference = preferredInput();
    std::optional<platform::AudioDeviceId> resolved;
    std::exception_ptr error;
    try {
        resolved = co_await resolveOnExecutor(preference);
    } catch (...) {
        error = std::current_exception();
    }
    if (error) {
        endFailedStart(at);
        std::rethrow_exception(error);
    }

    // 5-6.
    const bool reuse = co_await warmSessionReusable(preference, resolved);

    // 7.
    if (!reuse) {
        teardownSession();
        m_holdStartAudio = true;
        try {
            co_await openSessionWithRetry(preference, resolved, allowRescueFallback, true);
        } catch (...) {
            error = std::current_exception();
        }
        if (error) {
            endFailedStart(at);
            std::rethrow_exception(error);
        }
    }

    // 8.
    co_return claimIntent(*intent, mode, at);
}

rt::Task<bool> AudioEngine::warmSessionReusable(QString prefUID, std::optional<platform::AudioDeviceId> resolved)
{
    // Only a session on the resolved device is a candidate; any other case starts fresh without a word.
    if (!m_core || !m_sessionRouteHint || !resolved || *m_sessionRouteHint != *resolved)
        co_return false;
    std::optional<double> age;
    if (const auto lastTap = lastTapInstantOfActiveSession())
        age = double((m_clocks.continuousNow() - *lastTap).count()) / 1e9;
    if (!age || *age > kWarmFreshness) {
        const QString shown = age ? QStringLiteral("%1s").arg(*age, 0, 'f', 2) : QStringLiteral("never");
        qCWarning(lcAudio).noquote()
            << QStringLiteral("start: warm session stale (tap silent for %1) — rebuilding").arg(shown);
        co_return false;
    }
    bool onRoute = false;
    try {
        onRoute = co_await sessionStillOnRoute(prefUID, resolved);
    } catch (...) {
        onRoute = false;
    }
    if (!onRoute) {
        qCWarning(lcAudio) << "start: warm session drifted off the selected physical route — rebuilding";
        co_return false;
    }
    qCInfo(lcAudio).noquote() << QStringLiteral("start: reusing warm session (device %1) — no new mic claim")
                                     .arg(m_sessionRouteHint.value_or(0));
    co_return true;
}

bool AudioEngine::claimIntent(TakeStartIntent &intent, TakeMode mode, const char *at)
{
    m_holdStartAudio = false;
    if (intent.consume()) {
        std::exception_ptr error;
        try {
            beginTake(mode);
        } catch (...) {
            error = std::current_exception();
        }
        dropHeldAudio();
        transition(TakeLifecycleEvent::startEnded(m_core != nullptr), at);
        if (error)
            std::rethrow_exception(error);
        return false;
    }
    dropHeldAudio();
    qCInfo(lcAudio) << "session became ready after its take intent ended — keeping it warm without beginning a take";
    scheduleGraceRelease(QStringLiteral("ended attempt warm session"), kEndedIntentWarmKeep);
    transition(TakeLifecycleEvent::startEnded(m_core != nullptr), at);
    return true;
}

void AudioEngine::endFailedStart(const char *at)
{
    m_holdStartAudio = false;
    dropHeldAudio();
    // Nobody owns a session that a failed start leaves behind (its grace timer was cancelled when
    // the start claimed it), so release the microphone rather than keep it open indefinitely.
    teardownSession();
    transition(TakeLifecycleEvent::startEnded(m_core != nullptr), at);
}

rt::Task<std::optional<platform::AudioDeviceId>> AudioEngine::resolveOnExecutor(QString prefUID)
{
    auto call = guardedCall(m_halExecutor, m_alive, m_halInFlight, [hardware = &m_hardware, prefUID] {
        return AudioInputDevice::resolve(*hardware, prefUID);
    });
    co_return co_await call;
}

rt::Task<std::optional<AudioInputDevice>>
AudioEngine::builtInOnExecutor(std::optional<platform::AudioDeviceId> excluding)
{
    auto call = guardedCall(m_halExecutor, m_alive, m_halInFlight, [hardware = &m_hardware, excluding] {
        return builtInFallbackDevice(*hardware, excluding);
    });
    co_return co_await call;
}

rt::Task<void> AudioEngine::openSessionWithRetry(QString prefUID, std::optional<platform::AudioDeviceId> resolved,
                                                 bool allowRescueFallback, bool recordDiagnostics)
{
    const rt::Nanos t0 = m_clocks.continuousNow();
    for (int attempt = 1;; ++attempt) {
        std::exception_ptr error;
        try {
            co_await startAttempt(prefUID, resolved, allowRescueFallback);
            co_return;
        } catch (...) {
            error = std::current_exception();
        }
        if (recordDiagnostics) {
            const auto elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(m_clocks.continuousNow() - t0);
            record(DiagnosticEvent::audioStartFailed,
                   {{QStringLiteral("attempt"), QString::number(attempt)},
                    {QStringLiteral("will_retry"), attempt < 2 ? QStringLiteral("true") : QStringLiteral("false")},
                    {QStringLiteral("duration_ms"), QString::number(std::max<std::int64_t>(0, elapsedMs.count()))},
                    {QStringLiteral("phase"), rawValue(startFailurePhaseOf(error))}});
        }
        if (attempt >= 2)
            std::rethrow_exception(error);
        qCWarning(lcAudio).noquote() << QStringLiteral("start failed (attempt %1, %2) — one bounded retry")
                                            .arg(attempt)
                                            .arg(describeError(error));
        // A silent session that the attempt left open must not hold the microphone into the retry.
        teardownSession();
        try {
            auto pause = rt::sleepFor(rt::seconds(kRetryPause), m_alive);
            co_await pause;
        } catch (const rt::CancellationError &) {
            // A cut-short pause is not an error: retry at once.
        }
        try {
            if (const auto again = co_await resolveOnExecutor(prefUID))
                resolved = again;
        } catch (...) {
            // Keep the previous device.
        }
    }
}

rt::Task<void> AudioEngine::startAttempt(QString prefUID, std::optional<platform::AudioDeviceId> resolved,
                                         bool allowRescueFallback)
{
    // 1.
    m_recovery.startupAttempts = 0;
    QString targetPref = prefUID;
    std::optional<platform::AudioDeviceId> targetID = resolved;
    QString mode = kStartupRebuild;

    // 2.
    if (allowRescueFallback && resolved && m_knownSilentDevice && *m_knownSilentDevice == *resolved) {
        if (const auto device = co_await builtInOnExecutor(resolved)) {
            qCWarning(lcAudio).noquote()
                << QStringLiteral("skipping known-silent device — starting directly on %1").arg(device->name);
            targetPref = kSystemDefaultInputPreference;
            targetID = device->id;
            mode = kBuiltInFallback;
        }
    }

    for (;;) {
        // 3.
        const int n = ++m_recovery.startupAttempts;
        const UsedTarget used = co_await startSessionFallingBackToSystemDefault(targetPref, targetID);

        // 4.
        const bool live = co_await provedLive(used);
        std::optional<AudioInputDevice> fallback;
        if (n == 2 && !live && allowRescueFallback)
            fallback = co_await builtInOnExecutor(resolved);

        // 5.
        const int c = m_recovery.startupAttempts;
        const auto metadata = [](int attempt, const QString &recoveryMode) {
            return DiagnosticMetadata{{QStringLiteral("attempt"), QString::number(attempt)},
                                      {QStringLiteral("mode"), recoveryMode}};
        };
        if (live) {
            updateKnownSilentDevice(targetID, resolved);
            if (n > 1 || mode == kBuiltInFallback) {
                record(DiagnosticEvent::audioRecoveryCompleted, metadata(n, mode));
                qCInfo(lcAudio).noquote() << QStringLiteral("startup recovery verified: input tap is live on %1")
                                                 .arg(m_boundDeviceName.value_or(QStringLiteral("?")));
            }
            co_return;
        }
        if (c < 2) {
            record(DiagnosticEvent::audioRecoveryStarted, metadata(n, mode));
            qCWarning(lcAudio) << "session start returned but input tap stayed silent — rebuilding once";
            teardownSession();
            continue;
        }
        if (c == 2 && fallback) {
            record(DiagnosticEvent::audioRecoveryStarted, metadata(n, kBuiltInFallback));
            qCWarning(lcAudio).noquote()
                << QStringLiteral("target device never delivered — falling back to %1").arg(fallback->name);
            teardownSession();
            targetPref = kSystemDefaultInputPreference;
            targetID = fallback->id;
            mode = kBuiltInFallback;
            continue;
        }
        auto failed = metadata(n, mode);
        failed.insert(QStringLiteral("reason"), QStringLiteral("tap_never_live"));
        record(DiagnosticEvent::audioRecoveryFailed, failed);
        qCWarning(lcAudio) << "no session (including any built-in fallback) delivered input buffers";
        teardownSession();
        throw AudioCaptureError(audioErrorDomain::app, 3, QStringLiteral("Microphone started but delivered no audio"));
    }
}

rt::Task<bool> AudioEngine::provedLive(UsedTarget used)
{
    if (!co_await waitForFirstBuffer())
        co_return false;
    bool live = false;
    try {
        live = co_await sessionStillOnRoute(used.prefUID, used.resolved);
    } catch (...) {
        live = false;
    }
    if (!live)
        qCWarning(lcAudio) << "input tap became live on a route other than the selected microphone — rebuilding";
    co_return live;
}

// After a live start: compares the target's id with the device asked for (`resolved`); a start that went
// live on another device marks `resolved` as silent.
void AudioEngine::updateKnownSilentDevice(std::optional<platform::AudioDeviceId> targetID,
                                          std::optional<platform::AudioDeviceId> resolved)
{
    if (targetID && resolved) {
        if (*targetID != *resolved)
            m_knownSilentDevice = resolved;
    } else if (targetID && !resolved) {
        m_knownSilentDevice.reset();
    } else if (!targetID && resolved) {
        m_knownSilentDevice = resolved;
    }
}

rt::Task<AudioEngine::UsedTarget>
AudioEngine::startSessionFallingBackToSystemDefault(QString prefUID, std::optional<platform::AudioDeviceId> resolved)
{
    std::exception_ptr first;
    try {
        co_await startSession(prefUID, resolved);
        co_return UsedTarget{prefUID, resolved};
    } catch (...) {
        first = std::current_exception();
    }
    teardownSession();

    std::optional<platform::AudioDeviceId> defaultDevice;
    auto readDefault = guardedCall(m_halExecutor, m_alive, m_halInFlight, [hardware = &m_hardware] {
        return AudioInputDevice::systemDefaultInputDevice(*hardware);
    });
    try {
        defaultDevice = co_await readDefault;
    } catch (...) {
        defaultDevice.reset();
    }
    if (prefUID != kSystemDefaultInputPreference && defaultDevice && defaultDevice != resolved) {
        qCWarning(lcAudio).noquote() << QStringLiteral(
                                            "session start failed on pinned device (%1) — retrying on system default")
                                            .arg(describeError(first));
        std::exception_ptr second;
        try {
            co_await startSession(kSystemDefaultInputPreference, defaultDevice);
            co_return UsedTarget{kSystemDefaultInputPreference, defaultDevice};
        } catch (...) {
            second = std::current_exception();
        }
        teardownSession();
        std::rethrow_exception(second);
    }
    std::rethrow_exception(first);
}

rt::Task<void> AudioEngine::startSession(QString prefUID, std::optional<platform::AudioDeviceId> resolved)
{
    const auto kind = captureCoreKind(m_settings.stringValue(keys::captureCore));
    // A session that is still open would be replaced without being stopped.
    teardownSession();

    std::shared_ptr<CaptureCore> core = m_makeCore ? m_makeCore(kind) : nullptr;
    if (!core)
        throw AudioCaptureError(audioErrorDomain::app, 4, QStringLiteral("The capture core could not be made"));

    // Every session start gets its own generation, so buffers of a start that missed its deadline
    // or was abandoned can never count for the session that follows.
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(m_cells->generationLock);
        generation = ++m_cells->activeGeneration;
    }
    {
        // A start's rebuild or fallback holds only what its newest session delivers.
        std::lock_guard lock(m_cells->takeIOLock);
        m_cells->held.reset();
        if (m_holdStartAudio)
            m_cells->held = HeldAudio{generation, m_clocks.continuousNow(), {}, 0, {}};
    }
    CaptureTapCallback tap = [cells = m_cells, generation](const platform::SharedPCMBuffer &buffer,
                                                           const CaptureTime &) {
        handleTapBuffer(cells, generation, buffer);
    };
    CaptureRecoveryCallback onRecoveryNeeded = [loop = &m_loop, alive = std::weak_ptr<int>(m_alive), engine = this] {
        loop->post([alive, engine] {
            if (alive.lock())
                engine->spawnTask(engine->handleConfigurationChange());
        });
    };

    auto call = guardedCall(
        m_halExecutor, m_alive, m_halInFlight,
        [core, prefUID, resolved, tap, onRecoveryNeeded] {
            return core->start(prefUID, resolved, tap, onRecoveryNeeded);
        },
        // Came back after its deadline: nobody owns this capture, so release it.
        [core](CaptureCoreSetup) { core->stop(); });
    CaptureCoreSetup setup;
    std::exception_ptr error;
    try {
        setup = co_await call;
    } catch (...) {
        error = std::current_exception();
    }
    if (error) {
        // A start that failed part-way may hold a half-built capture; one that timed out is still
        // running on the abandoned queue and is stopped by its late-result handler instead.
        if (!isHALTimeout(error))
            core->stop();
        std::rethrow_exception(error);
    }

    bool superseded = false;
    {
        std::lock_guard lock(m_cells->generationLock);
        superseded = m_cells->activeGeneration != generation;
    }
    if (superseded) {
        core->stop();
        throw AudioCaptureError(audioErrorDomain::app, 2,
                                QStringLiteral("The capture session was replaced while it opened"));
    }

    m_core = core;
    m_coreKind = kind;
    m_sessionRouteHint = setup.boundDevice;
    m_boundDeviceName = setup.boundDeviceName;
    m_sessionTransport = setup.transport;
    qCInfo(lcAudio).noquote() << QStringLiteral("session: bound %1 via %2 core, format=%3")
                                     .arg(setup.boundDeviceName.value_or(QStringLiteral("?")), captureCoreName(kind),
                                          formatDescription(setup.format));
}

rt::Task<bool> AudioEngine::waitForFirstBuffer()
{
    const double limit =
        (m_sessionTransport == InputTransport::bluetooth || m_sessionTransport == InputTransport::continuity)
            ? kSlowFirstBufferLimit
            : kFirstBufferLimit;
    const rt::Nanos begun = m_clocks.continuousNow();
    while (double((m_clocks.continuousNow() - begun).count()) / 1e9 < limit) {
        if (lastTapInstantOfActiveSession())
            co_return true;
        // The buffer that proves the session ends the pause, so the take begins as it arrives.
        auto pause = detail::TapPollPause(rt::seconds(kWaitPoll), m_alive, [this](detail::TapPollPause::Wake wake) {
            armFirstTapWake(std::move(wake));
        });
        co_await pause;
    }
    co_return lastTapInstantOfActiveSession().has_value();
}

void AudioEngine::armFirstTapWake(std::function<void()> wake)
{
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(m_cells->generationLock);
        generation = m_cells->activeGeneration;
    }
    {
        std::lock_guard lock(m_cells->lastTapLock);
        if (!m_cells->lastTapFire || m_cells->lastTapFire->first != generation) {
            m_cells->firstTapWake = std::move(wake);
            return;
        }
    }
    wake(); // it came between the look and the pause
}

rt::Task<bool> AudioEngine::sessionStillOnRoute(QString prefUID, std::optional<platform::AudioDeviceId> expected)
{
    if (!m_core || !expected)
        co_return false;
    const bool inspectAggregate = prefUID == kSystemDefaultInputPreference;
    auto call = guardedCall(m_halExecutor, m_alive, m_halInFlight,
                            [core = m_core, inspectAggregate] { return core->inspectRoute(inspectAggregate); });
    const CaptureRouteInspection route = co_await call;
    if (route.boundDevice == expected)
        co_return true;
    co_return inspectAggregate &&route.activeAggregateSubdevices.count(*expected) > 0;
}

rt::Task<void> AudioEngine::prewarm(QString prefUID, std::optional<platform::AudioDeviceId> resolved)
{
    static constexpr const char *at = "inputPreferenceChanged(trigger:)";
    std::exception_ptr error;
    try {
        co_await openSessionWithRetry(prefUID, resolved, true, false);
    } catch (...) {
        error = std::current_exception();
    }
    if (!error) {
        const QString name = m_boundDeviceName.value_or(QStringLiteral("id %1").arg(m_sessionRouteHint.value_or(0)));
        qCInfo(lcAudio).noquote() << QStringLiteral("pre-warmed session on %1 — next take starts instantly").arg(name);
        scheduleGraceRelease(QStringLiteral("pre-warm unused"), kUnusedPrewarmKeep);
    } else {
        teardownSession();
        qCWarning(lcAudio).noquote()
            << QStringLiteral("pre-warm failed (%1) — will arm at next take").arg(describeError(error));
    }
    transition(TakeLifecycleEvent::startEnded(m_core != nullptr), at);
}

rt::Task<void> AudioEngine::handleConfigurationChange()
{
    if (!m_core)
        co_return;
    const auto kind = m_takePhase.kind();
    if (kind != TakePhase::Kind::live) {
        const bool starting = kind == TakePhase::Kind::starting;
        record(DiagnosticEvent::audioConfigurationChanged,
               {{QStringLiteral("take_active"), QStringLiteral("false")},
                {QStringLiteral("take_starting"), starting ? QStringLiteral("true") : QStringLiteral("false")}});
        if (starting) {
            qCInfo(lcAudio) << "config change during take start — keeping the session";
            co_return;
        }
        qCInfo(lcAudio) << "config change while grace-idle — releasing session";
        teardownSession();
        co_return;
    }
    if (m_recovery.recovering) {
        record(DiagnosticEvent::audioConfigurationChanged,
               {{QStringLiteral("take_active"), QStringLiteral("true")},
                {QStringLiteral("disposition"), QStringLiteral("coalesced")}});
        qCInfo(lcAudio) << "config change while a recovery already owns the take — coalescing";
        co_return;
    }
    if (m_recovery.recoveriesUsed < kRecoveriesPerTake) {
        const int attempt = ++m_recovery.recoveriesUsed;
        m_recovery.recovering = true;
        record(DiagnosticEvent::audioConfigurationChanged,
               {{QStringLiteral("take_active"), QStringLiteral("true")},
                {QStringLiteral("disposition"), QStringLiteral("rebuild")}});
        co_await recoverSession(attempt, QStringLiteral("rebuild"), QStringLiteral("config_change"));
        scheduleRecoveryCheck();
        co_return;
    }
    record(DiagnosticEvent::audioConfigurationChanged,
           {{QStringLiteral("take_active"), QStringLiteral("true")},
            {QStringLiteral("disposition"), QStringLiteral("recovery_limit")}});
    record(DiagnosticEvent::audioRecoveryFailed,
           {{QStringLiteral("attempt"), QString::number(m_recovery.recoveriesUsed)},
            {QStringLiteral("mode"), QStringLiteral("config_change")},
            {QStringLiteral("reason"), QStringLiteral("recovery_limit")}});
    qCWarning(lcAudio).noquote() << QStringLiteral(
                                        "config change — exceeded %1 recoveries this take; letting take end naturally")
                                        .arg(kRecoveriesPerTake);
}

rt::Task<void> AudioEngine::recoverSession(int attempt, QString mode, std::optional<QString> reason)
{
    DiagnosticMetadata metadata{{QStringLiteral("attempt"), QString::number(attempt)}, {QStringLiteral("mode"), mode}};
    if (reason)
        metadata.insert(QStringLiteral("reason"), *reason);
    record(DiagnosticEvent::audioRecoveryStarted, metadata);
    teardownSession();

    const QString preference = preferredInput();
    std::exception_ptr error;
    try {
        const auto resolved = co_await resolveOnExecutor(preference);
        co_await startSession(preference, resolved);
    } catch (...) {
        error = std::current_exception();
    }
    if (!error) {
        record(DiagnosticEvent::audioRecoveryCompleted, metadata);
        m_takeInputLost = false;
        co_return;
    }
    record(DiagnosticEvent::audioRecoveryFailed, metadata);
    // Once the take has ended, whatever session is open belongs to the next start, not to us.
    if (m_takePhase.kind() == TakePhase::Kind::live) {
        teardownSession();
        // No input could be opened in its place: unless a later rebuild finds one, the take ends
        // with what was heard so far, and the controller tells the user why.
        m_takeInputLost = true;
    }
    qCWarning(lcAudio).noquote() << QStringLiteral("session rebuild failed: %1").arg(describeError(error));
}

rt::Task<void> AudioEngine::recoverThenVerify(int attempt, QString mode, QString reason)
{
    co_await recoverSession(attempt, mode, reason);
    scheduleRecoveryCheck();
}

void AudioEngine::scheduleRecoveryCheck()
{
    m_recoveryCheckTimer.cancel();
    std::int64_t firesBefore = 0;
    {
        std::lock_guard lock(m_cells->firesLock);
        firesBefore = m_cells->fires;
    }
    m_recoveryCheckTimer = m_loop.postDelayed(rt::seconds(kRecoveryVerificationDelay),
                                              [alive = std::weak_ptr<int>(m_alive), engine = this, firesBefore] {
                                                  if (alive.lock())
                                                      engine->verifyRecovery(firesBefore);
                                              });
}

void AudioEngine::verifyRecovery(std::int64_t firesBefore)
{
    m_recoveryCheckTimer = {};
    if (m_takePhase.kind() != TakePhase::Kind::live) {
        m_recovery.recovering = false;
        return;
    }
    std::int64_t firesNow = 0;
    {
        std::lock_guard lock(m_cells->firesLock);
        firesNow = m_cells->fires;
    }
    m_recovery.recovering = false;
    if (firesNow != firesBefore) {
        qCInfo(lcAudio).noquote()
            << QStringLiteral("recovery verified: tap fires %1 -> %2").arg(firesBefore).arg(firesNow);
        return;
    }
    if (m_recovery.recoveriesUsed < kRecoveriesPerTake) {
        const int attempt = ++m_recovery.recoveriesUsed;
        m_recovery.recovering = true;
        qCWarning(lcAudio).noquote()
            << QStringLiteral("recovery dead (tap fires stuck at %1) — forcing session rebuild (recovery #%2)")
                   .arg(firesBefore)
                   .arg(attempt);
        spawnTask(recoverThenVerify(attempt, QStringLiteral("rebuild"), QStringLiteral("verification_dead")));
        return;
    }
    m_takeInputLost = true;
    record(DiagnosticEvent::audioRecoveryFailed,
           {{QStringLiteral("attempt"), QString::number(m_recovery.recoveriesUsed)},
            {QStringLiteral("mode"), QStringLiteral("verification")},
            {QStringLiteral("reason"), QStringLiteral("verification_dead")}});
    qCWarning(lcAudio).noquote()
        << QStringLiteral(
               "recovery dead (tap fires stuck at %1) and recovery cap exhausted — letting take end naturally")
               .arg(firesBefore);
}

} // namespace zq

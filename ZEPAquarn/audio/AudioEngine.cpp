#include "audio/AudioEngine.h"

#include "audio/BoundedHALExecutor.h"
#include "pipeline/SettingsDefaults.h"
#include "records/Diagnostics.h"
#include "runtime/Log.h"
#include "runtime/Settings.h"

#include <algorithm>

namespace zq {

namespace {

AudioEngine::DiagnosticsRecorder defaultRecorder(AudioEngine::DiagnosticsRecorder recorder)
{
    if (recorder)
        return recorder;
    return [](DiagnosticEvent event, const DiagnosticMetadata &metadata) {
        Diagnostics::shared().record(event, metadata);
    };
}

bool isSlowStarting(InputTransport transport)
{
    return transport == InputTransport::bluetooth || transport == InputTransport::continuity;
}

} // namespace

AudioEngine::AudioEngine(Dependencies dependencies, QObject *parent)
    : QObject(parent), m_loop(dependencies.loop), m_clocks(dependencies.clocks), m_settings(dependencies.settings),
      m_hardware(dependencies.hardware), m_makeCore(std::move(dependencies.makeCore)),
      m_takeDirectory(std::move(dependencies.takeDirectory)),
      m_halExecutor(dependencies.halExecutor ? *dependencies.halExecutor : sharedHALExecutor()),
      m_record(defaultRecorder(std::move(dependencies.record))), m_cells(std::make_shared<TapCells>())
{
    m_cells->loop = &m_loop;
    m_cells->clocks = &m_clocks;
    m_cells->engine = this;
    m_cells->alive = m_alive;
    registerListeners();
}

AudioEngine::~AudioEngine()
{
    if (m_defaultDeviceListener)
        m_hardware.removeListener(*m_defaultDeviceListener);
    if (m_deviceListListener)
        m_hardware.removeListener(*m_deviceListListener);
    m_graceTimer.cancel();
    m_recoveryCheckTimer.cancel();
    m_alive.reset();
    {
        std::lock_guard lock(m_cells->lastTapLock);
        m_cells->firstTapWake = nullptr; // it would post to a loop that may not outlive us
    }
    // Close the take (its file and stream) and the session; suspended tasks never come back.
    std::shared_ptr<TakeWriter> writer;
    {
        std::lock_guard lock(m_cells->takeIOLock);
        writer = std::exchange(m_cells->takeIO, nullptr);
    }
    closeTakeWriter(writer);
    if (m_core) {
        {
            std::lock_guard lock(m_cells->generationLock);
            ++m_cells->activeGeneration;
        }
        m_core->stop();
        m_core.reset();
    }
}

void AudioEngine::registerListeners()
{
    using SystemProperty = platform::AudioHardware::SystemProperty;
    auto notify = [loop = &m_loop, alive = std::weak_ptr<int>(m_alive), engine = this](void (AudioEngine::*handler)()) {
        return [loop, alive, engine, handler] {
            loop->post([alive, engine, handler] {
                if (alive.lock())
                    (engine->*handler)();
            });
        };
    };
    auto onDefaultInput = m_hardware.addSystemListener(SystemProperty::defaultInputDevice, nullptr,
                                                       notify(&AudioEngine::defaultInputChanged));
    if (onDefaultInput)
        m_defaultDeviceListener = onDefaultInput.value();
    else
        qCWarning(lcAudio) << "could not observe default input device changes";

    auto onDeviceList =
        m_hardware.addSystemListener(SystemProperty::devices, nullptr, notify(&AudioEngine::systemDevicesChanged));
    if (onDeviceList)
        m_deviceListListener = onDeviceList.value();
    else
        qCWarning(lcAudio) << "could not observe device list changes";
}

void AudioEngine::systemDevicesChanged()
{
    inputPreferenceChanged(InputChangeTrigger::system);
}

void AudioEngine::transition(const TakeLifecycleEvent &event, const char *at)
{
    const auto next = m_takePhase.applying(event);
    if (!next) {
        qCCritical(lcAudio).noquote() << QStringLiteral("illegal take transition %1 from %2 at %3")
                                             .arg(event.description(), m_takePhase.description(),
                                                  QString::fromLatin1(at));
        return;
    }
    const bool moved = !(m_takePhase == *next);
    m_takePhase = *next;
    if (moved)
        emit takePhaseChanged();
    const bool live = m_takePhase.isLiveAndCapturing();
    if (live != m_captureLive) {
        m_captureLive = live;
        emit captureLiveChanged(live);
    }
}

QString AudioEngine::preferredInput() const
{
    const QString value = m_settings.stringValue(keys::inputDevice);
    return value.isEmpty() ? kSystemDefaultInputPreference : value;
}

std::optional<platform::AudioFormat> AudioEngine::captureFormat() const
{
    if (m_takeFormat)
        return m_takeFormat;
    return coreFormat();
}

std::optional<platform::AudioFormat> AudioEngine::coreFormat() const
{
    if (!m_core)
        return std::nullopt;
    auto format = m_core->format();
    if (format && !format->isValid())
        return std::nullopt;
    return format;
}

std::optional<rt::Nanos> AudioEngine::lastTapInstantOfActiveSession() const
{
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(m_cells->generationLock);
        generation = m_cells->activeGeneration;
    }
    std::lock_guard lock(m_cells->lastTapLock);
    if (m_cells->lastTapFire && m_cells->lastTapFire->first == generation)
        return m_cells->lastTapFire->second;
    return std::nullopt;
}

std::optional<QString> AudioEngine::deviceName(platform::AudioDeviceId device) const
{
    for (const auto &entry : AudioInputDevice::listInputDevices(m_hardware)) {
        if (entry.id == device)
            return entry.name;
    }
    return std::nullopt;
}

void AudioEngine::teardownSession()
{
    m_graceTimer.cancel();
    m_graceTimer = {};
    if (!m_core)
        return;
    {
        std::lock_guard lock(m_cells->generationLock);
        ++m_cells->activeGeneration; // taps of the old session are ignored from now on
    }
    m_core->stop();
    m_core.reset();
    m_sessionRouteHint.reset();
    m_boundDeviceName.reset();
    {
        std::lock_guard lock(m_cells->lastTapLock);
        m_cells->lastTapFire.reset();
    }
    transition(TakeLifecycleEvent::sessionReleased(), "teardownSession()");
    qCInfo(lcAudio) << "session torn down — capture core stopping off-main";
}

void AudioEngine::scheduleGraceRelease(const QString &reason, double afterSeconds)
{
    m_graceTimer.cancel();
    m_graceTimer = m_loop.postDelayed(rt::seconds(afterSeconds),
                                      [alive = std::weak_ptr<int>(m_alive), engine = this, reason, afterSeconds] {
                                          if (alive.lock())
                                              engine->graceElapsed(reason, afterSeconds);
                                      });
}

void AudioEngine::graceElapsed(const QString &reason, double seconds)
{
    m_graceTimer = {};
    const auto kind = m_takePhase.kind();
    if (kind != TakePhase::Kind::graceIdle && kind != TakePhase::Kind::idle)
        return;
    qCInfo(lcAudio).noquote()
        << QStringLiteral("%1 (%2s) elapsed — releasing mic session").arg(reason).arg(seconds, 0, 'f', 6);
    teardownSession();
}

void AudioEngine::defaultInputChanged()
{
    const bool pinned = preferredInput() != kSystemDefaultInputPreference;
    const auto defaultDevice = AudioInputDevice::systemDefaultInputDevice(m_hardware);
    QString name = QStringLiteral("unknown");
    if (defaultDevice) {
        if (auto listed = deviceName(*defaultDevice))
            name = *listed;
    }
    const bool quiet = m_takePhase.kind() == TakePhase::Kind::idle || m_takePhase.kind() == TakePhase::Kind::graceIdle;

    if (!pinned && m_sessionRouteHint && quiet && (!defaultDevice || *defaultDevice != *m_sessionRouteHint)) {
        qCInfo(lcAudio).noquote() << QStringLiteral("default input changed to %1 while idle — re-arming").arg(name);
        inputPreferenceChanged(InputChangeTrigger::system);
    } else if (pinned) {
        qCInfo(lcAudio).noquote()
            << QStringLiteral("default input changed to %1 — selected microphone is pinned, ignoring it").arg(name);
    } else if (defaultDevice && m_sessionRouteHint && *defaultDevice == *m_sessionRouteHint) {
        qCInfo(lcAudio).noquote()
            << QStringLiteral("default input changed to %1 — same device as the live session, keeping it").arg(name);
    } else if (quiet) {
        // No session is open: the next start resolves the default again.
    } else {
        qCInfo(lcAudio).noquote()
            << QStringLiteral("default input changed to %1 during a take — finishing on the current device").arg(name);
    }
}

void AudioEngine::inputPreferenceChanged(InputChangeTrigger trigger)
{
    m_knownSilentDevice.reset();
    const QString preference = preferredInput();
    const auto resolved = AudioInputDevice::resolve(m_hardware, preference);

    const auto kind = m_takePhase.kind();
    if (kind != TakePhase::Kind::idle && kind != TakePhase::Kind::graceIdle) {
        qCInfo(lcAudio) << "input preference changed during a take — applying after it ends";
        return;
    }
    if (m_core && resolved == m_sessionRouteHint) {
        qCInfo(lcAudio) << "input preference changed but target device is unchanged — keeping session";
        return;
    }
    teardownSession();
    if (!resolved)
        return;

    const auto code = m_hardware.transportType(*resolved);
    const bool shouldPrewarm = code && isSlowStarting(inputTransport(*code)) && trigger == InputChangeTrigger::picker;
    if (!shouldPrewarm) {
        const QString name = deviceName(*resolved).value_or(QStringLiteral("id %1").arg(*resolved));
        qCInfo(lcAudio).noquote() << QStringLiteral("input changed to %1 — arming lazily at the next take").arg(name);
        return;
    }
    transition(TakeLifecycleEvent::startClaimed(), "inputPreferenceChanged(trigger:)");
    spawnTask(prewarm(preference, resolved));
}

void AudioEngine::spawnTask(rt::Task<void> task)
{
    std::erase_if(m_tasks, [](const rt::TaskHandle<void> &handle) { return handle.isDone(); });
    m_tasks.push_back(rt::spawn(m_loop, std::move(task)));
}

void AudioEngine::record(DiagnosticEvent event, const DiagnosticMetadata &metadata)
{
    m_record(event, metadata);
}

} // namespace zq

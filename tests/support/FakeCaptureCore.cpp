#include "support/FakeCaptureCore.h"

#include <QDateTime>

#include <algorithm>
#include <future>
#include <thread>

namespace zq::test {

CaptureCoreSetup fakeCaptureSetup(std::uint32_t device, const QString &name)
{
    CaptureCoreSetup setup;
    setup.boundDevice = device;
    setup.boundDeviceName = name;
    setup.transport = InputTransport::builtIn;
    setup.format = platform::AudioFormat{48000, 1};
    setup.deviceNominalRate = 48000;
    return setup;
}

FakeCaptureCore::FakeCaptureCore(Script script, CaptureCoreKind kind) : m_script(std::move(script)), m_kind(kind) {}

FakeCaptureCore::~FakeCaptureCore() = default;

CaptureCoreSetup FakeCaptureCore::start(const QString &prefUID, std::optional<std::uint32_t> resolved,
                                        CaptureTapCallback tapBlock, CaptureRecoveryCallback onRecoveryNeeded)
{
    std::shared_ptr<FakeGate> hold;
    {
        std::lock_guard lock(m_mutex);
        ++m_starts;
        m_prefUID = prefUID;
        m_resolved = resolved;
        hold = m_script.hold;
    }
    if (hold)
        hold->pass();
    std::lock_guard lock(m_mutex);
    if (m_script.error)
        std::rethrow_exception(m_script.error);
    m_tap = std::move(tapBlock);
    m_recovery = std::move(onRecoveryNeeded);
    m_running = true;
    return m_script.setup;
}

CaptureRouteInspection FakeCaptureCore::inspectRoute(bool inspectAggregate)
{
    std::lock_guard lock(m_mutex);
    ++m_inspections;
    m_inspectAggregate = inspectAggregate;
    if (!m_running)
        return {};
    if (m_route)
        return *m_route;
    return CaptureRouteInspection{m_script.setup.boundDevice, {}};
}

void FakeCaptureCore::stop()
{
    std::lock_guard lock(m_mutex);
    ++m_stops;
    m_running = false;
    // A real core keeps its callbacks alive until the unit is disposed; the fake keeps its tap so
    // deliverLate() can play such a callback.
}

std::optional<platform::AudioFormat> FakeCaptureCore::format() const
{
    std::lock_guard lock(m_mutex);
    if (!m_running)
        return std::nullopt;
    return m_script.setup.format;
}

bool FakeCaptureCore::isRunning() const
{
    std::lock_guard lock(m_mutex);
    return m_running;
}

int FakeCaptureCore::startCount() const
{
    std::lock_guard lock(m_mutex);
    return m_starts;
}

int FakeCaptureCore::stopCount() const
{
    std::lock_guard lock(m_mutex);
    return m_stops;
}

int FakeCaptureCore::inspectCount() const
{
    std::lock_guard lock(m_mutex);
    return m_inspections;
}

QString FakeCaptureCore::lastPrefUID() const
{
    std::lock_guard lock(m_mutex);
    return m_prefUID;
}

std::optional<std::uint32_t> FakeCaptureCore::lastResolved() const
{
    std::lock_guard lock(m_mutex);
    return m_resolved;
}

std::optional<bool> FakeCaptureCore::lastInspectAggregate() const
{
    std::lock_guard lock(m_mutex);
    return m_inspectAggregate;
}

void FakeCaptureCore::setRoute(CaptureRouteInspection route)
{
    std::lock_guard lock(m_mutex);
    m_route = std::move(route);
}

bool FakeCaptureCore::deliver(std::uint32_t frames, float value)
{
    return deliverThroughTap(frames, value, true);
}

bool FakeCaptureCore::deliverLate(std::uint32_t frames, float value)
{
    return deliverThroughTap(frames, value, false);
}

bool FakeCaptureCore::deliverThroughTap(std::uint32_t frames, float value, bool onlyWhileRunning)
{
    CaptureTapCallback tap;
    std::shared_ptr<platform::PCMBuffer> buffer;
    CaptureTime time;
    {
        std::lock_guard lock(m_mutex);
        if ((onlyWhileRunning && !m_running) || !m_tap)
            return false;
        tap = m_tap;
        const platform::AudioFormat format = m_script.setup.format;
        buffer = std::make_shared<platform::PCMBuffer>(format, frames);
        buffer->setFrameLength(frames);
        for (int channel = 0; channel < buffer->channelCount(); ++channel)
            std::fill_n(buffer->channelData(channel), frames, value);
        time = CaptureTime{m_sampleTime, format.sampleRate};
        m_sampleTime += frames;
    }
    tap(buffer, time);
    return true;
}

bool FakeCaptureCore::signalRecovery()
{
    CaptureRecoveryCallback recovery;
    {
        std::lock_guard lock(m_mutex);
        if (!m_running || !m_recovery)
            return false;
        recovery = m_recovery;
    }
    recovery();
    return true;
}

void FakeCaptureCoreFactory::enqueue(FakeCaptureCore::Script script)
{
    std::lock_guard lock(m_mutex);
    m_queued.push_back(std::move(script));
}

void FakeCaptureCoreFactory::setDefaultScript(FakeCaptureCore::Script script)
{
    std::lock_guard lock(m_mutex);
    m_default = std::move(script);
}

std::shared_ptr<CaptureCore> FakeCaptureCoreFactory::make(CaptureCoreKind kind)
{
    std::lock_guard lock(m_mutex);
    FakeCaptureCore::Script script = m_default;
    if (!m_queued.empty()) {
        script = std::move(m_queued.front());
        m_queued.pop_front();
    }
    auto core = std::make_shared<FakeCaptureCore>(std::move(script), kind);
    m_cores.push_back(core);
    return core;
}

std::vector<std::shared_ptr<FakeCaptureCore>> FakeCaptureCoreFactory::cores() const
{
    std::lock_guard lock(m_mutex);
    return m_cores;
}

std::shared_ptr<FakeCaptureCore> FakeCaptureCoreFactory::last() const
{
    std::lock_guard lock(m_mutex);
    return m_cores.empty() ? nullptr : m_cores.back();
}

int FakeCaptureCoreFactory::madeCount() const
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_cores.size());
}

QDateTime SteppingClocks::wallNow() const
{
    return QDateTime(QDate(2026, 3, 2), QTime(9, 0), Qt::UTC).addMSecs(m_now.load() / 1000000);
}

CaptureCoreTestServices::CaptureCoreTestServices(platform::AudioHardware &hardware) : hardware(hardware) {}

CaptureCoreTestServices::~CaptureCoreTestServices()
{
    // Teardowns the cores queued must finish before the queue and pool they use go away.
    drainExecutor();
}

CaptureCoreServices CaptureCoreTestServices::services()
{
    CaptureCoreServices services;
    services.hardware = &hardware;
    services.executor = &executor;
    services.disposalQueue = &disposal;
    services.releasePool = &releasePool;
    services.clocks = &clocks;
    services.sleep = [this](rt::Nanos duration) {
        clocks.advance(duration);
        const int count = ++m_sleeps;
        if (onSleep)
            onSleep(count);
    };
    return services;
}

CaptureCoreServices CaptureCoreTestServices::realTimeServices(rt::Clocks &clocks)
{
    CaptureCoreServices services = this->services();
    services.clocks = &clocks;
    services.sleep = [](rt::Nanos duration) { std::this_thread::sleep_for(duration); };
    return services;
}

void CaptureCoreTestServices::drainExecutor()
{
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    executor.enqueue([done] { done->set_value(); });
    finished.wait();
}

void CaptureCoreTestServices::releaseStopped()
{
    drainExecutor();
    disposal.advance(std::chrono::seconds(10));
}

namespace {
std::mutex captureMutex;
AudioLogCapture *activeCapture = nullptr;
} // namespace

AudioLogCapture::AudioLogCapture()
{
    std::lock_guard lock(captureMutex);
    activeCapture = this;
    m_previous = qInstallMessageHandler(&AudioLogCapture::handler);
}

AudioLogCapture::~AudioLogCapture()
{
    std::lock_guard lock(captureMutex);
    qInstallMessageHandler(m_previous);
    activeCapture = nullptr;
}

QStringList AudioLogCapture::lines() const
{
    std::lock_guard lock(m_mutex);
    return m_lines;
}

bool AudioLogCapture::contains(const QString &fragment) const
{
    std::lock_guard lock(m_mutex);
    return std::any_of(m_lines.begin(), m_lines.end(), [&](const QString &line) { return line.contains(fragment); });
}

void AudioLogCapture::onLine(const QString &prefix, std::function<void()> action)
{
    std::lock_guard lock(m_mutex);
    m_prefix = prefix;
    m_action = std::move(action);
}

void AudioLogCapture::handler(QtMsgType, const QMessageLogContext &, const QString &message)
{
    std::function<void()> action;
    {
        std::lock_guard lock(captureMutex);
        if (!activeCapture)
            return;
        std::lock_guard inner(activeCapture->m_mutex);
        activeCapture->m_lines << message;
        if (activeCapture->m_action && message.startsWith(activeCapture->m_prefix))
            action = std::exchange(activeCapture->m_action, nullptr);
    }
    if (action)
        action();
}

} // namespace zq::test

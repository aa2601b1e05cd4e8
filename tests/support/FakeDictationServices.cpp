#include "support/FakeDictationServices.h"

#include "pipeline/SettingsDefaults.h"

#include <QDir>

#include <algorithm>
#include <future>
#include <memory>

namespace zq::test {

namespace {

// The cue queue on the test's virtual loop.
class LoopQueue final : public rt::Executor {
public:
    explicit LoopQueue(VirtualLoop &loop) : m_loop(loop) {}
    void post(Function fn) override { m_loop.post(std::move(fn)); }
    rt::WorkItem postDelayed(rt::Nanos delay, Function fn) override { return m_loop.postDelayed(delay, std::move(fn)); }
    rt::Nanos now() const override { return m_loop.now(); }
    bool isCurrent() const override { return m_loop.isCurrent(); }

private:
    VirtualLoop &m_loop;
};

rt::Task<void> sleepTask(double seconds)
{
    co_await rt::sleepFor(rt::seconds(seconds));
}

} // namespace

bool FakeAudioDuringDictationBackend::lowerVolume()
{
    m_calls << QStringLiteral("lower");
    m_lowered = true;
    return true;
}

void FakeAudioDuringDictationBackend::rampVolumeBack()
{
    m_calls << QStringLiteral("rampBack");
    m_lowered = false;
}

void FakeAudioDuringDictationBackend::restoreVolume()
{
    m_calls << QStringLiteral("restore");
    m_lowered = false;
}

bool FakeAudioDuringDictationBackend::pausePlayingPlayers()
{
    m_calls << QStringLiteral("pause");
    return true;
}

void FakeAudioDuringDictationBackend::resumePausedPlayers()
{
    m_calls << QStringLiteral("resume");
}

FakeDictationServices::FakeDictationServices(Options options) : m_options(options)
{
    registerDefaults(settings);
    microphoneID =
        hardware.addDevice(FakeAudioHardware::Device(QStringLiteral("fake-mic"), QStringLiteral("Fake Mic")));
    hardware.setDefaultInput(microphoneID);
    cores.setDefaultScript({fakeCaptureSetup(microphoneID, QStringLiteral("Fake Mic")), nullptr, nullptr});

    QDir(dir.path()).mkpath(QStringLiteral("takes"));
    auto record = [this](DiagnosticEvent event, const DiagnosticMetadata &metadata) {
        std::lock_guard lock(m_eventsMutex);
        m_events.emplace_back(event, metadata);
    };
    engine = std::make_unique<AudioEngine>(AudioEngine::Dependencies{
        loop, loop.clocks(), settings, hardware, [this](CaptureCoreKind kind) { return cores.make(kind); },
        takeDirectory(), &hal, record});

    history = std::make_unique<HistoryStore>(dir.filePath(QStringLiteral("data")), loop.clocks());
    stats = std::make_unique<StatsStore>(dir.filePath(QStringLiteral("data")));
    incidents = std::make_unique<IncidentStore>(dir.filePath(QStringLiteral("data/Incidents")),
                                                [](const QString &, RevealDone) {});
    cues = std::make_unique<SoundCuePlayer>(settings, players, std::make_unique<LoopQueue>(loop));
    auto backend = std::make_unique<FakeAudioDuringDictationBackend>();
    audioBackend = backend.get();
    audioDuringDictation = std::make_unique<AudioDuringDictationController>(std::move(backend));
    paster = std::make_unique<Paster>(pasteboard, keys, screenLock, loop, Paster::Options{nullptr, &frontWindow});

    if (options.makeController)
        makeController();
}

FakeDictationServices::~FakeDictationServices()
{
    controller.reset();
    // Let what the controller's end set going settle before the engine goes.
    loop.runUntilIdle();
    engine.reset();
    loop.runUntilIdle();
    // A call the engine left on the audio server's queue (a new take resolving its device) still reads
    // the fake hardware: it must finish before the hardware goes. The queue runs in order.
    auto drained = std::make_shared<std::promise<void>>();
    hal.enqueue([drained] { drained->set_value(); });
    drained->get_future().wait_for(std::chrono::seconds(10));
}

DictationController::Dependencies FakeDictationServices::dependencies()
{
    DictationController::Dependencies deps{
        loop,  loop.clocks(),         settings, *engine,   *history, *incidents, *stats,
        *cues, *audioDuringDictation, *paster,  microphone};
    deps.eventSource = &eventTap;
    deps.escapeGrab = &escapeGrab;
    deps.notifications = &notifications;
    deps.makeBackend = [this](const QString &name) { return backends.make(name); };
    deps.copyRecoveredTranscript = [this](const QString &text) {
        copied << text;
        return copySucceeds;
    };
    if (m_options.cleanup) {
        deps.cleanup.shouldClean = [](const QString &, bool enabled) { return enabled; };
        deps.cleanup.clean = [this](QString text, QStringList) -> rt::Task<QString> {
            ++cleanupCalls;
            if (cleanupSeconds > 0) {
                // A slow model that does not stop when asked: the wait ignores cancellation.
                rt::MainLoop &current = co_await rt::currentLoop();
                co_await rt::spawn(current, sleepTask(cleanupSeconds)).value();
            }
            co_return cleanupResult(text);
        };
    }
    deps.prewarmOpenAI = [this] { ++prewarmCalls; };
    deps.makePill = [this] {
        auto panel = std::make_unique<RecordingPillDisplay>(*engine, Colorway::consensusMint);
        pill = panel.get();
        return panel;
    };
    deps.record = [this](DiagnosticEvent event, const DiagnosticMetadata &metadata) {
        std::lock_guard lock(m_eventsMutex);
        m_events.emplace_back(event, metadata);
    };
    deps.announce = [this](const QString &message) { announcements << message; };
    deps.appVersion = QStringLiteral("1.2.3");
    deps.build = QStringLiteral("45");
    return deps;
}

void FakeDictationServices::makeController()
{
    controller = std::make_unique<DictationController>(dependencies());
    made = controller.get();
}

bool FakeDictationServices::startLive()
{
    made->startDictation();
    return bringLive();
}

bool FakeDictationServices::bringLive()
{
    if (!made->isAudioStartPending())
        return false;
    const bool running = loop.runUntil(
        [this] {
            const auto core = cores.last();
            return core && core->isRunning();
        },
        std::chrono::seconds(5));
    if (!running)
        return false;
    cores.last()->deliver(480);
    return pump([this] { return !made->isAudioStartPending(); }) && engine->takePhase().kind() == TakePhase::Kind::live;
}

bool FakeDictationServices::pump(const std::function<bool()> &done, int maxSteps)
{
    for (int step = 0; step < maxSteps; ++step) {
        if (loop.runUntil(done, std::chrono::milliseconds(20)))
            return true;
        loop.advance(std::chrono::milliseconds(10));
    }
    return done();
}

void FakeDictationServices::deliver(int count, float value)
{
    for (int i = 0; i < count; ++i) {
        if (const auto core = cores.last())
            core->deliver(480, value);
        loop.runUntilIdle();
    }
}

void FakeDictationServices::advance(double seconds)
{
    loop.advance(rt::seconds(seconds));
}

std::vector<DiagnosticEvent> FakeDictationServices::events() const
{
    std::lock_guard lock(m_eventsMutex);
    std::vector<DiagnosticEvent> kinds;
    for (const auto &entry : m_events)
        kinds.push_back(entry.first);
    return kinds;
}

DiagnosticMetadata FakeDictationServices::lastMetadata(DiagnosticEvent event) const
{
    std::lock_guard lock(m_eventsMutex);
    for (auto it = m_events.rbegin(); it != m_events.rend(); ++it) {
        if (it->first == event)
            return it->second;
    }
    return {};
}

int FakeDictationServices::count(DiagnosticEvent event) const
{
    std::lock_guard lock(m_eventsMutex);
    return static_cast<int>(
        std::count_if(m_events.begin(), m_events.end(), [event](const auto &entry) { return entry.first == event; }));
}

void FakeDictationServices::clearEvents()
{
    std::lock_guard lock(m_eventsMutex);
    m_events.clear();
}

int FakeDictationServices::cuePlays(SoundCue cue) const
{
    return players.playCount(cue == SoundCue::listening ? 0 : 1);
}

QStringList FakeDictationServices::takeFiles() const
{
    return QDir(takeDirectory()).entryList(QDir::Files);
}

QString FakeDictationServices::takeDirectory() const
{
    return dir.filePath(QStringLiteral("takes"));
}

} // namespace zq::test

#include "audio/AudioEngine.h"
#include "audio/AudioCaptureError.h"
#include "audio/BoundedHALExecutor.h"
#include "audio/HALOperationError.h"
#include "pipeline/SettingsDefaults.h"
#include "platform/AudioFile.h"
#include "records/DiagnosticEvent.h"
#include "runtime/Settings.h"
#include "support/FakeAudioHardware.h"
#include "support/FakeCaptureCore.h"
#include "support/Polling.h"
#include "support/VirtualLoop.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <set>
#include <thread>

using namespace std::chrono_literals;
using namespace zq;
using test::FakeAudioHardware;
using test::FakeCaptureCore;
using test::FakeCaptureCoreFactory;
using test::FakeGate;
using test::VirtualLoop;

namespace {

struct Recorded {
    DiagnosticEvent event;
    DiagnosticMetadata metadata;
};

DiagnosticMetadata meta(std::initializer_list<std::pair<const char *, const char *>> pairs)
{
    DiagnosticMetadata result;
    for (const auto &[key, value] : pairs)
        result.insert(QString::fromLatin1(key), QString::fromLatin1(value));
    return result;
}

FakeCaptureCore::Script script(platform::AudioDeviceId device, const QString &name, InputTransport transport,
                               double rate = 48000)
{
    FakeCaptureCore::Script s;
    s.setup = test::fakeCaptureSetup(device, name);
    s.setup.transport = transport;
    s.setup.format = platform::AudioFormat{rate, 1};
    s.setup.deviceNominalRate = rate;
    return s;
}

// Collects the engine's log lines for the tests that check one.
class LogCatcher {
public:
    LogCatcher()
    {
        s_lines.clear();
        m_previous = qInstallMessageHandler(&LogCatcher::handle);
    }
    ~LogCatcher() { qInstallMessageHandler(m_previous); }
    bool contains(const QString &text) const
    {
        for (const auto &line : s_lines)
            if (line.contains(text))
                return true;
        return false;
    }

private:
    static void handle(QtMsgType, const QMessageLogContext &, const QString &message) { s_lines.push_back(message); }
    static inline std::vector<QString> s_lines;
    QtMessageHandler m_previous;
};

class AudioEngineTest : public ::testing::Test {
protected:
    AudioEngineTest()
    {
        settings = std::make_unique<rt::Settings>(dir.filePath(QStringLiteral("settings.json")));
        registerDefaults(*settings);
        mic = hardware.addDevice({QStringLiteral("usb-mic"), QStringLiteral("USB Mic"), transportType::usb});
        hardware.setDefaultInput(mic);
        factory.setDefaultScript(script(mic, QStringLiteral("USB Mic"), InputTransport::usb));
        engine = makeEngine();
    }

    ~AudioEngineTest() override
    {
        settle();
        engine.reset();
    }

    std::unique_ptr<AudioEngine> makeEngine()
    {
        return std::make_unique<AudioEngine>(AudioEngine::Dependencies{
            loop, loop.clocks(), *settings, hardware, [this](CaptureCoreKind kind) { return factory.make(kind); },
            takeFolder(), &executor,
            [this](DiagnosticEvent event, const DiagnosticMetadata &metadata) {
                events.push_back({event, metadata});
            }});
    }

    QString takeFolder() const { return dir.filePath(QStringLiteral("takes")); }

    // Lets every call into the (fake) audio server come back before virtual time moves on, so a
    // call costs no virtual time.
    void settle()
    {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        for (;;) {
            while (engine->hardwareCallsInFlight() > 0) {
                ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "a hardware call never came back";
                loop.runUntilIdle();
                std::this_thread::sleep_for(20us);
            }
            // A call counts as in flight until its resumption is queued, so this runs it.
            if (loop.runUntilIdle() == 0 && engine->hardwareCallsInFlight() == 0)
                return;
        }
    }

    // Running cores that are not silenced (by their number in the order they were made) get one 10 ms buffer every 10
    // ms of virtual time.
    void feed()
    {
        if (!feeding)
            return;
        const auto cores = factory.cores();
        for (std::size_t index = 0; index < cores.size(); ++index) {
            if (!silent.count(int(index)) && cores[index]->isRunning())
                cores[index]->deliver(frames10ms(*cores[index]), level);
        }
    }
    static std::uint32_t frames10ms(const FakeCaptureCore &core)
    {
        const auto format = core.format();
        return format ? static_cast<std::uint32_t>(format->sampleRate / 100) : 480;
    }

    void advance(double seconds)
    {
        settle();
        const rt::Nanos end = loop.now() + rt::Nanos(std::llround(seconds * 1e9));
        while (loop.now() < end) {
            loop.advance(std::min<rt::Nanos>(1ms, end - loop.now()));
            if (loop.now().count() % 10'000'000 == 0)
                feed();
            settle();
        }
    }

    template <typename Predicate>
    bool advanceUntil(Predicate predicate, double maxSeconds = 30)
    {
        settle();
        const rt::Nanos end = loop.now() + rt::Nanos(std::llround(maxSeconds * 1e9));
        while (!predicate()) {
            if (loop.now() >= end)
                return false;
            advance(0.001);
        }
        return true;
    }

    // Runs the loop until a held start reached its gate (the start runs on the executor's thread).
    bool runUntilReached(FakeGate &gate)
    {
        for (int round = 0; round < 1000; ++round) {
            loop.runUntilIdle();
            if (gate.waitUntilReached(5ms))
                return true;
        }
        return false;
    }

    rt::TaskHandle<bool> startTake(TakeMode mode = TakeMode::fileOnly, bool rescue = true,
                                   std::shared_ptr<TakeStartIntent> intent = nullptr)
    {
        if (!intent)
            intent = std::make_shared<TakeStartIntent>();
        return rt::spawn(loop, engine->start(mode, rescue, std::move(intent)));
    }

    // Starts a take and runs it to its return; true when the take began.
    bool beginTake(TakeMode mode = TakeMode::fileOnly, bool rescue = true)
    {
        auto handle = startTake(mode, rescue);
        EXPECT_TRUE(advanceUntil([&] { return handle.isDone(); }));
        if (handle.hasFailed())
            return false;
        return handle.result() == false;
    }

    // The same with one buffer to prove the session and none after: the take gets only the
    // buffers the test delivers.
    bool beginQuietTake(TakeMode mode = TakeMode::fileOnly)
    {
        feeding = false;
        auto handle = startTake(mode);
        settle();
        factory.last()->deliver(480);
        EXPECT_TRUE(advanceUntil([&] { return handle.isDone(); }));
        return !handle.hasFailed() && handle.result() == false;
    }

    std::vector<Recorded> eventsOf(DiagnosticEvent event) const
    {
        std::vector<Recorded> found;
        for (const auto &entry : events)
            if (entry.event == event)
                found.push_back(entry);
        return found;
    }

    static std::optional<int> errorCode(const rt::TaskHandle<bool> &handle)
    {
        try {
            std::rethrow_exception(handle.exception());
        } catch (const AudioCaptureError &error) {
            return error.code();
        } catch (...) {
            return std::nullopt;
        }
    }

    QTemporaryDir dir;
    VirtualLoop loop;
    FakeAudioHardware hardware;
    FakeCaptureCoreFactory factory;
    BoundedHALExecutor executor{QStringLiteral("test.hal"), &loop};
    std::unique_ptr<rt::Settings> settings;
    std::vector<Recorded> events;
    platform::AudioDeviceId mic = 0;
    bool feeding = true;
    float level = 0.1f;
    std::set<int> silent;
    std::unique_ptr<AudioEngine> engine;
};

// --- Starting a take ---------------------------------------------------------------------------

TEST_F(AudioEngineTest, ColdStartProvesTheSessionThenBeginsATakeThatGoesLiveOnItsFirstBuffer)
{
    int liveCalls = 0;
    engine->setOnTakeLive([&] { ++liveCalls; });
    std::vector<bool> published;
    QObject::connect(engine.get(), &AudioEngine::captureLiveChanged, [&](bool live) { published.push_back(live); });

    auto handle = startTake();
    ASSERT_TRUE(advanceUntil([&] { return handle.isDone(); }));
    ASSERT_FALSE(handle.hasFailed());
    EXPECT_FALSE(handle.result().value()) << "false: the take began";
    EXPECT_EQ(factory.madeCount(), 1);
    EXPECT_EQ(factory.last()->lastResolved(), mic);
    EXPECT_TRUE(events.empty()) << "a healthy first start records nothing";

    advance(0.05);
    EXPECT_EQ(engine->takePhase(), TakePhase::live(true));
    EXPECT_TRUE(engine->captureLive());
    EXPECT_EQ(liveCalls, 1) << "once per take";
    EXPECT_EQ(published, std::vector<bool>{true});
    EXPECT_GT(engine->history().count(), 0);
}

TEST_F(AudioEngineTest, TheProvingBufferBeginsTheTakeAsItArrivesNotAtTheNextPoll)
{
    feeding = false;
    auto handle = startTake();
    settle();
    const rt::Nanos waiting = loop.now();
    advance(0.003);
    ASSERT_FALSE(handle.isDone());
    ASSERT_TRUE(factory.last()->deliver(480));
    settle();
    ASSERT_TRUE(handle.isDone()) << "the first buffer ended the 10 ms pause";
    EXPECT_FALSE(handle.result().value()) << "the take began";
    EXPECT_EQ(loop.now() - waiting, 3ms);
}

// What a session opened for a take delivered while the start proved it opens the take, as far as it
// can have been captured since the session was asked for; a warm session's earlier buffers never do.
TEST_F(AudioEngineTest, ATakeOnAFreshSessionBeginsWithTheBuffersThatProvedIt)
{
    struct Delivery {
        std::uint32_t frames;
        float value;
    };
    struct Case {
        const char *name;
        bool warm;
        double after; // seconds from the ask (or, warm, before the start) to the deliveries
        std::vector<Delivery> deliveries;
        std::vector<float> opening; // the value of each buffer the take begins with
        std::uint32_t openingFrames;
    };
    const std::vector<Case> cases{
        {"the proving buffer, 10 ms after the ask", false, 0.01, {{480, 0.2f}}, {0.2f}, 480},
        {"two buffers in 25 ms", false, 0.025, {{480, 0.2f}, {480, 0.3f}}, {0.2f, 0.3f}, 960},
        {"a backlog handed over at once: only its newest 10 ms", false, 0.01, {{9120, 0.2f}, {480, 0.3f}}, {0.3f}, 480},
        {"a backlog cut inside a buffer", false, 0.015, {{9120, 0.2f}, {480, 0.3f}}, {0.2f, 0.3f}, 720},
        {"a warm session's buffer from before the start", true, 0.1, {{480, 0.2f}}, {}, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        engine.reset();
        const auto bt = hardware.addDevice(
            {QStringLiteral("bt-%1").arg(c.name), QStringLiteral("BT Mic"), transportType::bluetooth});
        hardware.setDefaultInput(bt);
        factory.setDefaultScript(script(bt, QStringLiteral("BT Mic"), InputTransport::bluetooth));
        engine = makeEngine();
        int liveCalls = 0;
        engine->setOnTakeLive([&] { ++liveCalls; });
        feeding = false;
        if (c.warm) {
            ASSERT_TRUE(beginQuietTake());
            (void)engine->takeResult(); // a Bluetooth session is held for the next take
            liveCalls = 0;
            for (const Delivery &d : c.deliveries)
                factory.last()->deliver(d.frames, d.value);
            advance(c.after);
        }
        auto handle = startTake(TakeMode::streamed);
        settle();
        if (!c.warm) {
            advance(c.after);
            for (const Delivery &d : c.deliveries)
                factory.last()->deliver(d.frames, d.value);
        }
        ASSERT_TRUE(advanceUntil([&] { return handle.isDone(); }));
        ASSERT_FALSE(handle.hasFailed());
        EXPECT_EQ(liveCalls, c.opening.empty() ? 0 : 1) << "live at once, without waiting for the next buffer";
        EXPECT_EQ(engine->captureLive(), !c.opening.empty());
        EXPECT_EQ(engine->tapFires(), std::int64_t(c.opening.size()));

        auto stream = engine->buffers();
        ASSERT_TRUE(stream.has_value());
        factory.last()->deliver(480, 0.5f); // the microphone's next delivery follows them
        engine->discardTake();
        std::vector<float> values;
        std::uint32_t frames = 0;
        auto drain = [](rt::AsyncChannel<platform::SharedPCMBuffer> channel, std::vector<float> &values,
                        std::uint32_t &frames) -> rt::Task<void> {
            while (auto buffer = co_await channel.next()) {
                values.push_back((*buffer)->channelData(0)[0]);
                frames += (*buffer)->frameLength();
            }
        };
        rt::spawn(loop, drain(*stream, values, frames));
        loop.runUntilIdle();
        std::vector<float> expected = c.opening;
        expected.push_back(0.5f);
        EXPECT_EQ(values, expected);
        EXPECT_EQ(frames, c.openingFrames + 480);
    }
}

TEST_F(AudioEngineTest, StartWithAWithdrawnIntentChangesNothing)
{
    auto intent = std::make_shared<TakeStartIntent>();
    intent->withdraw();
    auto handle = startTake(TakeMode::fileOnly, true, intent);
    ASSERT_TRUE(advanceUntil([&] { return handle.isDone(); }));
    EXPECT_TRUE(handle.result().value());
    EXPECT_EQ(factory.madeCount(), 0);
    EXPECT_EQ(engine->takePhase(), TakePhase::idle());
}

TEST_F(AudioEngineTest, IntentWithdrawnWhileTheSessionOpensKeepsItWarmForThirtySeconds)
{
    auto gate = std::make_shared<FakeGate>();
    auto held = script(mic, QStringLiteral("USB Mic"), InputTransport::usb);
    held.hold = gate;
    factory.enqueue(held);

    auto intent = std::make_shared<TakeStartIntent>();
    auto handle = startTake(TakeMode::fileOnly, true, intent);
    ASSERT_TRUE(runUntilReached(*gate));
    intent->withdraw();
    gate->open();
    ASSERT_TRUE(advanceUntil([&] { return handle.isDone(); }));
    EXPECT_TRUE(handle.result().value()) << "no take began";
    EXPECT_EQ(engine->takePhase(), TakePhase::graceIdle());
    EXPECT_TRUE(engine->hasSession());

    const rt::Nanos ready = loop.now();
    advanceUntil([&] { return !engine->hasSession(); }, 40);
    EXPECT_EQ(loop.now() - ready, 30s);
    EXPECT_EQ(engine->takePhase(), TakePhase::idle());
}

TEST_F(AudioEngineTest, IntentWithdrawnDuringTheFirstBufferWaitOrWhileAnotherStartRuns)
{
    // During the proof: the session is kept warm and no take begins.
    feeding = false;
    auto first = std::make_shared<TakeStartIntent>();
    auto handle = startTake(TakeMode::fileOnly, true, first);
    advance(0.1);
    first->withdraw();
    feeding = true;
    ASSERT_TRUE(advanceUntil([&] { return handle.isDone(); }));
    EXPECT_TRUE(handle.result().value());
    EXPECT_EQ(engine->takePhase(), TakePhase::graceIdle());

    // Waiting behind another start: returns true as soon as its own intent ends.
    feeding = false;
    silent.clear();
    engine = makeEngine();
    auto runningIntent = std::make_shared<TakeStartIntent>();
    auto running = startTake(TakeMode::fileOnly, true, runningIntent);
    advance(0.05);
    ASSERT_EQ(engine->takePhase(), TakePhase::starting());
    auto waitingIntent = std::make_shared<TakeStartIntent>();
    auto waiting = startTake(TakeMode::fileOnly, true, waitingIntent);
    advance(0.05);
    EXPECT_FALSE(waiting.isDone());
    waitingIntent->withdraw();
    advance(0.011);
    EXPECT_TRUE(waiting.isDone());
    EXPECT_TRUE(waiting.result().value());
    feeding = true;
    ASSERT_TRUE(advanceUntil([&] { return running.isDone(); }));
    EXPECT_FALSE(running.result().value());
}

TEST_F(AudioEngineTest, WarmSessionIsReusedWhileItsLastBufferIsFreshAndRebuiltWhenStale)
{
    const auto bt = hardware.addDevice({QStringLiteral("bt-mic"), QStringLiteral("BT Mic"), transportType::bluetooth});
    hardware.setDefaultInput(bt);
    factory.setDefaultScript(script(bt, QStringLiteral("BT Mic"), InputTransport::bluetooth));

    ASSERT_TRUE(beginTake());
    advance(1.0);
    ASSERT_EQ(engine->takeResult().kind(), TakeResult::Kind::captured);
    EXPECT_TRUE(engine->hasSession()) << "a Bluetooth session is held when release-when-idle is off";

    // Last buffer exactly 0.6 s before the start: reused after the route check.
    feeding = false;
    factory.last()->deliver(480);
    advance(0.6);
    ASSERT_TRUE(beginTake());
    EXPECT_EQ(factory.madeCount(), 1) << "no new microphone claim";
    EXPECT_EQ(factory.last()->inspectCount(), 2) << "one route check for the proof, one for the reuse";
    (void)engine->takeResult();

    // 0.61 s: stale, rebuilt.
    LogCatcher log;
    factory.last()->deliver(480);
    advance(0.61);
    feeding = true;
    ASSERT_TRUE(beginTake());
    EXPECT_EQ(factory.madeCount(), 2);
    EXPECT_TRUE(log.contains(QStringLiteral("start: warm session stale (tap silent for 0.61s) — rebuilding")));
    EXPECT_EQ(factory.cores()[0]->stopCount(), 1);
}

TEST_F(AudioEngineTest, WarmSessionOffTheSelectedRouteIsRebuiltUnlessAnAggregateCarriesIt)
{
    const auto bt = hardware.addDevice({QStringLiteral("bt-mic"), QStringLiteral("BT Mic"), transportType::bluetooth});
    hardware.setDefaultInput(bt);
    factory.setDefaultScript(script(bt, QStringLiteral("BT Mic"), InputTransport::bluetooth));
    ASSERT_TRUE(beginTake());
    advance(0.2);
    (void)engine->takeResult();

    // With "system-default", an aggregate whose active members include the device is on route.
    factory.last()->setRoute(CaptureRouteInspection{77, {bt}});
    ASSERT_TRUE(beginTake());
    EXPECT_EQ(factory.madeCount(), 1);
    EXPECT_EQ(factory.last()->lastInspectAggregate(), true);
    advance(0.05);
    (void)engine->takeResult();

    // Pinned to the device: the same aggregate is off route.
    settings->setValue(keys::inputDevice, QStringLiteral("bt-mic"));
    LogCatcher log;
    ASSERT_TRUE(beginTake());
    EXPECT_EQ(factory.madeCount(), 2);
    EXPECT_TRUE(log.contains(QStringLiteral("warm session drifted off the selected physical route")));
}

// --- Start attempts: proof, rebuild, built-in fallback, retry ------------------------------------

TEST_F(AudioEngineTest, SilentSessionIsRebuiltAfterTheFirstBufferLimit)
{
    factory.enqueue(script(mic, QStringLiteral("USB Mic"), InputTransport::usb));
    silent = {0};
    auto handle = startTake();
    advance(0.599);
    EXPECT_EQ(factory.madeCount(), 1);
    advance(0.002);
    EXPECT_EQ(factory.madeCount(), 2) << "rebuilt at 0.6 s";
    ASSERT_TRUE(advanceUntil([&] { return handle.isDone(); }));
    EXPECT_FALSE(handle.result().value());

    ASSERT_EQ(eventsOf(DiagnosticEvent::audioRecoveryStarted).size(), 1u);
    EXPECT_EQ(eventsOf(DiagnosticEvent::audioRecoveryStarted)[0].metadata,
              meta({{"attempt", "1"}, {"mode", "startup_rebuild"}}));
    ASSERT_EQ(eventsOf(DiagnosticEvent::audioRecoveryCompleted).size(), 1u);
    EXPECT_EQ(eventsOf(DiagnosticEvent::audioRecoveryCompleted)[0].metadata,
              meta({{"attempt", "2"}, {"mode", "startup_rebuild"}}));
    EXPECT_EQ(engine->knownSilentDevice(), std::nullopt);
    EXPECT_EQ(factory.cores()[0]->stopCount(), 1);
}

TEST_F(AudioEngineTest, BluetoothSessionGetsTwoAndAHalfSecondsForItsFirstBuffer)
{
    const auto bt = hardware.addDevice({QStringLiteral("bt-mic"), QStringLiteral("BT Mic"), transportType::bluetooth});
    hardware.setDefaultInput(bt);
    factory.setDefaultScript(script(bt, QStringLiteral("BT Mic"), InputTransport::bluetooth));
    silent = {0};
    auto handle = startTake();
    advance(2.499);
    EXPECT_EQ(factory.madeCount(), 1);
    advance(0.002);
    EXPECT_EQ(factory.madeCount(), 2);
    ASSERT_TRUE(advanceUntil([&] { return handle.isDone(); }));
}

TEST_F(AudioEngineTest, TwoSilentStartsFallBackToTheBuiltInMicrophoneWhichIsThenUsedDirectly)
{
    const auto builtIn =
        hardware.addDevice({QStringLiteral("bltn"), QStringLiteral("Built-in Mic"), transportType::builtIn});
    factory.enqueue(script(mic, QStringLiteral("USB Mic"), InputTransport::usb));
    factory.enqueue(script(mic, QStringLiteral("USB Mic"), InputTransport::usb));
    factory.setDefaultScript(script(builtIn, QStringLiteral("Built-in Mic"), InputTransport::builtIn));

    silent = {0, 1};
    auto handle = startTake();
    ASSERT_TRUE(advanceUntil([&] { return handle.isDone(); }));
    ASSERT_FALSE(handle.hasFailed()) << describeError(handle.exception()).toStdString();
    EXPECT_EQ(factory.madeCount(), 3);
    EXPECT_EQ(factory.last()->lastResolved(), builtIn);
    EXPECT_EQ(factory.last()->lastPrefUID(), QStringLiteral("system-default"));
    const auto started = eventsOf(DiagnosticEvent::audioRecoveryStarted);
    ASSERT_EQ(started.size(), 2u);
    EXPECT_EQ(started[0].metadata, meta({{"attempt", "1"}, {"mode", "startup_rebuild"}}));
    EXPECT_EQ(started[1].metadata, meta({{"attempt", "2"}, {"mode", "builtin_fallback"}}));
    EXPECT_EQ(eventsOf(DiagnosticEvent::audioRecoveryCompleted).back().metadata,
              meta({{"attempt", "3"}, {"mode", "builtin_fallback"}}));
    EXPECT_EQ(engine->knownSilentDevice(), mic);
    EXPECT_EQ(engine->takeResult().kind(), TakeResult::Kind::tooShort);

    // The next start with rescue goes to the built-in microphone at once.
    events.clear();
    LogCatcher log;
    ASSERT_TRUE(beginTake());
    EXPECT_EQ(factory.madeCount(), 4);
    EXPECT_EQ(factory.last()->lastResolved(), builtIn);
    EXPECT_TRUE(log.contains(QStringLiteral("skipping known-silent device — starting directly on Built-in Mic")));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].metadata, meta({{"attempt", "1"}, {"mode", "builtin_fallback"}}));
    (void)engine->takeResult();

    // Without rescue (the microphone test) the known-silent device is tried as usual.
    factory.enqueue(script(mic, QStringLiteral("USB Mic"), InputTransport::usb));
    ASSERT_TRUE(beginTake(TakeMode::fileOnly, false));
    EXPECT_EQ(factory.last()->lastResolved(), mic);
    EXPECT_EQ(engine->knownSilentDevice(), mic) << "a live result on it leaves it known-silent";
    (void)engine->takeResult();

    // A preference change forgets it.
    engine->inputPreferenceChanged(InputChangeTrigger::picker);
    EXPECT_EQ(engine->knownSilentDevice(), std::nullopt);
}

TEST_F(AudioEngineTest, SilentDeviceWithoutRescueGivesUpTwiceAndLeavesNoSessionOpen)
{
    feeding = false;
    auto handle = startTake(TakeMode::fileOnly, false);
    const rt::Nanos begun = loop.now();
    ASSERT_TRUE(advanceUntil([&] { return handle.isDone(); }));
    ASSERT_TRUE(handle.hasFailed());
    EXPECT_EQ(errorCode(handle), 3);
    // Two attempts of two 0.6 s proofs each, with one 0.4 s pause between them.
    EXPECT_EQ(loop.now() - begun, rt::Nanos(std::llround(2.8e9)));
    EXPECT_EQ(factory.madeCount(), 4);

    const auto failed = eventsOf(DiagnosticEvent::audioStartFailed);
    ASSERT_EQ(failed.size(), 2u);
    EXPECT_EQ(failed[0].metadata.value("will_retry"), "true");
    EXPECT_EQ(failed[0].metadata.value("phase"), "tap");
    EXPECT_EQ(failed[0].metadata.value("duration_ms"), "1200");
    EXPECT_EQ(failed[1].metadata.value("attempt"), "2");
    EXPECT_EQ(failed[1].metadata.value("will_retry"), "false");
    EXPECT_EQ(eventsOf(DiagnosticEvent::audioRecoveryFailed)[0].metadata,
              meta({{"attempt", "2"}, {"mode", "startup_rebuild"}, {"reason", "tap_never_live"}}));

    EXPECT_FALSE(engine->hasSession());
    EXPECT_EQ(engine->takePhase(), TakePhase::idle());
    for (const auto &core : factory.cores())
        EXPECT_FALSE(core->isRunning()) << "no capture keeps the microphone after a failed start";
}

TEST_F(AudioEngineTest, AThrowingAttemptIsRetriedOnceAfterFourTenthsOfASecond)
{
    auto failing = script(mic, QStringLiteral("USB Mic"), InputTransport::usb);
    failing.error = std::make_exception_ptr(
        PhasedStartError(StartFailurePhase::bind,
                         std::make_exception_ptr(
                             AudioCaptureError(audioErrorDomain::serverStatus, 12, QStringLiteral("No such entity"))),
                         QStringLiteral("binding failed")));
    factory.enqueue(failing);

    auto handle = startTake();
    settle();
    EXPECT_EQ(factory.madeCount(), 1);
    EXPECT_EQ(factory.cores()[0]->stopCount(), 1) << "a half-built capture is released";
    advance(0.399);
    EXPECT_EQ(factory.madeCount(), 1);
    advance(0.002);
    EXPECT_EQ(factory.madeCount(), 2);
    ASSERT_TRUE(advanceUntil([&] { return handle.isDone(); }));
    EXPECT_FALSE(handle.hasFailed());
    ASSERT_EQ(eventsOf(DiagnosticEvent::audioStartFailed).size(), 1u);
    EXPECT_EQ(eventsOf(DiagnosticEvent::audioStartFailed)[0].metadata,
              meta({{"attempt", "1"}, {"will_retry", "true"}, {"duration_ms", "0"}, {"phase", "bind"}}));
    EXPECT_TRUE(eventsOf(DiagnosticEvent::audioRecoveryStarted).empty()) << "a start error is not rebuilt";
}

TEST_F(AudioEngineTest, AStartThatMissesItsDeadlineIsReleasedWhenItFinallyReturns)
{
    auto gate = std::make_shared<FakeGate>();
    auto held = script(mic, QStringLiteral("USB Mic"), InputTransport::usb);
    held.hold = gate;
    factory.enqueue(held);

    auto handle = startTake();
    ASSERT_TRUE(runUntilReached(*gate));
    loop.advance(6s); // the executor's deadline runs on the loop
    ASSERT_TRUE(advanceUntil([&] { return handle.isDone(); }));
    EXPECT_FALSE(handle.hasFailed()) << "the retry opened a second session";
    EXPECT_EQ(eventsOf(DiagnosticEvent::audioStartFailed)[0].metadata.value("phase"), "hal_timeout");
    EXPECT_EQ(factory.madeCount(), 2);

    const auto late = factory.cores()[0];
    gate->open();
    zq::test::waitFor([&] { return late->stopCount() != 0; }, zq::test::kLoadedMachineTimeout);
    EXPECT_FALSE(late->isRunning()) << "nobody owns the late capture, so it is stopped";
    advance(0.05);
    EXPECT_TRUE(engine->captureLive()) << "the take runs on the retried session";
}

TEST(AudioEngineStartFailurePhase, ClassifiesStartErrors)
{
    const auto of = [](auto error) { return startFailurePhaseOf(std::make_exception_ptr(error)); };
    EXPECT_EQ(of(HALOperationError::timedOut()), StartFailurePhase::halTimeout);
    EXPECT_EQ(of(PhasedStartError(StartFailurePhase::bind, nullptr, {})), StartFailurePhase::bind);
    EXPECT_EQ(
        of(PhasedStartError(StartFailurePhase::start, std::make_exception_ptr(HALOperationError::timedOut()), {})),
        StartFailurePhase::halTimeout);
    EXPECT_EQ(of(AudioCaptureError(audioErrorDomain::app, 6, {})), StartFailurePhase::engineCreate);
    EXPECT_EQ(of(AudioCaptureError(audioErrorDomain::app, 5, {})), StartFailurePhase::bind);
    EXPECT_EQ(of(AudioCaptureError(audioErrorDomain::app, 3, {})), StartFailurePhase::tap);
    EXPECT_EQ(of(AudioCaptureError(audioErrorDomain::app, 7, {})), StartFailurePhase::unknown);
    EXPECT_EQ(of(AudioCaptureError(audioErrorDomain::audioTap, 1, {})), StartFailurePhase::tap);
    EXPECT_EQ(of(AudioCaptureError(audioErrorDomain::serverStatus, -3, {})), StartFailurePhase::bind);
    EXPECT_EQ(of(std::runtime_error("x")), StartFailurePhase::unknown);
}

// --- Takes ---------------------------------------------------------------------------------------

TEST_F(AudioEngineTest, TakeResultIsTooShortEmptyOrCapturedByTheContinuousClock)
{
    // 0.49 s: too short, file deleted.
    ASSERT_TRUE(beginTake());
    const QString firstFile = engine->takeFilePath().value();
    EXPECT_TRUE(firstFile.startsWith(takeFolder() + QStringLiteral("/zepaquarn-")));
    advance(0.49);
    EXPECT_TRUE(QFile::exists(firstFile));
    EXPECT_EQ(engine->takeResult(), TakeResult::tooShort());
    EXPECT_FALSE(QFile::exists(firstFile));
    EXPECT_FALSE(engine->hasSession()) << "a fast-starting device is released at once";

    // 0.5 s with buffers: captured, even though the wall clock jumped back meanwhile.
    ASSERT_TRUE(beginTake());
    const QString file = engine->takeFilePath().value();
    loop.clocks().shiftWall(-3600s);
    advance(0.5);
    const auto captured = engine->takeResult();
    ASSERT_EQ(captured.kind(), TakeResult::Kind::captured);
    EXPECT_EQ(*captured.capturedTake(), (CapturedTake{file, 0.5}));
    auto opened = platform::AudioFile::openForReading(file);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened.value()->processingFormat().sampleRate, 48000);
    EXPECT_NEAR(opened.value()->length(), 24000, 480);

    // 2 s without a buffer in the take: empty, file deleted.
    ASSERT_TRUE(beginQuietTake());
    const QString emptyFile = engine->takeFilePath().value();
    advance(2.0);
    EXPECT_EQ(engine->takeResult(), TakeResult::empty());
    EXPECT_FALSE(QFile::exists(emptyFile));

    // 2 s after a fresh session's proving buffer opened the take, and nothing since: empty too.
    auto handle = startTake();
    settle();
    advance(0.01);
    factory.last()->deliver(480);
    ASSERT_TRUE(advanceUntil([&] { return handle.isDone(); }));
    ASSERT_EQ(engine->tapFires(), 1) << "the proving buffer opened the take";
    advance(2.0);
    EXPECT_EQ(engine->takeResult(), TakeResult::empty());

    // No take at all.
    EXPECT_EQ(engine->takeResult(), TakeResult::tooShort());
}

TEST_F(AudioEngineTest, ABufferFromAReleasedSessionNeitherEntersNorProvesTheNextTake)
{
    ASSERT_TRUE(beginTake());
    advance(0.49);
    EXPECT_EQ(engine->takeResult(), TakeResult::tooShort());
    ASSERT_FALSE(engine->hasSession());
    const std::shared_ptr<FakeCaptureCore> released = factory.cores()[0];

    ASSERT_TRUE(beginQuietTake());
    ASSERT_EQ(factory.madeCount(), 2);
    const QString file = engine->takeFilePath().value();
    // The old session's callback was still in flight: its loud buffers belong to no take.
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(released->deliverLate(4800, 0.9f));
        advance(0.1);
    }
    EXPECT_FALSE(engine->captureLive());
    EXPECT_NE(engine->takePhase(), TakePhase::live(true));
    EXPECT_EQ(engine->takeResult(), TakeResult::empty());
    EXPECT_FALSE(QFile::exists(file));
}

TEST_F(AudioEngineTest, StreamedTakeDeliversCopiesAndEndsTheStreamWhileFileOnlyHasNone)
{
    ASSERT_TRUE(beginTake(TakeMode::fileOnly));
    EXPECT_FALSE(engine->buffers().has_value());
    engine->discardTake();

    ASSERT_TRUE(beginQuietTake(TakeMode::streamed));
    auto stream = engine->buffers();
    ASSERT_TRUE(stream.has_value());
    EXPECT_EQ(engine->captureFormat(), (platform::AudioFormat{48000, 1}));
    for (int i = 0; i < 10; ++i)
        factory.last()->deliver(480);
    const QString file = engine->takeFilePath().value();
    engine->discardTake();
    EXPECT_FALSE(QFile::exists(file));
    EXPECT_FALSE(engine->buffers().has_value());

    int count = 0;
    bool ended = false;
    auto drain = [](rt::AsyncChannel<platform::SharedPCMBuffer> channel, int &count, bool &ended) -> rt::Task<void> {
        while (auto buffer = co_await channel.next())
            count += (*buffer)->frameLength() == 480 ? 1 : 0;
        ended = true;
    };
    rt::spawn(loop, drain(*stream, count, ended));
    loop.runUntilIdle();
    EXPECT_EQ(count, 10);
    EXPECT_TRUE(ended);
}

TEST_F(AudioEngineTest, EndingATakeWhileTheAudioThreadWritesClosesAValidFile)
{
    ASSERT_TRUE(beginTake(TakeMode::streamed));
    feeding = false;
    const QString file = engine->takeFilePath().value();
    auto core = factory.last();
    advance(0.6);
    ASSERT_TRUE(core->deliver(480));
    settle(); // the take is live

    // The loop stays still while the audio thread writes, so nothing waits on a thread that outruns it.
    std::jthread audio([core](std::stop_token stop) {
        while (!stop.stop_requested())
            core->deliver(480);
    });
    // A starved audio thread may not have run yet: the take must end while it writes, not before.
    const std::int64_t before = engine->tapFires();
    ASSERT_TRUE(test::waitFor([&] { return engine->tapFires() >= before + 5; }, test::kLoadedMachineTimeout))
        << "the audio thread delivered " << engine->tapFires() - before << " of 5 buffers within "
        << test::kLoadedMachineTimeout.count() << " s";
    const auto result = engine->takeResult(); // releases the session, which stops the core
    audio.request_stop();
    audio.join();
    ASSERT_EQ(result.kind(), TakeResult::Kind::captured);
    auto opened = platform::AudioFile::openForReading(file);
    ASSERT_TRUE(opened);
    EXPECT_GT(opened.value()->length(), 5 * 480);
    EXPECT_EQ(opened.value()->length() % 480, 0) << "no buffer was cut by the close";
}

// With a closer, a streamed take ends its stream at once and leaves the file's flush and close to the
// closer; a take that only writes its file is closed before takeResult() returns, for its upload.
TEST_F(AudioEngineTest, AStreamedTakesFileIsClosedOnTheCloserAfterItsStreamHasEnded)
{
    VirtualLoop closer;
    engine->setTakeFileCloser(&closer);
    const auto frames = [](const QString &file) -> qint64 {
        auto opened = platform::AudioFile::openForReading(file);
        return opened ? opened.value()->length() : -1;
    };
    for (const TakeMode mode : {TakeMode::streamed, TakeMode::fileOnly}) {
        SCOPED_TRACE(mode == TakeMode::streamed ? "streamed" : "file only");
        ASSERT_TRUE(beginTake(mode));
        const QString file = engine->takeFilePath().value();
        EXPECT_EQ(closer.runUntilIdle(), 1) << "the file is made on the queue as the take begins";
        EXPECT_TRUE(QFile::exists(file));
        auto stream = engine->buffers();
        advance(0.6);
        ASSERT_EQ(engine->takeResult().kind(), TakeResult::Kind::captured);
        if (stream) {
            bool ended = false;
            auto drain = [](rt::AsyncChannel<platform::SharedPCMBuffer> channel, bool &ended) -> rt::Task<void> {
                while (co_await channel.next()) {
                }
                ended = true;
            };
            rt::spawn(loop, drain(*stream, ended));
            loop.runUntilIdle();
            EXPECT_TRUE(ended) << "the stream ends before the file is closed";
        }
        const qint64 beforeCloser = frames(file);
        EXPECT_EQ(closer.runUntilIdle(), mode == TakeMode::streamed ? 1 : 0);
        EXPECT_NEAR(frames(file), 28800, 480) << "the whole take is in the file once closed";
        if (mode == TakeMode::fileOnly) {
            EXPECT_EQ(beforeCloser, frames(file));
        }
    }
}

// A fresh take's opening buffers wait in memory for its file, which the take-file queue makes as
// the take begins; whoever comes first (the queue, the microphone's next buffer) makes it with them
// in front, and a take that is gone before the queue runs leaves no file behind: discarded, or
// ended with nothing after its opening buffers (empty).
TEST_F(AudioEngineTest, AFreshTakesFileHoldsItsOpeningBuffersWhicheverMakesItFirst)
{
    enum class First { queue, nextBuffer, end, discard };
    struct Case {
        const char *name;
        TakeMode mode;
        First first;
        std::vector<float> file; // the first sample of each 480-frame piece; empty: no file
    };
    const std::vector<Case> cases{
        {"the queue", TakeMode::streamed, First::queue, {0.2f, 0.5f}},
        {"the next buffer", TakeMode::streamed, First::nextBuffer, {0.2f, 0.5f}},
        {"a file-only take's next buffer", TakeMode::fileOnly, First::nextBuffer, {0.2f, 0.5f}},
        {"a streamed take's end", TakeMode::streamed, First::end, {}},
        {"a file-only take's end", TakeMode::fileOnly, First::end, {}},
        {"a discard", TakeMode::streamed, First::discard, {}},
    };
    VirtualLoop queue;
    engine->setTakeFileCloser(&queue);
    feeding = false;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto handle = startTake(c.mode);
        settle();
        advance(0.01);
        factory.last()->deliver(480, 0.2f);
        ASSERT_TRUE(advanceUntil([&] { return handle.isDone(); }));
        ASSERT_FALSE(handle.hasFailed());
        ASSERT_TRUE(engine->captureLive()) << "live on the opening buffer, before any file";
        const QString path = engine->takeFilePath().value();
        switch (c.first) {
        case First::queue:
            queue.runUntilIdle();
            ASSERT_TRUE(QFile::exists(path));
            factory.last()->deliver(480, 0.5f);
            break;
        case First::nextBuffer:
            factory.last()->deliver(480, 0.5f);
            ASSERT_TRUE(QFile::exists(path));
            break;
        case First::end:
        case First::discard:
            break;
        }
        advance(0.6);
        if (c.first == First::discard) {
            engine->discardTake();
        } else {
            ASSERT_EQ(engine->takeResult().kind(),
                      c.file.empty() ? TakeResult::Kind::empty : TakeResult::Kind::captured);
        }
        if (c.mode == TakeMode::fileOnly && !c.file.empty()) {
            EXPECT_TRUE(QFile::exists(path)) << "a file-only take's file is complete when its result is";
        }
        queue.runUntilIdle();

        std::vector<float> pieces;
        if (auto opened = platform::AudioFile::openForReading(path)) {
            auto samples = opened.value()->read(48000);
            ASSERT_TRUE(samples);
            for (std::uint32_t at = 0; at < samples.value()->frameLength(); at += 480)
                pieces.push_back(samples.value()->channelData(0)[at]);
        }
        EXPECT_EQ(pieces, c.file);
        QFile::remove(path);
    }
}

TEST_F(AudioEngineTest, LevelMeterSmoothsChunksOnAudioTimeAndRestartsItsClockAfterAGap)
{
    ASSERT_TRUE(beginQuietTake());

    const rt::Nanos now = loop.now();
    // Chunks of 48000 / 48 = 1000 frames: four full ones and a last one of 800.
    factory.last()->deliver(4800, 1.0f);
    settle();
    const auto &history = engine->history();
    ASSERT_EQ(history.count(), 5);
    EXPECT_NEAR(history.at(0).level, 1 - std::exp(-(1000.0 / 48000) / 0.015), 1e-9) << "about 0.75";
    EXPECT_NEAR(rt::Seconds(history.at(0).t - now).count(), 1000.0 / 48000, 1e-6);
    EXPECT_NEAR(rt::Seconds(history.at(4).t - now).count(), 0.1, 1e-6)
        << "spaced by audio time, the last chunk shorter";

    loop.clocks().shiftWall(std::chrono::hours(1)); // a clock step (network time) moves no level
    factory.last()->deliver(480, 0.01f);            // -40 dBFS: falls toward 15/43 with the slow constant
    settle();
    const double expected = history.at(4).level * std::exp(-0.01 / 0.18) + (15.0 / 43) * (1 - std::exp(-0.01 / 0.18));
    EXPECT_NEAR(history.at(5).level, expected, 1e-6);
    EXPECT_NEAR(rt::Seconds(history.at(5).t - now).count(), 0.11, 1e-6) << "continues from the previous buffer";

    advance(10.0);
    factory.last()->deliver(480, 0.1f);
    settle();
    EXPECT_NEAR(rt::Seconds(history.at(6).t - loop.now()).count(), 0.01, 1e-6)
        << "stamped from now, not 10 s in the past";
}

// --- Recovery of a running take ------------------------------------------------------------------

TEST_F(AudioEngineTest, DeviceChangeMidTakeRebuildsAndTheTakeFileStaysOneRecording)
{
    ASSERT_TRUE(beginTake(TakeMode::streamed));
    const QString file = engine->takeFilePath().value();
    advance(0.5);
    // The device comes back at another rate: the rest of the take is converted, not garbled.
    factory.setDefaultScript(script(mic, QStringLiteral("USB Mic"), InputTransport::usb, 44100));
    ASSERT_TRUE(factory.last()->signalRecovery());
    advance(0.001);
    EXPECT_EQ(factory.madeCount(), 2);
    EXPECT_EQ(factory.cores()[0]->stopCount(), 1);
    EXPECT_EQ(eventsOf(DiagnosticEvent::audioConfigurationChanged)[0].metadata,
              meta({{"take_active", "true"}, {"disposition", "rebuild"}}));
    EXPECT_EQ(eventsOf(DiagnosticEvent::audioRecoveryStarted)[0].metadata,
              meta({{"attempt", "1"}, {"mode", "rebuild"}, {"reason", "config_change"}}));
    EXPECT_EQ(eventsOf(DiagnosticEvent::audioRecoveryCompleted).size(), 1u);
    EXPECT_TRUE(engine->recovery().recovering);
    advance(1.2);
    EXPECT_FALSE(engine->recovery().recovering) << "verified: buffers flow again";
    advance(0.3);
    EXPECT_EQ(engine->captureFormat(), (platform::AudioFormat{48000, 1}));
    const auto result = engine->takeResult();
    ASSERT_EQ(result.kind(), TakeResult::Kind::captured);
    auto opened = platform::AudioFile::openForReading(file);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened.value()->processingFormat().sampleRate, 48000);
    EXPECT_NEAR(double(opened.value()->length()) / 48000, 2.0, 0.05) << "both sessions in one 48 kHz file";
}

TEST_F(AudioEngineTest, EndingATakeWhileTheAudioThreadConvertsClosesAValidFile)
{
    // A take rebuilt at another rate converts every buffer as it writes it: with ten-second buffers
    // the close nearly always lands inside a conversion, and must wait for it rather than free the
    // converter and the file under it. A few takes make it likelier still.
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        feeding = true;
        factory.setDefaultScript(script(mic, QStringLiteral("USB Mic"), InputTransport::usb));
        ASSERT_TRUE(beginTake(TakeMode::streamed));
        const QString file = engine->takeFilePath().value();
        advance(0.5);
        factory.setDefaultScript(script(mic, QStringLiteral("USB Mic"), InputTransport::usb, 44100));
        ASSERT_TRUE(factory.last()->signalRecovery());
        advance(1.5);
        ASSERT_FALSE(engine->recovery().recovering);
        feeding = false;
        auto core = factory.last();
        std::jthread audio([core](std::stop_token stop) {
            while (!stop.stop_requested())
                core->deliver(441000);
        });
        const std::int64_t before = engine->tapFires();
        ASSERT_TRUE(test::waitFor([&] { return engine->tapFires() >= before + 2; }, test::kLoadedMachineTimeout));
        const auto result = engine->takeResult();
        audio.request_stop();
        audio.join();
        ASSERT_EQ(result.kind(), TakeResult::Kind::captured);
        auto opened = platform::AudioFile::openForReading(file);
        ASSERT_TRUE(opened);
        EXPECT_GT(opened.value()->length(), 20 * 48000) << "the buffers written before the end are in the file";
    }
}

TEST_F(AudioEngineTest, RecoveriesAreCappedAtThreeAndAChangeDuringARebuildIsCoalesced)
{
    ASSERT_TRUE(beginTake());
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(factory.last()->signalRecovery());
        advance(1.3);
    }
    EXPECT_EQ(factory.madeCount(), 4);
    EXPECT_EQ(engine->recovery().recoveriesUsed, 3);

    ASSERT_TRUE(factory.last()->signalRecovery());
    advance(0.1);
    EXPECT_EQ(factory.madeCount(), 4) << "the fourth change only records the limit";
    EXPECT_EQ(eventsOf(DiagnosticEvent::audioConfigurationChanged).back().metadata,
              meta({{"take_active", "true"}, {"disposition", "recovery_limit"}}));
    EXPECT_EQ(eventsOf(DiagnosticEvent::audioRecoveryFailed).back().metadata,
              meta({{"attempt", "3"}, {"mode", "config_change"}, {"reason", "recovery_limit"}}));
    EXPECT_EQ(engine->takePhase(), TakePhase::live(true)) << "the take continues";
    (void)engine->takeResult();

    // A second change while a rebuild is in flight does not count.
    ASSERT_TRUE(beginTake());
    auto gate = std::make_shared<FakeGate>();
    auto held = script(mic, QStringLiteral("USB Mic"), InputTransport::usb);
    held.hold = gate;
    factory.enqueue(held);
    auto previous = factory.last();
    ASSERT_TRUE(previous->signalRecovery());
    ASSERT_TRUE(runUntilReached(*gate));
    engine->inputPreferenceChanged(InputChangeTrigger::system); // waits for the take to end
    events.clear();
    gate->open();
    advance(0.001);
    ASSERT_TRUE(factory.last()->signalRecovery());
    advance(0.001);
    EXPECT_EQ(eventsOf(DiagnosticEvent::audioConfigurationChanged).back().metadata,
              meta({{"take_active", "true"}, {"disposition", "coalesced"}}));
    EXPECT_EQ(engine->recovery().recoveriesUsed, 1);
}

TEST_F(AudioEngineTest, RebuildThatStaysSilentIsForcedAgainUntilTheCap)
{
    ASSERT_TRUE(beginTake());
    advance(0.1);
    feeding = false;
    ASSERT_TRUE(factory.last()->signalRecovery());
    advance(1.2);
    EXPECT_EQ(factory.madeCount(), 3) << "verification found no new buffer and rebuilt";
    EXPECT_EQ(eventsOf(DiagnosticEvent::audioRecoveryStarted).back().metadata,
              meta({{"attempt", "2"}, {"mode", "rebuild"}, {"reason", "verification_dead"}}));
    EXPECT_FALSE(engine->takeInputLost()) << "a rebuild is still under way";
    advance(1.2);
    EXPECT_EQ(factory.madeCount(), 4);
    advance(1.2);
    EXPECT_EQ(factory.madeCount(), 4);
    EXPECT_EQ(eventsOf(DiagnosticEvent::audioRecoveryFailed).back().metadata,
              meta({{"attempt", "3"}, {"mode", "verification"}, {"reason", "verification_dead"}}));
    EXPECT_FALSE(engine->recovery().recovering);
    // No rebuild brought sound back: the take ends with what was heard, marked as cut short.
    EXPECT_TRUE(engine->takeInputLost());
    const auto result = engine->takeResult();
    ASSERT_NE(result.capturedTake(), nullptr);
    EXPECT_TRUE(result.capturedTake()->inputLost);
}

TEST_F(AudioEngineTest, ConfigurationChangeReleasesAnIdleSessionButKeepsOneThatIsStarting)
{
    const auto bt = hardware.addDevice({QStringLiteral("bt-mic"), QStringLiteral("BT Mic"), transportType::bluetooth});
    hardware.setDefaultInput(bt);
    factory.setDefaultScript(script(bt, QStringLiteral("BT Mic"), InputTransport::bluetooth));
    ASSERT_TRUE(beginTake());
    (void)engine->takeResult();
    ASSERT_EQ(engine->takePhase(), TakePhase::graceIdle());
    ASSERT_TRUE(factory.last()->signalRecovery());
    settle();
    EXPECT_FALSE(engine->hasSession());
    EXPECT_EQ(events.back().metadata, meta({{"take_active", "false"}, {"take_starting", "false"}}));

    feeding = false;
    auto handle = startTake();
    settle();
    ASSERT_TRUE(factory.last()->signalRecovery());
    settle();
    EXPECT_TRUE(engine->hasSession());
    EXPECT_EQ(events.back().metadata, meta({{"take_active", "false"}, {"take_starting", "true"}}));
    feeding = true;
    ASSERT_TRUE(advanceUntil([&] { return handle.isDone(); }));
}

// --- Releasing the microphone --------------------------------------------------------------------

TEST_F(AudioEngineTest, BluetoothSessionIsHeldOrReleasedAfterTheGraceWindow)
{
    const auto bt = hardware.addDevice({QStringLiteral("bt-mic"), QStringLiteral("BT Mic"), transportType::bluetooth});
    hardware.setDefaultInput(bt);
    factory.setDefaultScript(script(bt, QStringLiteral("BT Mic"), InputTransport::bluetooth));

    ASSERT_TRUE(beginTake());
    (void)engine->takeResult();
    EXPECT_FALSE(engine->isGraceReleasePending());
    advance(120);
    EXPECT_TRUE(engine->hasSession()) << "held indefinitely with release-when-idle off";

    settings->setValue(keys::releaseMicWhenIdle, true);
    ASSERT_TRUE(beginTake());
    engine->discardTake();
    EXPECT_TRUE(engine->isGraceReleasePending());
    advance(59.99);
    EXPECT_TRUE(engine->hasSession());
    advance(0.02);
    EXPECT_FALSE(engine->hasSession());
    EXPECT_EQ(engine->takePhase(), TakePhase::idle());

    // The grace timer never releases a live take.
    ASSERT_TRUE(beginTake());
    EXPECT_FALSE(engine->isGraceReleasePending());
    advance(61);
    EXPECT_TRUE(engine->hasSession());
}

TEST_F(AudioEngineTest, PickingABluetoothDevicePrewarmsItAndAnUnusedPrewarmIsReleased)
{
    const auto bt = hardware.addDevice({QStringLiteral("bt-mic"), QStringLiteral("BT Mic"), transportType::bluetooth});
    settings->setValue(keys::inputDevice, QStringLiteral("bt-mic"));
    factory.setDefaultScript(script(bt, QStringLiteral("BT Mic"), InputTransport::bluetooth));

    engine->inputPreferenceChanged(InputChangeTrigger::system);
    settle();
    EXPECT_EQ(factory.madeCount(), 0) << "a system change never pre-warms";

    engine->inputPreferenceChanged(InputChangeTrigger::picker);
    EXPECT_EQ(engine->takePhase(), TakePhase::starting());
    ASSERT_TRUE(advanceUntil([&] { return engine->takePhase() == TakePhase::graceIdle(); }));
    EXPECT_TRUE(engine->hasSession());
    EXPECT_TRUE(eventsOf(DiagnosticEvent::audioStartFailed).empty());
    const rt::Nanos ready = loop.now();
    ASSERT_TRUE(advanceUntil([&] { return !engine->hasSession(); }, 40));
    EXPECT_EQ(loop.now() - ready, 30s);

    // A picker change to a USB device tears down and only arms lazily.
    settings->setValue(keys::inputDevice, QStringLiteral("usb-mic"));
    engine->inputPreferenceChanged(InputChangeTrigger::picker);
    settle();
    EXPECT_EQ(factory.madeCount(), 1);
}

TEST_F(AudioEngineTest, DefaultInputChangeWhileIdleReleasesAnUnpinnedSessionOnly)
{
    const auto bt = hardware.addDevice({QStringLiteral("bt-mic"), QStringLiteral("BT Mic"), transportType::bluetooth});
    const auto other = hardware.addDevice({QStringLiteral("other"), QStringLiteral("Other"), transportType::usb});
    hardware.setDefaultInput(bt);
    factory.setDefaultScript(script(bt, QStringLiteral("BT Mic"), InputTransport::bluetooth));
    ASSERT_TRUE(beginTake());
    (void)engine->takeResult();
    ASSERT_TRUE(engine->hasSession());

    hardware.setDefaultInput(other); // listeners run on this thread, then post to the loop
    settle();
    EXPECT_FALSE(engine->hasSession());
    EXPECT_EQ(factory.madeCount(), 1) << "no pre-warm on a system change";

    settings->setValue(keys::inputDevice, QStringLiteral("bt-mic"));
    ASSERT_TRUE(beginTake());
    (void)engine->takeResult();
    LogCatcher log;
    hardware.setDefaultInput(mic);
    settle();
    EXPECT_TRUE(engine->hasSession());
    EXPECT_TRUE(log.contains(QStringLiteral("selected microphone is pinned, ignoring it")));
}

TEST_F(AudioEngineTest, IllegalTransitionIsLoggedAndLeavesThePhase)
{
    ASSERT_TRUE(beginTake());
    LogCatcher log;
    auto second = startTake();
    ASSERT_TRUE(advanceUntil([&] { return second.isDone(); }));
    EXPECT_TRUE(log.contains(QStringLiteral("illegal take transition startClaimed from live")));
    EXPECT_EQ(engine->takePhase().kind(), TakePhase::Kind::live);
}

} // namespace

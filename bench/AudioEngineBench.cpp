// Trigger to live on a private PulseAudio daemon: the time from the engine's start of a take to the
// take's first proved buffer, on a warm session (kept open after the previous take) and on a cold one:
// the first take of a launch, made afresh for each sample with its own server connection, HAL queue and
// engine, pressed a moment after the launch as a user would. Take by take, interleaved with them, a bare
// PulseAudio client reads the same microphone the same way (cold: connect, open, first samples; warm:
// the next samples on its open stream), so the ratio of the two is the engine's own cost. The engine's
// connection is made at its launch, ahead of the press, while the bare cold start makes its own: the
// cold start's goal is over bare_open, a bare client connected a moment before, so neither side counts
// a connection (the ratios over the clients that connect are figures). The microphone delivers steadily in the short
// fragments a client asks for, as a real one does. The loop sleeps between events while it waits, so the wait takes no
// core from what it measures.
#include "audio/AudioEngine.h"
#include "audio/BoundedHALExecutor.h"
#include "pipeline/SettingsDefaults.h"
#include "platform/linux/pulse/PulseAudioHardware.h"
#include "runtime/Clocks.h"
#include "runtime/QtMainLoop.h"
#include "runtime/SerialQueue.h"
#include "runtime/Settings.h"
#include "support/FakeCaptureCore.h"
#include "support/PulseServer.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTimer>

#include "BenchmarkRun.h"

#include <benchmark/benchmark.h>

#include <pulse/context.h>
#include <pulse/simple.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>

#include <chrono>
#include <cstdio>
#include <thread>

using namespace std::chrono_literals;
using namespace zq;

namespace {

// One sound server and microphone for every benchmark of the run.
struct Rig {
    QTemporaryDir folder;
    test::PulseServer server;
    std::unique_ptr<test::PipeFeeder> feeder;
    std::unique_ptr<rt::Settings> settings;
    rt::QtMainLoop loop;
    rt::SystemClocks clocks;
    QString error;

    bool start()
    {
        test::PulseDevices devices;
        devices.pipeMicrophone = false;
        if (!server.start(devices)) {
            error = server.errorString();
            return false;
        }
        // A paced pipe source that says it is a Bluetooth headset: fed in 10 ms pieces every 10 ms,
        // it hands over audio as steadily as a live microphone's fragments, and the engine holds its
        // session between takes, so the next start is warm.
        const QString fifo = folder.filePath(QStringLiteral("mic.fifo"));
        auto loaded =
            server.loadModule(QStringLiteral("module-pipe-source"),
                              {QStringLiteral("source_name=zq_bench_mic"), QStringLiteral("file=") + fifo,
                               QStringLiteral("format=s16le"), QStringLiteral("rate=16000"),
                               QStringLiteral("channels=1"), QStringLiteral("source_properties=device.bus=bluetooth")});
        if (!loaded || !server.setDefaultSource(QStringLiteral("zq_bench_mic"))) {
            error = loaded ? QStringLiteral("cannot make the bench source the default") : loaded.error().message;
            return false;
        }
        feeder = std::make_unique<test::PipeFeeder>(fifo, 200, 10ms);
        if (!feeder->start()) {
            error = feeder->errorString();
            return false;
        }
        settings = std::make_unique<rt::Settings>(folder.filePath(QStringLiteral("settings.json")));
        registerDefaults(*settings);
        return true;
    }

    // Runs the loop, asleep until its next event, until `predicate` holds (checked after every event).
    bool runUntil(const std::function<bool()> &predicate, std::chrono::milliseconds timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        QTimer wake; // the deadline is an event too
        wake.setSingleShot(true);
        wake.setTimerType(Qt::PreciseTimer);
        while (!predicate()) {
            const auto left = deadline - std::chrono::steady_clock::now();
            if (left <= std::chrono::steady_clock::duration::zero())
                return false;
            if (!wake.isActive())
                wake.start(std::chrono::ceil<std::chrono::milliseconds>(left));
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        return true;
    }

    // The source delivers in fragments: vary the pause so that starts do not keep the same phase
    // against them.
    void pauseBetweenTakes(int take)
    {
        runUntil([] { return false; }, std::chrono::milliseconds(100 + 37 * take % 100));
    }

    // Seconds from the start of a take to its first proved buffer; nullopt when the take never went live.
    std::optional<double> triggerToLive(AudioEngine &engine)
    {
        bool live = false;
        engine.setOnTakeLive([&] { live = true; });
        const auto begun = std::chrono::steady_clock::now();
        auto handle = rt::spawn(loop, engine.start(TakeMode::streamed, true, std::make_shared<TakeStartIntent>()));
        if (!runUntil([&] { return live || (handle.isDone() && handle.hasFailed()); }, 10s) || !live)
            return std::nullopt;
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
        engine.setOnTakeLive({});
        return seconds;
    }
};

// What a launch of the application holds for capture, as the application wires it: its own
// connection to the server (begun before the engine is made), its HAL queue, its take-file queue and
// its engine.
struct Launch {
    Launch(Rig &rig) : hardware(rig.server.serverAddress()), harness(hardware)
    {
        hardware.start();
        CaptureCoreServices services = harness.realTimeServices(rig.clocks);
        engine = std::make_unique<AudioEngine>(
            AudioEngine::Dependencies{rig.loop, rig.clocks, *rig.settings, hardware,
                                      [services](CaptureCoreKind kind) { return makeCaptureCore(kind, services); },
                                      rig.folder.filePath(QStringLiteral("takes")), &executor,
                                      [](DiagnosticEvent, const DiagnosticMetadata &) {}});
        engine->setTakeFileCloser(&takeFiles);
    }
    ~Launch()
    {
        engine.reset();
        harness.releaseStopped();
    }
    Launch(const Launch &) = delete;
    Launch &operator=(const Launch &) = delete;

    platform::PulseAudioHardware hardware;
    test::CaptureCoreTestServices harness;
    BoundedHALExecutor executor{QStringLiteral("bench.engine-hal")};
    rt::SerialQueue takeFiles{QStringLiteral("bench.take-files")};
    std::unique_ptr<AudioEngine> engine;
};

Rig *rig = nullptr;

// A plain recording client of the bench microphone (float mono at the source's rate, 10 ms
// fragments), made on demand.
struct BareClient {
    pa_simple *stream = nullptr;

    bool open()
    {
        const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, 16000, 1};
        pa_buffer_attr attributes{};
        attributes.maxlength = static_cast<std::uint32_t>(-1);
        attributes.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(10 * 1000, &spec));
        const QByteArray server = rig->server.serverAddress().toUtf8();
        stream = pa_simple_new(server.constData(), "bench", PA_STREAM_RECORD, "zq_bench_mic", "bare client", &spec,
                               nullptr, &attributes, nullptr);
        return stream != nullptr;
    }
    // Blocks until the microphone delivers its next samples.
    bool readSome()
    {
        float samples[16];
        return pa_simple_read(stream, samples, sizeof samples, nullptr) == 0;
    }
    // Blocks until samples delivered after the call arrive: what is already buffered comes out at
    // once and is skipped (a read that had to wait got a fresh delivery).
    bool readFresh()
    {
        for (;;) {
            const auto begun = std::chrono::steady_clock::now();
            if (!readSome())
                return false;
            if (std::chrono::steady_clock::now() - begun > 1ms)
                return true;
        }
    }
    ~BareClient()
    {
        if (stream)
            pa_simple_free(stream);
    }
};

// The same client with its connection made beforehand, as a launch makes the engine's: only the
// stream's opening and its first samples are left to time.
struct ConnectedBareClient {
    pa_threaded_mainloop *loop = nullptr;
    pa_context *context = nullptr;

    static void signal(void *loop) { pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop *>(loop), 0); }

    bool connect()
    {
        loop = pa_threaded_mainloop_new();
        if (!loop || pa_threaded_mainloop_start(loop) < 0)
            return false;
        pa_threaded_mainloop_lock(loop);
        context = pa_context_new(pa_threaded_mainloop_get_api(loop), "bench");
        pa_context_set_state_callback(
            context, [](pa_context *, void *loop) { signal(loop); }, loop);
        const QByteArray server = rig->server.serverAddress().toUtf8();
        bool ready = pa_context_connect(context, server.constData(), PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0;
        while (ready && pa_context_get_state(context) != PA_CONTEXT_READY) {
            ready = PA_CONTEXT_IS_GOOD(pa_context_get_state(context));
            if (ready)
                pa_threaded_mainloop_wait(loop);
        }
        pa_threaded_mainloop_unlock(loop);
        return ready;
    }
    // Opens a stream as BareClient does (its parameters and pa_simple's flags) and waits for its
    // first samples.
    bool openAndReadSome()
    {
        const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, 16000, 1};
        pa_buffer_attr attributes{};
        attributes.maxlength = static_cast<std::uint32_t>(-1);
        attributes.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(10 * 1000, &spec));
        pa_threaded_mainloop_lock(loop);
        pa_stream *stream = pa_stream_new(context, "bare client", &spec, nullptr);
        bool delivered = false;
        if (stream) {
            pa_stream_set_state_callback(
                stream, [](pa_stream *, void *loop) { signal(loop); }, loop);
            pa_stream_set_read_callback(
                stream, [](pa_stream *, std::size_t, void *loop) { signal(loop); }, loop);
            const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_ADJUST_LATENCY |
                                                              PA_STREAM_AUTO_TIMING_UPDATE);
            bool good = pa_stream_connect_record(stream, "zq_bench_mic", &attributes, flags) >= 0;
            while (good && !delivered) {
                const pa_stream_state_t state = pa_stream_get_state(stream);
                good = PA_STREAM_IS_GOOD(state);
                delivered = state == PA_STREAM_READY && pa_stream_readable_size(stream) > 0;
                if (good && !delivered)
                    pa_threaded_mainloop_wait(loop);
            }
            if (good)
                pa_stream_disconnect(stream);
            pa_stream_unref(stream);
        }
        pa_threaded_mainloop_unlock(loop);
        return delivered;
    }
    ~ConnectedBareClient()
    {
        if (loop)
            pa_threaded_mainloop_stop(loop);
        if (context) {
            pa_context_disconnect(context);
            pa_context_unref(context);
        }
        if (loop)
            pa_threaded_mainloop_free(loop);
    }
};

double secondsSince(std::chrono::steady_clock::time_point begun)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - begun).count();
}

// Connect, open the stream, first samples: the bare counterpart of a cold start.
std::optional<double> bareCold()
{
    const auto begun = std::chrono::steady_clock::now();
    BareClient client;
    if (!client.open() || !client.readSome())
        return std::nullopt;
    return secondsSince(begun);
}

// Open and first samples on a connection made a moment before, as the engine's was at its launch.
std::optional<double> bareOpenOnConnection()
{
    ConnectedBareClient client;
    if (!client.connect())
        return std::nullopt;
    rig->runUntil([] { return false; }, 100ms); // the connection settles, as a launch's does
    const auto begun = std::chrono::steady_clock::now();
    if (!client.openAndReadSome())
        return std::nullopt;
    return secondsSince(begun);
}

// The same, then the next fresh samples: what a client pays that, like the engine, first proves the
// stream delivers and only then keeps what it reads (the engine's take begins after the buffer that
// proved its session).
std::optional<double> bareColdProving()
{
    const auto begun = std::chrono::steady_clock::now();
    BareClient client;
    if (!client.open() || !client.readSome() || !client.readFresh())
        return std::nullopt;
    return secondsSince(begun);
}

// The engine's starts against a bare client doing the same work. Both take about a millisecond, so a
// ratio of the two says little: the goal is what the engine adds to a press, which a user would feel
// only if it came near the length of a short syllable; the ratio is a figure beside it.
constexpr double kEngineAddsAtMostMs = 5;

void reportTimes(benchmark::State &state, const std::vector<double> &engine, const std::vector<double> &bare)
{
    zq::bench::reportMedianAndWorst(state, engine, "ms", 1000, "engine_");
    zq::bench::reportMedianAndWorst(state, bare, "ms", 1000, "bare_");
}

void BM_TriggerToLiveCold(benchmark::State &state)
{
    std::vector<double> engineTakes;
    std::vector<double> bareTakes;
    std::vector<double> provingTakes;
    std::vector<double> openTakes;
    for (auto _ : state) {
        std::optional<double> live;
        {
            Launch launch(*rig);
            rig->runUntil([] { return false; }, 300ms); // the launch settles; the user reaches for the trigger
            live = rig->triggerToLive(*launch.engine);
            if (live)
                launch.engine->discardTake();
        }
        if (!live) {
            state.SkipWithError("the take never went live");
            break;
        }
        state.SetIterationTime(*live);
        engineTakes.push_back(*live);
        rig->pauseBetweenTakes(int(engineTakes.size()));
        // The bare clients, each after the engine's take and a pause of its own length.
        const struct {
            std::optional<double> (*measure)();
            std::vector<double> &takes;
            int pauseOffset;
        } bareClients[] = {
            {bareCold, bareTakes, 3}, {bareColdProving, provingTakes, 5}, {bareOpenOnConnection, openTakes, 7}};
        bool measured = true;
        for (const auto &client : bareClients) {
            const auto seconds = client.measure();
            if (!seconds) {
                state.SkipWithError("the bare client cannot read the bench microphone");
                measured = false;
                break;
            }
            client.takes.push_back(*seconds);
            rig->pauseBetweenTakes(int(client.takes.size()) + client.pauseOffset);
        }
        if (!measured)
            break;
    }
    // The bare cold clients make a connection, which the engine made at its launch: their ratios are
    // figures beside the goal, not goals.
    reportTimes(state, engineTakes, bareTakes);
    zq::bench::reportRatioCounters(state, "cold_over_bare", engineTakes, bareTakes);
    zq::bench::reportMedianAndWorst(state, provingTakes, "ms", 1000, "bare_proving_");
    zq::bench::reportRatioCounters(state, "cold_over_bare_proving_first", engineTakes, provingTakes);
    // Equal work: a bare client connected beforehand, as the engine's launch is (the stream's opening
    // and first samples on both sides).
    zq::bench::reportMedianAndWorst(state, openTakes, "ms", 1000, "bare_open_");
    zq::bench::reportRatioCounters(state, "cold_over_bare_open", engineTakes, openTakes);
    zq::bench::reportExcess("cold press to live, the engine's time above a bare client's", engineTakes, openTakes,
                            kEngineAddsAtMostMs);
}
BENCHMARK(BM_TriggerToLiveCold)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_TriggerToLiveWarm(benchmark::State &state)
{
    Launch launch(*rig);
    AudioEngine *engine = launch.engine.get();
    if (!rig->triggerToLive(*engine)) {
        state.SkipWithError("the first take never went live");
        return;
    }
    engine->discardTake(); // the session stays open for the next take
    BareClient client;     // and so does the bare client's stream
    if (!client.open() || !client.readSome()) {
        state.SkipWithError("the bare client cannot read the bench microphone");
        return;
    }
    std::vector<double> engineTakes;
    std::vector<double> bareTakes;
    for (auto _ : state) {
        rig->pauseBetweenTakes(int(engineTakes.size()));
        const auto live = rig->triggerToLive(*engine);
        if (!live) {
            state.SkipWithError("the take never went live");
            break;
        }
        state.SetIterationTime(*live);
        engineTakes.push_back(*live);
        engine->discardTake();
        rig->pauseBetweenTakes(int(engineTakes.size()) + 3);
        const auto begun = std::chrono::steady_clock::now();
        if (!client.readFresh()) {
            state.SkipWithError("the bare client lost the bench microphone");
            break;
        }
        bareTakes.push_back(secondsSince(begun));
    }
    reportTimes(state, engineTakes, bareTakes);
    zq::bench::reportRatioCounters(state, "warm_over_bare", engineTakes, bareTakes);
    zq::bench::reportExcess("warm press to live, the engine's time above a bare client's", engineTakes, bareTakes,
                            kEngineAddsAtMostMs);
}
BENCHMARK(BM_TriggerToLiveWarm)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

} // namespace

int main(int argc, char **argv)
{
    qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("io.quorvane.zepaquarn.*=false"));
    Rig shared;
    if (!shared.start()) {
        // Nothing measured: its goals are missed, not passed over.
        std::fprintf(stderr, "AudioEngineBench: no private PulseAudio daemon: %s\n", qPrintable(shared.error));
        return 1;
    }
    rig = &shared;
    return zq::bench::runBenchmarks(argc, argv);
}

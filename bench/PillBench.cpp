// The pill's costs: painting one frame with its meter (the window redraws up to 30 times a second
// while shown), and the real application's CPU time, as a share of one core, over 10 s of listening
// to a silent room with the pill up, over 10 s of a take with speech (the whole process and its main
// thread), and over 10 s idle with the pill hidden.
#include "menubar/PillView.h"
#include "records/DiagnosticEvent.h"
#include "support/ChildProcess.h"
#include "support/E2EEnvironment.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QThread>

#include "BenchmarkRun.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using zq::PillAnimationStyle;
using zq::PillState;
using zq::PillView;

// A live take 2 s in, with a full level history, as the window draws it.
PillView liveFrame(PillAnimationStyle style)
{
    zq::LevelHistory history;
    for (int i = 0; i < 64; ++i)
        history.append(100 + 0.02 * i, 0.5 + 0.4 * std::sin(0.7 * i));
    PillView view;
    view.lifecycle.apply(PillState::listening(), {}, 99);
    view.lifecycle.noteCapture(true, {}, 99.2);
    view.animationStyle = style;
    view.liveHistory = history;
    view.engineCaptureLive = true;
    return view;
}

void paintFrames(benchmark::State &state, PillAnimationStyle style)
{
    const PillView view = liveFrame(style);
    QImage surface(460, 100, QImage::Format_ARGB32_Premultiplied);
    std::vector<double> micros;
    double now = 101;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        surface.fill(Qt::transparent);
        QPainter painter(&surface);
        view.paint(painter, QRectF(0, 0, 460, 100), now);
        painter.end();
        const double elapsed = static_cast<double>(timer.nsecsElapsed()) / 1e9;
        state.SetIterationTime(elapsed);
        micros.push_back(elapsed * 1e6);
        now += 1.0 / 30;
    }
    zq::bench::reportMedianAndWorst(state, std::move(micros), "us");
}

void BM_PillFrameLogoBars(benchmark::State &state)
{
    paintFrames(state, PillAnimationStyle::logoBars);
}
BENCHMARK(BM_PillFrameLogoBars)->Iterations(900)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_PillFrameSurface(benchmark::State &state)
{
    paintFrames(state, PillAnimationStyle::surface);
}
BENCHMARK(BM_PillFrameSurface)->Iterations(900)->UseManualTime()->Unit(benchmark::kMicrosecond);

// User plus system CPU seconds the process (or, with `thread`, that one thread of it) has used so
// far; none once it is gone.
std::optional<double> cpuSeconds(qint64 pid, qint64 thread = 0)
{
    QFile stat(thread > 0 ? QStringLiteral("/proc/%1/task/%2/stat").arg(pid).arg(thread)
                          : QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray line = stat.readAll();
    // Fields after the command name, which may hold spaces, start after its closing parenthesis.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return std::nullopt;
    const double ticks = static_cast<double>(fields[11].toLongLong() + fields[12].toLongLong());
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

struct CpuShare {
    double process = 0; // of one core
    double mainThread = 0;
};

// The process's and its main thread's share of one core while `meanwhile` runs (at least `span`).
std::optional<CpuShare> cpuOver(qint64 pid, std::chrono::seconds span, const std::function<void()> &meanwhile = {})
{
    QElapsedTimer timer;
    timer.start();
    const auto before = cpuSeconds(pid);
    const auto mainBefore = cpuSeconds(pid, pid);
    if (meanwhile)
        meanwhile();
    const qint64 rest = std::chrono::milliseconds(span).count() - timer.elapsed();
    if (rest > 0)
        QThread::msleep(static_cast<unsigned long>(rest));
    const auto after = cpuSeconds(pid);
    const auto mainAfter = cpuSeconds(pid, pid);
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    if (!before || !after || !mainBefore || !mainAfter)
        return std::nullopt;
    return CpuShare{(*after - *before) / seconds, (*mainAfter - *mainBefore) / seconds};
}

void BM_AppCpuListeningAgainstIdle(benchmark::State &state)
{
    const std::vector<std::int16_t> speech = zq::test::E2EEnvironment::speechSamples();
    if (speech.empty()) {
        state.SkipWithError(qPrintable(QStringLiteral("missing ") + zq::test::E2EEnvironment::speechPath()));
        return;
    }
    zq::test::E2EEnvironment env;
    if (!env.start() || !env.writeSettings() || !env.startApp()) {
        state.SkipWithError(qPrintable(env.errorString()));
        return;
    }
    for (auto _ : state) {
        env.pressTrigger();
        if (!env.waitForJournal(zq::DiagnosticEvent::audioStartCompleted, 1, 10s)) {
            state.SkipWithError("the take's audio never started");
            break;
        }
        // The pill's window names the process that owns it.
        QProcessEnvironment display = QProcessEnvironment::systemEnvironment();
        display.insert(QStringLiteral("DISPLAY"), env.display());
        const auto found = zq::test::runTool(QStringLiteral("xdotool"),
                                             {QStringLiteral("search"), QStringLiteral("--name"),
                                              QStringLiteral("ZEPA QUARN pill"), QStringLiteral("getwindowpid")},
                                             display);
        const qint64 pid = found.standardOutput.trimmed().split('\n').value(0).toLongLong();
        if (!found.succeeded() || pid <= 0) {
            state.SkipWithError("the pill window was not found");
            break;
        }
        const auto silence = cpuOver(pid, 10s);
        // The same take goes on with speech, sentence after sentence, for as long again.
        const auto speaking = cpuOver(pid, 10s, [&] {
            QElapsedTimer spoken;
            spoken.start();
            while (spoken.elapsed() < 9000) {
                env.feeder()->speak(speech);
                env.feeder()->waitUntilSpoken(15s);
            }
        });
        env.releaseTrigger();
        // The take ends (its words are pasted), the pill leaves, the timers settle.
        QThread::sleep(5);
        const auto idle = cpuOver(pid, 10s);
        if (!silence || !speaking || !idle) {
            state.SkipWithError("the application ended during the measurement");
            break;
        }
        state.SetIterationTime(10);
        state.counters["silence_cpu_pct"] = 100 * silence->process;
        state.counters["silence_main_pct"] = 100 * silence->mainThread;
        state.counters["speech_cpu_pct"] = 100 * speaking->process;
        state.counters["speech_main_pct"] = 100 * speaking->mainThread;
        state.counters["idle_cpu_pct"] = 100 * idle->process;
        zq::bench::reportGoal("listening to silence, whole application", 100 * silence->process, "% of a core");
        zq::bench::reportGoal("take with speech, main thread", 100 * speaking->mainThread, "% of a core");
    }
    env.stopApp();
}
BENCHMARK(BM_AppCpuListeningAgainstIdle)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char **argv)
{
    // Nothing here may reach the user's own session bus or display; the frames paint offscreen.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    return zq::bench::runBenchmarks(argc, argv);
}

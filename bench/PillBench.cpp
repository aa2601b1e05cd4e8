// The pill's costs: painting one frame with its meter (the window redraws up to 30 times a second
// while shown), and the real application's CPU time over 10 s of listening with the pill up,
// against 10 s idle with the pill hidden.
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

// User plus system CPU seconds the process has used so far; none once it is gone.
std::optional<double> cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
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

std::optional<double> cpuOver(qint64 pid, std::chrono::seconds span)
{
    const auto before = cpuSeconds(pid);
    QThread::sleep(static_cast<unsigned long>(span.count()));
    const auto after = cpuSeconds(pid);
    if (!before || !after)
        return std::nullopt;
    return *after - *before;
}

void BM_AppCpuListeningAgainstIdle(benchmark::State &state)
{
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
        const auto listening = cpuOver(pid, 10s);
        env.releaseTrigger();
        // The take ends (a silent one fails quietly), the pill leaves, the timers settle.
        QThread::sleep(5);
        const auto idle = cpuOver(pid, 10s);
        if (!listening || !idle) {
            state.SkipWithError("the application ended during the measurement");
            break;
        }
        state.SetIterationTime(10);
        state.counters["listening_cpu_ms"] = *listening * 1000;
        state.counters["idle_cpu_ms"] = *idle * 1000;
        state.counters["listening_cpu_pct"] = *listening * 10;
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

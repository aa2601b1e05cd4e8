// The pill's costs: painting one frame with its meter (the window draws up to 30 frames a second
// while shown, and sends the display only what changed), telling a frame of silence from the one
// the window shows (such a frame is not drawn), and the real application's CPU time, as a
// share of one core, over 10 s of listening to a silent room with the pill up, over 10 s of a take
// with speech (the whole process and its main thread), and over 10 s idle with the pill hidden. The
// pill's own cost is what it takes on the main thread, where it draws, plus what the display server
// spends putting it on screen; the whole process also carries the live decoder, which decodes the
// silence as well, and is reported beside it.
#include "menubar/PillView.h"
#include "records/DiagnosticEvent.h"
#include "support/ChildProcess.h"
#include "support/E2EEnvironment.h"

#include <QDir>
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

// What the pill may cost, as a share of one core: while it listens to a silent room (its main-thread
// drawing and the display server putting it on screen), and the main thread while a take with speech
// runs.
constexpr double kPillInSilenceLimitPct = 2;
constexpr double kMainThreadInSpeechLimitPct = 3;

// A live take 2 s in, with a full level history, as the window draws it.
PillView liveFrame(PillAnimationStyle style)
{
    zq::LevelHistory history;
    for (int i = 0; i < 64; ++i)
        history.append(zq::rt::seconds(100 + 0.02 * i), 0.5 + 0.4 * std::sin(0.7 * i));
    PillView view;
    view.lifecycle.apply(PillState::listening(), {}, zq::rt::seconds(99));
    view.lifecycle.noteCapture(true, {}, zq::rt::seconds(99.2));
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
    zq::rt::Nanos now = 101s;
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
        now += zq::rt::Nanos(1s) / 30;
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

// A live take in a silent room, as the window meets each frame once the bars have come in: it
// resolves the frame's look and finds it equal to the one it shows.
void BM_PillSilentFrame(benchmark::State &state)
{
    PillView view = liveFrame(PillAnimationStyle::logoBars);
    view.liveHistory = zq::LevelHistory();
    for (int i = 0; i < 64; ++i)
        view.liveHistory.append(zq::rt::seconds(100 + 0.02 * i), 0);
    const QRectF rect(0, 0, 460, 100);
    zq::rt::Nanos now = 101s;
    const PillView::Look shown = view.look(rect, now);
    std::vector<double> micros;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        const bool same = view.look(rect, now) == shown;
        benchmark::DoNotOptimize(same);
        const double elapsed = static_cast<double>(timer.nsecsElapsed()) / 1e9;
        if (!same) {
            state.SkipWithError("a silent frame looked different");
            break;
        }
        state.SetIterationTime(elapsed);
        micros.push_back(elapsed * 1e6);
        now += zq::rt::Nanos(1s) / 30;
    }
    zq::bench::reportMedianAndWorst(state, std::move(micros), "us");
}
BENCHMARK(BM_PillSilentFrame)->Iterations(900)->UseManualTime()->Unit(benchmark::kMicrosecond);

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

// The process that listens on the X display `display` (":N"): the owner of its socket; 0 when none is found.
qint64 displayServerPid(const QString &display)
{
    const QByteArray path = "/tmp/.X11-unix/X" + display.mid(display.indexOf(QLatin1Char(':')) + 1).toLatin1();
    QFile sockets(QStringLiteral("/proc/net/unix"));
    if (!sockets.open(QIODevice::ReadOnly))
        return 0;
    QByteArray inode;
    for (const QByteArray &line : sockets.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 8 && (fields[7] == path || fields[7] == "@" + path))
            inode = fields[6];
    }
    if (inode.isEmpty())
        return 0;
    const QString wanted = QStringLiteral("socket:[%1]").arg(QString::fromLatin1(inode));
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        pid.toLongLong(&number);
        if (!number)
            continue;
        const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
        for (const QString &fd : fds.entryList(QDir::System))
            if (QFile::symLinkTarget(fds.filePath(fd)).endsWith(wanted))
                return pid.toLongLong();
    }
    return 0;
}

struct CpuShare {
    double process = 0; // of one core
    double mainThread = 0;
    double displayServer = 0;
};

// The process's, its main thread's and the display server's share of one core while `meanwhile`
// runs (at least `span`).
std::optional<CpuShare> cpuOver(qint64 pid, qint64 displayPid, std::chrono::seconds span,
                                const std::function<void()> &meanwhile = {})
{
    QElapsedTimer timer;
    timer.start();
    const auto before = cpuSeconds(pid);
    const auto mainBefore = cpuSeconds(pid, pid);
    const auto displayBefore = cpuSeconds(displayPid);
    if (meanwhile)
        meanwhile();
    const qint64 rest = std::chrono::milliseconds(span).count() - timer.elapsed();
    if (rest > 0)
        QThread::msleep(static_cast<unsigned long>(rest));
    const auto after = cpuSeconds(pid);
    const auto mainAfter = cpuSeconds(pid, pid);
    const auto displayAfter = cpuSeconds(displayPid);
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    if (!before || !after || !mainBefore || !mainAfter || !displayBefore || !displayAfter)
        return std::nullopt;
    return CpuShare{(*after - *before) / seconds, (*mainAfter - *mainBefore) / seconds,
                    (*displayAfter - *displayBefore) / seconds};
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
        const qint64 displayPid = displayServerPid(env.display());
        if (displayPid <= 0) {
            state.SkipWithError("the display server was not found");
            break;
        }
        const auto silence = cpuOver(pid, displayPid, 10s);
        // The same take goes on with speech, sentence after sentence, for as long again.
        const auto speaking = cpuOver(pid, displayPid, 10s, [&] {
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
        const auto idle = cpuOver(pid, displayPid, 10s);
        if (!silence || !speaking || !idle) {
            state.SkipWithError("the application ended during the measurement");
            break;
        }
        state.SetIterationTime(10);
        const double pillInSilence = silence->mainThread + silence->displayServer;
        state.counters["silence_cpu_pct"] = 100 * silence->process;
        state.counters["silence_main_pct"] = 100 * silence->mainThread;
        state.counters["silence_display_pct"] = 100 * silence->displayServer;
        state.counters["speech_cpu_pct"] = 100 * speaking->process;
        state.counters["speech_main_pct"] = 100 * speaking->mainThread;
        state.counters["speech_display_pct"] = 100 * speaking->displayServer;
        state.counters["idle_cpu_pct"] = 100 * idle->process;
        state.counters["idle_display_pct"] = 100 * idle->displayServer;
        zq::bench::reportLimit("pill while listening to silence (main thread + display server)", 100 * pillInSilence,
                               kPillInSilenceLimitPct, "% of a core");
        zq::bench::reportLimit("take with speech, main thread", 100 * speaking->mainThread, kMainThreadInSpeechLimitPct,
                               "% of a core");
        zq::bench::reportFigure("beside it: listening to silence, whole application (with the live decoder)",
                                100 * silence->process, "% of a core");
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

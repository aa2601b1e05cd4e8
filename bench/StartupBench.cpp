// Launch to the tray icon: the real application on private services, from the start of its process
// to the moment its icon is mapped in the tray host, against a bare Qt tray program launched the same
// way on the same display, one after the other, launch by launch. Beside it, from the same launches of
// the application, the time to its speech model ready for the first take (the line it logs then).
#include "support/E2EEnvironment.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include "BenchmarkRun.h"

#include <benchmark/benchmark.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <functional>
#include <optional>
#include <set>

namespace {

using namespace std::chrono_literals;
using zq::test::E2EEnvironment;

// The first take needs the speech model: ready this soon after the launch, on this machine class.
constexpr double kModelReadyLimitMs = 400;

// Mapped windows anywhere below `window`.
void collectMapped(Display *display, Window window, std::set<Window> &mapped)
{
    Window root = 0;
    Window parent = 0;
    Window *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &count))
        return;
    for (unsigned i = 0; i < count; ++i) {
        XWindowAttributes attributes;
        if (XGetWindowAttributes(display, children[i], &attributes) && attributes.map_state == IsViewable)
            mapped.insert(children[i]);
        collectMapped(display, children[i], mapped);
    }
    if (children)
        XFree(children);
}

// The tray host's windows, found by their class.
std::set<Window> trayWindows(Display *display)
{
    std::set<Window> found;
    std::function<void(Window)> visit = [&](Window window) {
        XClassHint hint{};
        if (XGetClassHint(display, window, &hint)) {
            if (hint.res_class && QByteArray(hint.res_class).toLower() == "trayer")
                found.insert(window);
            XFree(hint.res_name);
            XFree(hint.res_class);
        }
        Window root = 0;
        Window parent = 0;
        Window *children = nullptr;
        unsigned count = 0;
        if (XQueryTree(display, window, &root, &parent, &children, &count)) {
            for (unsigned i = 0; i < count; ++i)
                visit(children[i]);
            if (children)
                XFree(children);
        }
    };
    visit(DefaultRootWindow(display));
    return found;
}

struct Launcher {
    E2EEnvironment &env;
    Display *display = nullptr;
    std::set<Window> trays;

    std::set<Window> mappedInTray()
    {
        std::set<Window> mapped;
        for (const Window tray : trays)
            collectMapped(display, tray, mapped);
        return mapped;
    }

    struct Launch {
        std::optional<double> icon;  // seconds to a new window mapped in the tray
        std::optional<double> ready; // seconds to `readyLine` in the program's log
    };

    // Launches `program` and waits for its icon in the tray and, given a `readyLine`, for that line in
    // its log; the process is ended and its icon gone before this returns.
    Launch launch(const QString &program, const QByteArray &readyLine = {})
    {
        const std::set<Window> before = mappedInTray();
        QProcess process;
        process.setProcessEnvironment(env.appEnvironment());
        process.setProgram(program);
        process.setStandardOutputFile(QProcess::nullDevice());
        if (readyLine.isEmpty())
            process.setStandardErrorFile(QProcess::nullDevice());
        QByteArray log;
        QElapsedTimer timer;
        timer.start();
        process.start();
        Launch seen;
        while (timer.elapsed() < 15000 && process.state() != QProcess::NotRunning) {
            if (!seen.icon) {
                const std::set<Window> now = mappedInTray();
                if (std::any_of(now.begin(), now.end(), [&](Window w) { return !before.count(w); }))
                    seen.icon = static_cast<double>(timer.nsecsElapsed()) / 1e9;
            }
            if (!readyLine.isEmpty() && !seen.ready) {
                log += process.readAllStandardError();
                if (log.contains(readyLine))
                    seen.ready = static_cast<double>(timer.nsecsElapsed()) / 1e9;
            }
            if (seen.icon && (readyLine.isEmpty() || seen.ready))
                break;
            process.waitForReadyRead(0);
            QThread::usleep(500);
        }
        process.terminate();
        if (!process.waitForFinished(15000))
            process.kill();
        process.waitForFinished(5000);
        // The icon leaves with its process.
        const QDeadlineTimer gone(5s);
        while (mappedInTray() != before && !gone.hasExpired())
            QThread::msleep(10);
        return seen;
    }
};

// Windows come and go in the tray while it is walked: one gone between the listing and the question
// is not mapped, not a reason to end the run (Xlib's default handler exits).
int ignoreXError(Display *, XErrorEvent *)
{
    return 0;
}

void launchToTrayIcon(benchmark::State &state)
{
    XSetErrorHandler(ignoreXError);
    E2EEnvironment env;
    if (!env.start() || !env.writeSettings()) {
        state.SkipWithError(qPrintable(env.errorString()));
        return;
    }
    Display *display = XOpenDisplay(env.display().toLocal8Bit().constData());
    if (!display) {
        state.SkipWithError("cannot open the bench display");
        return;
    }
    Launcher launcher{env, display, trayWindows(display)};
    if (launcher.trays.empty()) {
        XCloseDisplay(display);
        state.SkipWithError("no tray host window");
        return;
    }
    const QString bare = QCoreApplication::applicationDirPath() + QStringLiteral("/zq_bare_tray");
    std::vector<double> app;
    std::vector<double> floor;
    std::vector<double> modelReady;
    for (auto _ : state) {
        for (int launch = 0; launch < 8; ++launch) {
            const auto ours = launcher.launch(QStringLiteral(ZQ_APP_BINARY), QByteArrayLiteral("speech model ready"));
            const auto plain = launcher.launch(bare);
            if (!ours.icon || !ours.ready || !plain.icon) {
                state.SkipWithError(!ours.icon    ? "the application showed no icon"
                                    : !ours.ready ? "the application's speech model never became ready"
                                                  : "the bare tray program showed no icon");
                XCloseDisplay(display);
                return;
            }
            app.push_back(*ours.icon);
            modelReady.push_back(*ours.ready);
            floor.push_back(*plain.icon);
        }
    }
    XCloseDisplay(display);
    state.SetIterationTime(1);
    zq::bench::reportMedianAndWorst(state, app, "ms", 1000, "app_");
    zq::bench::reportMedianAndWorst(state, floor, "ms", 1000, "bare_tray_");
    zq::bench::reportMedianAndWorst(state, modelReady, "ms", 1000, "model_ready_");
    zq::bench::reportRatio(state, "app_over_bare_tray", app, floor);
    zq::bench::reportLimit("model_ready_after_launch", 1000 * zq::bench::median(modelReady), kModelReadyLimitMs, "ms");
}

} // namespace

BENCHMARK(launchToTrayIcon)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    QCoreApplication application(argc, argv);
    return zq::bench::runBenchmarks(argc, argv);
}

// Memory of the real application on private services, as the system counts it: the resident set
// (RSS), the proportional set (PSS, shared pages split among the processes that map them) and the
// private set (pages only it maps; steadier than RSS, which moves with how shared pages happen to be
// mapped) from /proc/PID/smaps_rollup, and the peak of the resident set so far (VmHWM). Two launches are measured the
// same way: the first after install (a fresh home with no dictionary cut in its cache) and one that finds what it kept.
// Each is read once its speech model is loaded and the loop settled, after the first take and after 20 takes of
// recorded speech, with every page of the main window and the tray panel opened once, after the main window has stayed
// closed long enough to give back what its pages hold, and once it opened again. With ZQ_BENCH_SMAPS_DIR set, the
// reopened windows' screenshots are kept there.
#include "records/DiagnosticEvent.h"
#include "support/DesktopDriver.h"
#include "support/E2EEnvironment.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include "BenchmarkRun.h"

#include <benchmark/benchmark.h>

#include <X11/Xlib.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;
using zq::DiagnosticEvent;
using zq::test::DesktopDriver;
using zq::test::E2EEnvironment;

constexpr int kTakes = 20;
constexpr double kLaunchLimitMB = 140;
constexpr double kUsedLimitMB = 150;
// What a launch may hold at its busiest, loading its speech model included.
constexpr double kPeakLimitMB = 160;
// The sections of the main window, in the sidebar's order.
constexpr int kPages = 8;
// Longer than the application keeps the pages of a closed main window.
constexpr auto kClosedFor = 40s;

struct Footprint {
    double rssMB = 0;
    double pssMB = 0;
    double privateMB = 0; // pages no other process maps, clean or dirty
    double peakMB = 0;    // the most the resident set has been since the launch
};

// With ZQ_BENCH_SMAPS_DIR set, each reading also keeps the process's whole smaps there as
// <point>.smaps, to see which mappings grew between two points.
void keepSmaps(pid_t pid, const char *point)
{
    const QString folder = qEnvironmentVariable("ZQ_BENCH_SMAPS_DIR");
    if (folder.isEmpty())
        return;
    QFile smaps(QStringLiteral("/proc/%1/smaps").arg(pid));
    QFile copy(folder + QLatin1Char('/') + QLatin1String(point) + QStringLiteral(".smaps"));
    if (smaps.open(QIODevice::ReadOnly) && copy.open(QIODevice::WriteOnly | QIODevice::Truncate))
        copy.write(smaps.readAll());
}

// The most the process's resident set has been; none when /proc does not answer.
std::optional<double> peakOf(pid_t pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return std::nullopt;
    for (const QByteArray &line : status.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 2 && fields[0] == "VmHWM:")
            return fields[1].toDouble() / 1024.0;
    }
    return std::nullopt;
}

// The process's resident, proportional and private sets and its peak; none when /proc does not answer.
std::optional<Footprint> footprint(pid_t pid, const char *point)
{
    keepSmaps(pid, point);
    QFile rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (!rollup.open(QIODevice::ReadOnly))
        return std::nullopt;
    Footprint found;
    bool rss = false;
    bool pss = false;
    for (const QByteArray &line : rollup.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 2)
            continue;
        const double megabytes = fields[1].toDouble() / 1024.0;
        if (fields[0] == "Rss:") {
            found.rssMB = megabytes;
            rss = true;
        } else if (fields[0] == "Pss:") {
            found.pssMB = megabytes;
            pss = true;
        } else if (fields[0] == "Private_Clean:" || fields[0] == "Private_Dirty:") {
            found.privateMB += megabytes;
        }
    }
    const auto peak = peakOf(pid);
    if (!peak)
        return std::nullopt;
    found.peakMB = *peak;
    return rss && pss ? std::optional<Footprint>(found) : std::nullopt;
}

// The application's cache folder, beside its configuration as it derives both from its home.
QString cacheOf(const E2EEnvironment &env)
{
    return QDir::cleanPath(env.configDir() + QStringLiteral("/../../cache"));
}

// Whether the application has kept the dictionary cut in its cache, waiting up to half a minute.
bool cutKept(const E2EEnvironment &env)
{
    const QDeadlineTimer waited(30s);
    do {
        QDirIterator found(cacheOf(env), {QStringLiteral("*.manifest")}, QDir::Files, QDirIterator::Subdirectories);
        if (found.hasNext())
            return true;
        QThread::msleep(100);
    } while (!waited.hasExpired());
    return false;
}

// Copies the files under `from` into `to`, folders and all.
bool copyFolder(const QString &from, const QString &to)
{
    QDirIterator files(from, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString file = files.next();
        const QString copy = to + QLatin1Char('/') + QDir(from).relativeFilePath(file);
        if (!QDir().mkpath(QFileInfo(copy).path()) || !QFile::copy(file, copy))
            return false;
    }
    return true;
}

enum class Take { pasted, noText, notStarted };

// One take of the recorded speech, from the press to the text in the front window. A take whose
// words the recogniser did not make out pastes nothing; it still ran.
Take dictate(E2EEnvironment &env, const std::vector<std::int16_t> &speech, int take)
{
    env.target().clear();
    if (!env.pressTrigger() || !env.waitForJournal(DiagnosticEvent::audioStartCompleted, take, 10s))
        return Take::notStarted;
    QThread::msleep(300);
    env.feeder()->speak(speech);
    env.feeder()->waitUntilSpoken(15s);
    QThread::msleep(700);
    env.releaseTrigger();
    const bool pasted = env.target().waitForText([](const QString &text) { return !text.isEmpty(); }, 30s).has_value();
    QThread::msleep(1000);
    return pasted ? Take::pasted : Take::noText;
}

// Asks the window to close as a window manager does when its close button is pressed.
bool closeWindow(const QString &display, const QString &window)
{
    Display *connection = XOpenDisplay(display.toLocal8Bit().constData());
    if (!connection)
        return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window.toULong();
    event.xclient.message_type = XInternAtom(connection, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(connection, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const bool sent = XSendEvent(connection, event.xclient.window, False, NoEventMask, &event) != 0;
    XCloseDisplay(connection);
    return sent;
}

// Opens the tray panel and from it the main window. The main window's id; empty when a step failed.
QString openWindow(E2EEnvironment &env, QString &error)
{
    const DesktopDriver desktop(env.display());
    const QRect panel = desktop.openPanel();
    if (!panel.isValid()) {
        error = QStringLiteral("the tray panel did not open");
        return {};
    }
    QThread::msleep(500);
    // The footer card ends the panel: "Open ZEPA QUARN…" is its upper row of two (44 points each,
    // a divider between), 12 points above the panel's edge.
    const int openRow = panel.bottom() + 1 - 12 - 89 + 22;
    desktop.click(QPoint(panel.center().x(), openRow));
    QStringList windows;
    const QDeadlineTimer opened(10s);
    while ((windows = desktop.windows(
                {QStringLiteral("--onlyvisible"), QStringLiteral("--name"), QStringLiteral("^ZEPA QUARN$")}))
               .isEmpty() &&
           !opened.hasExpired())
        QThread::msleep(100);
    if (windows.isEmpty()) {
        error = QStringLiteral("the main window did not open");
        return {};
    }
    QThread::msleep(700);
    return windows.front();
}

// Opens the main window and in it every page one after the other (the sidebar follows the arrow
// keys). The main window's id; empty when a step failed.
QString openEveryPage(E2EEnvironment &env, QString &error)
{
    const QString window = openWindow(env, error);
    if (window.isEmpty())
        return {};
    // A click on the sidebar above its rows gives it the keyboard; Up to the first page, then down
    // through all of them.
    const DesktopDriver desktop(env.display());
    desktop.click(desktop.geometry(window).topLeft() + QPoint(10 + 105, 8 + 12));
    QStringList up(kPages, QStringLiteral("Up"));
    desktop.keys(up);
    for (int page = 1; page < kPages; ++page) {
        QThread::msleep(700);
        desktop.keys({QStringLiteral("Down")});
    }
    QThread::msleep(1000);
    return window;
}

// What a launch holds at each point of a day's use, in order, by name.
struct Use {
    std::vector<std::pair<std::string, Footprint>> points;
    bool released = false; // the closed window's pages were let go
    bool sameSize = false; // the reopened window came back at the size it was left
    int pasted = 0;
};

// Reads the footprint at `point` into `use`; false when /proc does not answer.
bool measure(const E2EEnvironment &env, const std::string &point, Use &use)
{
    const auto figures = footprint(env.appPid(), point.c_str());
    if (figures)
        use.points.emplace_back(point, *figures);
    return figures.has_value();
}

// A launch whose speech model is ready used as a day goes: settled, the first take, 20 takes, every
// page of the main window and the tray panel opened once, the main window closed long enough to give
// back what its pages hold, and reopened. Its points are named `prefix` (settled) and
// prefix_first_take and so on, or without a prefix launch, first_take and so on. False with the reason
// in `error`.
bool useLaunch(E2EEnvironment &env, const std::vector<std::int16_t> &speech, const std::string &prefix, Use &use,
               QString &error)
{
    const auto name = [&](const char *point) { return prefix.empty() ? std::string(point) : prefix + "_" + point; };
    const auto unanswered = [&] {
        error = QStringLiteral("/proc gave no memory figures for the application");
        return false;
    };
    QThread::msleep(3000);
    if (!measure(env, prefix.empty() ? "launch" : prefix, use))
        return unanswered();
    if (!env.target().activate()) {
        error = QStringLiteral("the target window cannot take the keyboard focus");
        return false;
    }
    for (int take = 1; take <= kTakes; ++take) {
        const Take done = dictate(env, speech, take);
        if (done == Take::notStarted) {
            error = QStringLiteral("take %1 did not start").arg(take);
            return false;
        }
        use.pasted += done == Take::pasted ? 1 : 0;
        // What the first take leaves (the decoder's and the audio layer's first use) against
        // what the other nineteen add: a leak grows with every take.
        if (take == 1) {
            QThread::msleep(2000);
            if (!measure(env, name("first_take"), use))
                return unanswered();
        }
    }
    QThread::msleep(2000);
    if (!measure(env, name("takes"), use))
        return unanswered();

    const QString window = openEveryPage(env, error);
    if (window.isEmpty())
        return false;
    if (!measure(env, name("pages"), use))
        return unanswered();
    const QRect left = DesktopDriver(env.display()).geometry(window);

    if (!closeWindow(env.display(), window)) {
        error = QStringLiteral("the main window could not be asked to close");
        return false;
    }
    QThread::msleep(std::chrono::milliseconds(kClosedFor).count());
    if (!measure(env, name("closed"), use))
        return unanswered();
    use.released = env.waitForAppLog("its pages are let go", 1s);

    // Built anew as it was left; what the rebuild costs over the release. (Its place is not
    // compared: with no window manager on the display, the toolkit keeps room for a title bar.)
    const QString again = openWindow(env, error);
    if (again.isEmpty()) {
        error = QStringLiteral("after the release, ") + error;
        return false;
    }
    QThread::msleep(1000);
    if (!measure(env, name("reopened"), use))
        return unanswered();
    use.sameSize = DesktopDriver(env.display()).geometry(again).size() == left.size();
    const QString folder = qEnvironmentVariable("ZQ_BENCH_SMAPS_DIR");
    if (!folder.isEmpty())
        DesktopDriver(env.display())
            .screenshot()
            .save(folder + QLatin1Char('/') + QString::fromStdString(name("reopened")) + QStringLiteral(".png"));
    return true;
}

// The footprint at `point`; zero when it was not measured.
Footprint at(const Use &use, const std::string &point)
{
    for (const auto &[name, figures] : use.points)
        if (name == point)
            return figures;
    return {};
}

void memoryInUse(benchmark::State &state)
{
    const std::vector<std::int16_t> speech = E2EEnvironment::speechSamples();
    if (speech.empty()) {
        state.SkipWithError(qPrintable(QStringLiteral("missing ") + E2EEnvironment::speechPath()));
        return;
    }
    Use firstUse;
    Use use;
    for (auto _ : state) {
        // The first launch after install (a fresh home, no dictionary cut in its cache) decodes with
        // the whole dictionary until it has made the cut, then swaps to a decoder of the cut; every
        // launch after it reads the cut from the start. Both are used and measured the same way, the
        // first once it has swapped.
        QTemporaryDir keptCache;
        QString error;
        {
            E2EEnvironment first;
            if (!first.start() || !first.writeSettings() || !first.startApp() ||
                !first.waitForAppLog("speech model ready", 30s) || !cutKept(first) ||
                !first.waitForAppLog("(cut dictionary)", 60s)) {
                state.SkipWithError(
                    qPrintable(QStringLiteral("the first launch kept no dictionary cut. ") + first.errorString()));
                return;
            }
            if (!useLaunch(first, speech, "first_launch", firstUse, error)) {
                state.SkipWithError(qPrintable(QStringLiteral("on the first launch: ") + error));
                return;
            }
            if (!first.stopApp() || !copyFolder(cacheOf(first), keptCache.path())) {
                state.SkipWithError("the first launch did not quit cleanly or its cache cannot be copied");
                return;
            }
        }
        E2EEnvironment env;
        if (!env.start() || !env.writeSettings() || !copyFolder(keptCache.path(), cacheOf(env)) || !env.startApp()) {
            state.SkipWithError(qPrintable(env.errorString()));
            return;
        }
        if (!env.waitForAppLog("(cut dictionary)", 30s)) {
            state.SkipWithError("the speech model never became ready with the cut dictionary");
            return;
        }
        if (!useLaunch(env, speech, {}, use, error)) {
            state.SkipWithError(qPrintable(error));
            return;
        }
        if (!env.stopApp()) {
            state.SkipWithError("the application did not quit cleanly");
            return;
        }
    }
    state.SetIterationTime(1); // the figures are the counters
    for (const Use *launch : {&firstUse, &use})
        for (const auto &[name, figures] : launch->points) {
            state.counters[name + "_rss_MB"] = figures.rssMB;
            state.counters[name + "_pss_MB"] = figures.pssMB;
            state.counters[name + "_private_MB"] = figures.privateMB;
            state.counters[name + "_peak_MB"] = figures.peakMB;
        }
    state.counters["window_let_go"] = use.released ? 1 : 0;
    state.counters["reopened_same_size"] = use.sameSize ? 1 : 0;
    state.counters["takes_pasted"] = use.pasted;
    state.counters["first_launch_takes_pasted"] = firstUse.pasted;
    zq::bench::reportLimit("rss_after_launch", at(use, "launch").rssMB, kLaunchLimitMB, "MB");
    zq::bench::reportLimit("rss_after_the_first_launch_after_install", at(firstUse, "first_launch").rssMB,
                           kLaunchLimitMB, "MB");
    zq::bench::reportLimit("rss_after_20_takes_and_every_page", at(use, "pages").rssMB, kUsedLimitMB, "MB");
    zq::bench::reportLimit("rss_after_20_takes_and_every_page_on_the_first_launch_after_install",
                           at(firstUse, "first_launch_pages").rssMB, kUsedLimitMB, "MB");
    zq::bench::reportLimit("rss_once_the_window_stayed_closed", at(use, "closed").rssMB, kUsedLimitMB, "MB");
    // Read once the first launch after install has swapped to the cut: its two loads and the cut
    // made between them.
    zq::bench::reportLimit("peak_rss_of_the_first_launch_after_install", at(firstUse, "first_launch").peakMB,
                           kPeakLimitMB, "MB");
    zq::bench::reportLimit("peak_rss_of_a_later_launch", at(use, "launch").peakMB, kPeakLimitMB, "MB");
    // Private memory is the process's own, steadier than a resident set that counts shared pages as
    // they happen to be mapped; the first launch's excess is what its whole dictionary holds.
    zq::bench::reportFigure("private_after_launch", at(use, "launch").privateMB, "MB");
    zq::bench::reportFigure("private_after_20_takes_and_every_page", at(use, "pages").privateMB, "MB");
    zq::bench::reportFigure("first_launch_private_over_later_launch_after_launch",
                            at(firstUse, "first_launch").privateMB - at(use, "launch").privateMB, "MB");
    zq::bench::reportFigure("first_launch_private_over_later_launch_with_every_page",
                            at(firstUse, "first_launch_pages").privateMB - at(use, "pages").privateMB, "MB");
}

} // namespace

BENCHMARK(memoryInUse)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    // Nothing here may reach the user's own session bus; every service the run needs is private.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    QCoreApplication application(argc, argv);
    return zq::bench::runBenchmarks(argc, argv);
}

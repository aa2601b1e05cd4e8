// Launch to the tray icon: the real application on private services, from the start of its process
// to the moment its icon is mapped in the tray host, against a bare Qt tray program launched the same
// way on the same display, one after the other, launch by launch. Beside it, from the same launches of
// the application, the time to its speech model ready for the first take (the line it logs then),
// against a bare program that only loads the same model with the same settings and the same
// pronunciation dictionary: the cut the application keeps in its cache, or the whole one for a launch
// that found no cut kept (only those launches' figures are compared with each other).
//
// The model's files are read warm (as a relaunch finds them in the page cache) and cold: before a cold
// launch they are dropped from the page cache (pages another process maps stay; the share still
// cached is reported). The first launch of a run has no dictionary cut in its cache folder yet and
// is reported on its own, beside the bare program reading the whole dictionary.
// ZQ_BENCH_APP names another build of the application to measure;
// ZQ_BENCH_BASELINE_APP names one (an earlier one, say) to launch between the application and the bare
// tray program, so a change is measured against what it replaces in the same run (its icon and its
// model ready, warm; its first launch, which makes the dictionary cut, is not counted; and the median of
// the per-launch differences of their icons).
// ZQ_BENCH_LAUNCHES sets the number of launches of each (sixteen by default).
#include "platform/linux/speech/PocketSphinxDecoder.h"
#include "support/E2EEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include "BenchmarkRun.h"

#include <benchmark/benchmark.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <functional>
#include <numeric>
#include <optional>
#include <set>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using zq::test::E2EEnvironment;

// The first take needs the speech model: ready this soon after the launch, on this machine class.
constexpr double kModelReadyLimitMs = 400;
// The application against its bare counterparts launched the same way: its tray icon within twice a
// bare Qt tray program's (the libraries it links cost some 10 ms that nobody sees), its speech model
// ready within 1.3 times a bare program loading the same model. A comparison with a baseline build
// is a figure, not a goal.
constexpr double kTrayOverFloorLimit = 2.0;
constexpr double kModelOverFloorLimit = 1.3;

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

// The milliseconds of "speech model ready in N ms" in `log`, in seconds.
std::optional<double> loggedLoad(const QByteArray &log)
{
    static const QByteArray marker = QByteArrayLiteral("speech model ready in ");
    const qsizetype at = log.indexOf(marker);
    if (at < 0)
        return std::nullopt;
    bool ok = false;
    const qsizetype start = at + marker.size();
    const double ms = log.mid(start, log.indexOf(' ', start) - start).toDouble(&ok);
    return ok ? std::optional<double>(ms / 1000) : std::nullopt;
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
        // The load's own time as the application logs it ("speech model ready in N ms"): the rest of
        // `ready` is the process's start before the load began and the wait for the line.
        std::optional<double> load;
        bool onCut = false; // the load read the dictionary cut a launch before kept
    };

    // Launches `program` with `arguments` and waits for its icon in the tray (unless `showsIcon` is
    // false) and, given a `readyLine`, for that line in its log; the process is ended and its icon gone
    // before this returns.
    Launch launch(const QString &program, const QByteArray &readyLine = {}, bool showsIcon = true,
                  const QStringList &arguments = {})
    {
        const std::set<Window> before = mappedInTray();
        QProcess process;
        process.setProcessEnvironment(env.appEnvironment());
        process.setProgram(program);
        process.setArguments(arguments);
        process.setStandardOutputFile(QProcess::nullDevice());
        if (readyLine.isEmpty())
            process.setStandardErrorFile(QProcess::nullDevice());
        QByteArray log;
        QElapsedTimer timer;
        timer.start();
        process.start();
        Launch seen;
        while (timer.elapsed() < 15000 && process.state() != QProcess::NotRunning) {
            if (showsIcon && !seen.icon) {
                const std::set<Window> now = mappedInTray();
                if (std::any_of(now.begin(), now.end(), [&](Window w) { return !before.count(w); }))
                    seen.icon = static_cast<double>(timer.nsecsElapsed()) / 1e9;
            }
            if (!readyLine.isEmpty() && !seen.ready) {
                log += process.readAllStandardError();
                if (log.contains(readyLine)) {
                    seen.ready = static_cast<double>(timer.nsecsElapsed()) / 1e9;
                    seen.load = loggedLoad(log);
                    seen.onCut = log.contains("(cut dictionary)");
                }
            }
            if ((seen.icon || !showsIcon) && (readyLine.isEmpty() || seen.ready))
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

// The files a launch reads the speech model from: the packaged model's, and the dictionary cut kept in
// the application's cache folder.
QStringList modelFiles(const E2EEnvironment &env)
{
    const auto model = zq::platform::PocketSphinxModel::debianEnglish();
    QStringList files{model.languageModel, model.dictionary};
    for (const QString &name : QDir(model.acousticModel).entryList(QDir::Files))
        files << model.acousticModel + QLatin1Char('/') + name;
    QDirIterator cache(env.appEnvironment().value(QStringLiteral("XDG_CACHE_HOME")), QDir::Files,
                       QDirIterator::Subdirectories);
    while (cache.hasNext())
        files << cache.next();
    return files;
}

// The bare model program's arguments for the same dictionary as a launch of the application read:
// the cut kept in the application's cache folder, or none (the whole dictionary).
QStringList sameDictionary(const E2EEnvironment &env, bool onCut)
{
    if (!onCut)
        return {};
    const auto model = zq::platform::PocketSphinxModel::debianEnglish();
    const QString folder = env.appEnvironment().value(QStringLiteral("XDG_CACHE_HOME")) + QStringLiteral("/ZEPAquarn");
    const auto cut = zq::platform::PocketSphinxDictionaryCut::find(
        QFile::encodeName(folder).toStdString(), QFile::encodeName(model.dictionary).toStdString(),
        QFile::encodeName(model.languageModel).toStdString());
    return cut ? QStringList{QFile::decodeName(cut->dictionaryFile().c_str())} : QStringList{};
}

// Drops `files` from the page cache; returns the share of their pages still cached afterwards.
double dropFromPageCache(const QStringList &files)
{
    std::size_t pages = 0;
    std::size_t resident = 0;
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    for (const QString &path : files) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat info {};
        if (::fstat(fd, &info) == 0 && info.st_size > 0) {
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
            const auto length = static_cast<std::size_t>(info.st_size);
            if (void *mapped = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, 0); mapped != MAP_FAILED) {
                std::vector<unsigned char> in((length + static_cast<std::size_t>(pageSize) - 1) /
                                              static_cast<std::size_t>(pageSize));
                if (::mincore(mapped, length, in.data()) == 0) {
                    pages += in.size();
                    resident += static_cast<std::size_t>(
                        std::count_if(in.begin(), in.end(), [](unsigned char p) { return (p & 1) != 0; }));
                }
                ::munmap(mapped, length);
            }
        }
        ::close(fd);
    }
    return pages ? static_cast<double>(resident) / static_cast<double>(pages) : 0.0;
}

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
    const QString bareModel = QCoreApplication::applicationDirPath() + QStringLiteral("/zq_bare_speech_model");
    const QString application = qEnvironmentVariable("ZQ_BENCH_APP", QStringLiteral(ZQ_APP_BINARY));
    const QByteArray readyLine = QByteArrayLiteral("speech model ready");
    std::vector<double> app;
    std::vector<double> floor;
    std::vector<double> modelReady;
    std::vector<double> modelLoad;
    std::vector<double> onCut;
    std::vector<double> modelFloor;
    std::vector<double> coldModelReady;
    std::vector<double> coldModelFloor;
    std::vector<double> stillCached;
    std::optional<double> firstLaunchReady;
    std::optional<double> firstLaunchFloor; // the bare program on the whole dictionary
    const QString baseline = qEnvironmentVariable("ZQ_BENCH_BASELINE_APP");
    // The model's load moves by a tenth from one minute to the next on a shared machine: sixteen
    // launches keep its medians steady. A small difference between two builds needs more.
    const int launches = qEnvironmentVariableIsSet("ZQ_BENCH_LAUNCHES")
                             ? std::max(2, qEnvironmentVariableIntValue("ZQ_BENCH_LAUNCHES"))
                             : 16;
    std::vector<double> baselineApp;
    std::vector<double> baselineModelReady;
    std::vector<double> baselineModelLoad;
    auto fail = [&](const char *why) {
        state.SkipWithError(why);
        XCloseDisplay(display);
    };
    for (auto _ : state) {
        for (int launch = 0; launch < launches; ++launch) {
            const auto ours = launcher.launch(application, readyLine);
            std::optional<Launcher::Launch> other;
            if (!baseline.isEmpty())
                other = launcher.launch(baseline, readyLine);
            const auto plain = launcher.launch(bare);
            const QStringList ourDictionary = sameDictionary(env, ours.onCut);
            const auto plainModel = launcher.launch(bareModel, readyLine, false, ourDictionary);
            stillCached.push_back(dropFromPageCache(modelFiles(env)));
            const auto coldOurs = launcher.launch(application, readyLine);
            stillCached.push_back(dropFromPageCache(modelFiles(env)));
            const QStringList coldDictionary = sameDictionary(env, coldOurs.onCut);
            const auto coldPlainModel = launcher.launch(bareModel, readyLine, false, coldDictionary);
            if (!ours.icon || !coldOurs.icon)
                return fail("the application showed no icon");
            if (!ours.ready || !coldOurs.ready)
                return fail("the application's speech model never became ready");
            if (!plain.icon)
                return fail("the bare tray program showed no icon");
            if (other && !other->icon)
                return fail("the baseline build showed no icon");
            if (other && !other->ready)
                return fail("the baseline build's speech model never became ready");
            if (!plainModel.ready || !coldPlainModel.ready)
                return fail("the bare speech model program never became ready");
            // The first launch finds no dictionary cut kept yet and makes it. A later one compares with
            // the bare program only when both read the cut.
            const bool pairedOnCut = ours.onCut && !ourDictionary.isEmpty();
            if (launch == 0) {
                firstLaunchReady = *ours.ready;
                if (!ours.onCut)
                    firstLaunchFloor = *plainModel.ready;
            } else if (pairedOnCut) {
                modelReady.push_back(*ours.ready);
                modelFloor.push_back(*plainModel.ready);
            }
            if (launch > 0 && ours.load)
                modelLoad.push_back(*ours.load);
            if (launch > 0)
                onCut.push_back(ours.onCut ? 1 : 0);
            app.push_back(*ours.icon);
            floor.push_back(*plain.icon);
            if (coldOurs.onCut && !coldDictionary.isEmpty()) {
                coldModelReady.push_back(*coldOurs.ready);
                coldModelFloor.push_back(*coldPlainModel.ready);
            }
            if (other) {
                baselineApp.push_back(*other->icon);
                if (launch > 0)
                    baselineModelReady.push_back(*other->ready);
                if (launch > 0 && other->load)
                    baselineModelLoad.push_back(*other->load);
            }
        }
    }
    XCloseDisplay(display);
    state.SetIterationTime(1);
    zq::bench::reportMedianAndWorst(state, app, "ms", 1000, "app_");
    zq::bench::reportMedianAndWorst(state, floor, "ms", 1000, "bare_tray_");
    zq::bench::reportMedianAndWorst(state, modelReady, "ms", 1000, "model_ready_");
    zq::bench::reportMedianAndWorst(state, modelLoad, "ms", 1000, "model_load_");
    // A launch killed as soon as its model is ready may not have kept the cut for the next.
    if (!onCut.empty())
        state.counters["model_ready_launches_on_cut_share"] =
            std::accumulate(onCut.begin(), onCut.end(), 0.0) / static_cast<double>(onCut.size());
    zq::bench::reportMedianAndWorst(state, modelFloor, "ms", 1000, "bare_model_ready_");
    zq::bench::reportMedianAndWorst(state, coldModelReady, "ms", 1000, "cold_model_ready_");
    zq::bench::reportMedianAndWorst(state, coldModelFloor, "ms", 1000, "cold_bare_model_ready_");
    if (firstLaunchReady)
        state.counters["first_launch_model_ready_ms"] = 1000 * *firstLaunchReady;
    if (firstLaunchFloor)
        state.counters["first_launch_bare_whole_model_ready_ms"] = 1000 * *firstLaunchFloor;
    state.counters["cold_pages_still_cached_share"] = zq::bench::median(stillCached);
    zq::bench::reportRatio(state, "app_over_bare_tray", app, floor, kTrayOverFloorLimit);
    if (!baselineApp.empty()) {
        zq::bench::reportMedianAndWorst(state, baselineApp, "ms", 1000, "baseline_app_");
        zq::bench::reportRatioCounters(state, "baseline_app_over_bare_tray", baselineApp, floor);
        zq::bench::reportMedianAndWorst(state, baselineModelReady, "ms", 1000, "baseline_model_ready_");
        zq::bench::reportMedianAndWorst(state, baselineModelLoad, "ms", 1000, "baseline_model_load_");
        zq::bench::reportRatioCounters(state, "model_ready_over_baseline", modelReady, baselineModelReady);
        zq::bench::reportRatioCounters(state, "app_over_baseline_app", app, baselineApp);
        // Launch by launch, so that a few milliseconds between two builds stand out of the machine's
        // own noise, which moves both launches of a pair together.
        std::vector<double> iconDifference;
        for (std::size_t i = 0; i < app.size(); ++i)
            iconDifference.push_back(app[i] - baselineApp[i]);
        state.counters["app_minus_baseline_app_paired_median_ms"] = 1000 * zq::bench::median(iconDifference);
    }
    zq::bench::reportRatio(state, "model_ready_over_bare_model", modelReady, modelFloor, kModelOverFloorLimit);
    zq::bench::reportRatio(state, "cold_model_ready_over_bare_model", coldModelReady, coldModelFloor,
                           kModelOverFloorLimit);
    zq::bench::reportLimit("model_ready_after_launch", 1000 * zq::bench::median(modelReady), kModelReadyLimitMs, "ms");
    zq::bench::reportFigure("bare_model_ready_after_launch", 1000 * zq::bench::median(modelFloor), "ms");
}

} // namespace

BENCHMARK(launchToTrayIcon)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    QCoreApplication application(argc, argv);
    return zq::bench::runBenchmarks(argc, argv);
}

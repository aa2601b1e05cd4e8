// The real application binary, started as a user would start it: one instance per set of data,
// quitting through its normal path on a signal, a settings file it cannot read kept aside, and
// what it does with a hostile start: no display, links, leftovers, damaged stores.

#include "records/DiagnosticRecord.h"
#include "runtime/Settings.h"
#include "support/ChildProcess.h"
#include "support/DBusSession.h"
#include "support/NotificationServer.h"
#include "support/Polling.h"
#include "support/ServiceEnvironment.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;
using zq::test::ChildProcess;
using zq::test::ChildSpec;
using zq::test::ChildStream;
using zq::test::modeOf;

namespace {

// Sends `signal` as a logout or Ctrl+C would: a success when the application then exits by itself
// with status 0; otherwise how it ended and its log.
::testing::AssertionResult quitsCleanly(ChildProcess &app, int signal)
{
    ::kill(app.pid(), signal);
    if (app.waitForExit(QDeadlineTimer(15s)) == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "after signal " << signal << " it " << app.howItEnded().toStdString()
                                         << "; its log:\n"
                                         << app.collected(ChildProcess::Channel::StandardError).constData();
}

// A folder that stops answering, as a network home does: a file system whose server never answers,
// so every call into it waits until the server goes. Mounting it needs root.
struct HungFolder {
    explicit HungFolder(const QString &folder)
        : path(QFile::encodeName(folder)), server(::open("/dev/fuse", O_RDWR | O_CLOEXEC))
    {
        QDir().mkpath(folder);
        const QByteArray options = "fd=" + QByteArray::number(server) + ",rootmode=40000,user_id=0,group_id=0";
        mounted = server >= 0 &&
                  ::mount("zq-hung", path.constData(), "fuse.zq-hung", MS_NOSUID | MS_NODEV, options.constData()) == 0;
    }
    // Every call still waiting fails once the server has gone; then the folder is what it was.
    ~HungFolder()
    {
        if (server >= 0)
            ::close(server);
        if (mounted)
            ::umount2(path.constData(), MNT_DETACH);
    }

    const QByteArray path;
    const int server;
    bool mounted = false;
};

// Well above what the application maps in a normal run (about 1.4 GB, most of it reserved, not
// used), well below what reading a device whole reaches. Fewer malloc arenas keep the reserve small.
constexpr qint64 kAppAddressSpaceLimit = qint64(2) << 30;

class AppIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid());
        const bool hasDisplay = !zq::test::sharedDisplay().isEmpty();
        ZQ_REQUIRE_SERVICE(hasDisplay, zq::test::sharedDisplayError());
        QDir(m_home.path()).mkpath(QStringLiteral("run"));
        QFile::setPermissions(m_home.filePath(QStringLiteral("run")),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    ChildSpec appSpec() const
    {
        ChildSpec spec;
        spec.program = QStringLiteral(ZQ_APP_BINARY);
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_home.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.filePath(QStringLiteral("run")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_home.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_STATE_HOME"), m_home.filePath(QStringLiteral("state")));
        env.insert(QStringLiteral("DISPLAY"), zq::test::sharedDisplay());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
        env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("io.quorvane.*=true"));
        spec.environment = env;
        spec.standardOutput = ChildStream::Pipe;
        spec.standardError = ChildStream::Pipe;
        return spec;
    }

    // Reads the app's log until a line contains `text`.
    static bool waitForLine(ChildProcess &app, const QByteArray &text)
    {
        const QDeadlineTimer deadline(zq::test::kLoadedMachineTimeout);
        while (auto line = app.readLine(ChildProcess::Channel::StandardError, deadline)) {
            if (line->contains(text))
                return true;
        }
        return false;
    }

    // Reads the app's log until every one of `texts` was in a line, in any order.
    static bool waitForLines(ChildProcess &app, QList<QByteArray> texts)
    {
        const QDeadlineTimer deadline(15s);
        while (!texts.isEmpty()) {
            const auto line = app.readLine(ChildProcess::Channel::StandardError, deadline);
            if (!line)
                return false;
            texts.removeIf([&](const QByteArray &text) { return line->contains(text); });
        }
        return true;
    }

    void writeSettings(bool onboarded)
    {
        zq::rt::Settings settings(m_home.filePath(QStringLiteral("config/ZEPAquarn/settings.json")));
        settings.setValue(QStringLiteral("onboarded"), onboarded);
        ASSERT_TRUE(settings.sync());
    }

    // Whether a window with exactly this title is mapped on the test display.
    static bool hasWindowTitled(const QString &title)
    {
        const auto result = zq::test::runTool(QStringLiteral("xdotool"),
                                              {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                               QStringLiteral("--name"), QLatin1Char('^') + title + QLatin1Char('$')});
        return result.succeeded() && !result.standardOutput.trimmed().isEmpty();
    }

    // Polls a window condition: windows map after the log line.
    static bool eventually(const std::function<bool()> &condition)
    {
        const QDeadlineTimer deadline(zq::test::kLoadedMachineTimeout);
        while (!deadline.hasExpired()) {
            if (condition())
                return true;
            QThread::msleep(50);
        }
        return condition();
    }

    QTemporaryDir m_home;
};

} // namespace

TEST_F(AppIntegrationTest, SecondLaunchSaysItIsRunningAndExitsWhileTheFirstQuitsOnSigterm)
{
    // Its cache folder never answers: the speech model loads without what it keeps there.
    ChildSpec firstSpec = appSpec();
    firstSpec.environment.insert(QStringLiteral("XDG_CACHE_HOME"), m_home.filePath(QStringLiteral("cache")));
    ASSERT_TRUE(QDir(m_home.path()).mkpath(QStringLiteral("cache/ZEPAquarn")));
    const HungFolder cache(m_home.filePath(QStringLiteral("cache/ZEPAquarn")));
    ChildProcess first;
    ASSERT_TRUE(first.start(firstSpec)) << first.errorString().toStdString();
    ASSERT_TRUE(waitForLine(first, "app: launched")) << "the first instance did not start";
    if (cache.mounted) {
        EXPECT_TRUE(waitForLine(first, "speech model ready")) << "a take would wait for it for ever";
    }

    ChildProcess second;
    ASSERT_TRUE(second.start(appSpec()));
    const auto secondExit = second.waitForExit(QDeadlineTimer(15s));
    EXPECT_EQ(secondExit, 0);
    EXPECT_TRUE(second.collected(ChildProcess::Channel::StandardError).contains("already running"));

    // A start whose folders stop answering (the config, runtime and cache folders are read by the toolkit's
    // own start) or cannot be made says so on the terminal and on the desktop. The running instance's state
    // folder is one of them: its quit, whose last write there never returns, still ends within its bound.
    zq::test::DBusSession bus;
    const bool busStarted = bus.start();
    ZQ_REQUIRE_SERVICE(busStarted, QStringLiteral("no private session bus"));
    zq::test::NotificationServer notifications;
    ASSERT_TRUE(notifications.start(bus.address()));
    const HungFolder state(m_home.filePath(QStringLiteral("state")));
    const HungFolder config(m_home.filePath(QStringLiteral("hung/config")));
    const HungFolder runtime(m_home.filePath(QStringLiteral("hung/run")));
    zq::test::writeFile(m_home.filePath(QStringLiteral("a-file")), "not a folder");
    const std::pair<const char *, const HungFolder *> failing[] = {{"XDG_DATA_HOME", nullptr},
                                                                   {"XDG_STATE_HOME", &state},
                                                                   {"XDG_CONFIG_HOME", &config},
                                                                   {"XDG_RUNTIME_DIR", &runtime},
                                                                   {"XDG_CACHE_HOME", &cache}};
    std::vector<std::unique_ptr<ChildProcess>> starts;
    for (const auto &[variable, hung] : failing) {
        if (hung && !hung->mounted)
            continue; // mounting needs root
        ChildSpec spec = appSpec();
        spec.environment.insert(QStringLiteral("XDG_STATE_HOME"), m_home.filePath(QStringLiteral("other-state")));
        spec.environment.insert(QLatin1String(variable),
                                hung ? QFile::decodeName(hung->path) : m_home.filePath(QStringLiteral("a-file")));
        spec.environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
        starts.push_back(std::make_unique<ChildProcess>());
        ASSERT_TRUE(starts.back()->start(spec));
    }
    for (const auto &start : starts) {
        EXPECT_EQ(start->waitForExit(QDeadlineTimer(zq::test::kLoadedMachineTimeout)), 1);
        EXPECT_TRUE(start->collected(ChildProcess::Channel::StandardError).contains("ZEPA QUARN cannot"));
    }
    ASSERT_TRUE(notifications.waitForNotifications(starts.size(), zq::test::kLoadedMachineTimeout))
        << "a start from the menu or at login has no terminal";
    const auto notices = notifications.notifications();
    const auto says = [&](const char *summary) {
        return std::count_if(notices.begin(), notices.end(), [&](const auto &n) { return n.summary == summary; });
    };
    EXPECT_EQ(says("ZEPA QUARN cannot create its folders"), 1);
    EXPECT_EQ(says("ZEPA QUARN cannot reach its folders"), qsizetype(starts.size()) - 1) << "one notice for each start";
    ::kill(first.pid(), SIGTERM);
    EXPECT_TRUE(waitForLine(first, "app: terminating")) << "SIGTERM must go through the normal quit path";
    EXPECT_EQ(first.waitForExit(QDeadlineTimer(15s)), 0);
    EXPECT_EQ(first.collected(ChildProcess::Channel::StandardError).contains("ending without them"), state.mounted);
}

TEST_F(AppIntegrationTest, UnreadableSettingsAndStoresAreKeptAsideAndTheAppStartsFromDefaults)
{
    zq::test::DBusSession bus;
    const bool busStarted = bus.start();
    ZQ_REQUIRE_SERVICE(busStarted, QStringLiteral("no private session bus"));
    zq::test::NotificationServer notifications;
    ASSERT_TRUE(notifications.start(bus.address()));
    const QString configDir = m_home.filePath(QStringLiteral("config/ZEPAquarn"));
    ASSERT_TRUE(QDir().mkpath(configDir));
    QFile broken(configDir + QStringLiteral("/settings.json"));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("{\"format\":1,\"values\":{\"backend\":");
    broken.close();
    const QString dataDir = m_home.filePath(QStringLiteral("data/ZEPAquarn"));
    ASSERT_TRUE(QDir().mkpath(dataDir));
    // A ledger none of whose days can be read: nothing of it is kept either.
    zq::test::writeFile(dataDir + QStringLiteral("/stats.json"),
                        R"({"version":1,"days":{"2026-12-01":{"takes":-1,"words":0,"speakingMs":0}}})");

    ChildSpec spec = appSpec();
    spec.environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
    ChildProcess app;
    ASSERT_TRUE(app.start(spec));
    ASSERT_TRUE(waitForLine(app, "app: launched"));
    // The settings are read before the application exists, the stores after it: the user hears of both.
    ASSERT_TRUE(notifications.waitForNotifications(2, zq::test::kLoadedMachineTimeout))
        << "the user is told where the files went";
    EXPECT_TRUE(quitsCleanly(app, SIGINT));

    const QStringList kept = QDir(configDir).entryList({QStringLiteral("settings.json.corrupt-*")}, QDir::Files);
    ASSERT_EQ(kept.size(), 1) << "the unreadable file must be kept, not overwritten";
    // Both are told, in no promised order.
    const auto notices = notifications.notifications();
    const auto titled = [&](const QString &summary) {
        return std::find_if(notices.begin(), notices.end(), [&](const auto &n) { return n.summary == summary; });
    };
    const auto settingsNotice = titled(QStringLiteral("Couldn't read your settings"));
    ASSERT_NE(settingsNotice, notices.end());
    EXPECT_TRUE(settingsNotice->body.contains(configDir + QLatin1Char('/') + kept.first()));
    EXPECT_NE(titled(QStringLiteral("Couldn't read your statistics")), notices.end());
    QFile keptFile(configDir + QLatin1Char('/') + kept.first());
    ASSERT_TRUE(keptFile.open(QIODevice::ReadOnly));
    EXPECT_EQ(keptFile.readAll(), QByteArray("{\"format\":1,\"values\":{\"backend\":"));
}

TEST_F(AppIntegrationTest, WithoutATrayHostTheMainWindowOpensSoTheAppIsReachable)
{
    writeSettings(true);
    ChildProcess app;
    ASSERT_TRUE(app.start(appSpec()));
    ASSERT_TRUE(waitForLine(app, "no system tray host found"));
    EXPECT_TRUE(eventually([] { return hasWindowTitled(QStringLiteral("ZEPA QUARN")); }));
    EXPECT_FALSE(hasWindowTitled(QStringLiteral("Welcome"))) << "onboarding is done";
    EXPECT_TRUE(quitsCleanly(app, SIGTERM));
}

TEST_F(AppIntegrationTest, WithATrayHostOnlyTheOnboardingWindowOpensAtFirstLaunch)
{
    ChildProcess tray;
    ChildSpec traySpec;
    traySpec.program = QStringLiteral("trayer");
    traySpec.arguments = {QStringLiteral("--edge"),  QStringLiteral("top"),         QStringLiteral("--align"),
                          QStringLiteral("right"),   QStringLiteral("--widthtype"), QStringLiteral("pixel"),
                          QStringLiteral("--width"), QStringLiteral("100"),         QStringLiteral("--height"),
                          QStringLiteral("24")};
    traySpec.environment.insert(QStringLiteral("DISPLAY"), zq::test::sharedDisplay());
    const bool trayStarted = tray.start(traySpec);
    ZQ_REQUIRE_SERVICE(trayStarted, tray.errorString());
    // The tray host owns the tray selection once its window is mapped.
    ASSERT_TRUE(eventually([] {
        const auto owner = zq::test::runTool(
            QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--class"), QStringLiteral("trayer")});
        return owner.succeeded();
    }));

    writeSettings(false);
    ChildProcess app;
    ASSERT_TRUE(app.start(appSpec()));
    ASSERT_TRUE(waitForLine(app, "app: launched"));
    EXPECT_TRUE(eventually([] { return hasWindowTitled(QStringLiteral("Welcome")); }));
    EXPECT_FALSE(hasWindowTitled(QStringLiteral("ZEPA QUARN"))) << "the main window is not opened at launch";
    EXPECT_TRUE(quitsCleanly(app, SIGTERM));
    EXPECT_FALSE(app.collected(ChildProcess::Channel::StandardError).contains("no system tray host"));
}

TEST_F(AppIntegrationTest, WithoutAnX11DisplayTheAppSaysSoAndExitsWithAFailureStatus)
{
    zq::test::DBusSession bus;
    const bool busStarted = bus.start();
    ZQ_REQUIRE_SERVICE(busStarted, QStringLiteral("no private session bus"));
    zq::test::NotificationServer notifications;
    ASSERT_TRUE(notifications.start(bus.address()));
    writeSettings(true);

    // A pure Wayland session (no X display named), then a display that cannot be opened.
    const std::vector<std::optional<QString>> displays = {std::nullopt, QStringLiteral(":32123")};
    for (const auto &display : displays) {
        ChildSpec spec = appSpec();
        spec.environment.remove(QStringLiteral("DISPLAY"));
        if (display)
            spec.environment.insert(QStringLiteral("DISPLAY"), *display);
        spec.environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        spec.environment.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-zq-absent"));
        spec.environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
        ChildProcess app;
        ASSERT_TRUE(app.start(spec));
        const auto status = app.waitForExit(QDeadlineTimer(15s));
        ASSERT_TRUE(status.has_value()) << "it must exit by itself, not abort or hang";
        EXPECT_NE(*status, 0);
        const QByteArray stderrText = app.collected(ChildProcess::Channel::StandardError);
        EXPECT_TRUE(stderrText.contains("ZEPA QUARN needs an X11 session")) << stderrText.constData();
        EXPECT_FALSE(stderrText.contains("Reinstalling")) << stderrText.constData();
    }
    ASSERT_TRUE(notifications.waitForNotifications(2, zq::test::kLoadedMachineTimeout))
        << "the user must be told, not only the log";
    for (const auto &notice : notifications.notifications())
        EXPECT_EQ(notice.summary, "ZEPA QUARN needs X11");
    EXPECT_FALSE(QFileInfo::exists(m_home.filePath(QStringLiteral("data/ZEPAquarn"))))
        << "it stops before it touches any data";
}

TEST_F(AppIntegrationTest, WithAnX11DisplayItIsUsedEvenWhenAWaylandOneIsNamedToo)
{
    // Global keys and paste need X11: a Wayland display (and a toolkit told to use it) does not
    // keep the application from the X11 display that is there as well.
    ChildSpec spec = appSpec();
    spec.environment.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-zq-absent"));
    spec.environment.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
    spec.environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    ChildProcess app;
    ASSERT_TRUE(app.start(spec));
    std::optional<QByteArray> launched;
    const QDeadlineTimer deadline(15s);
    while (!launched) {
        auto line = app.readLine(ChildProcess::Channel::StandardError, deadline);
        if (!line)
            break;
        if (line->contains("app: launched"))
            launched = line;
    }
    ASSERT_TRUE(launched.has_value()) << "it must start, not abort";
    EXPECT_TRUE(launched->endsWith(" on xcb") || launched->contains(" on \"xcb\"")) << launched->constData();
    EXPECT_TRUE(quitsCleanly(app, SIGTERM));
}

TEST_F(AppIntegrationTest, TwoLaunchesThatShareAnyFolderTheyWriteMeetAtALock)
{
    ChildProcess first;
    ASSERT_TRUE(first.start(appSpec()));
    ASSERT_TRUE(waitForLine(first, "app: launched"));

    // The same data under other logs and takes; other data under the same settings and takes
    // (both would paste every take twice); only the logs shared.
    const std::vector<std::vector<const char *>> othersNamed = {
        {"XDG_RUNTIME_DIR", "XDG_STATE_HOME"},
        {"XDG_DATA_HOME"},
        {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"},
    };
    int variant = 0;
    for (const auto &names : othersNamed) {
        ChildSpec spec = appSpec();
        for (const char *name : names) {
            const QString folder = m_home.filePath(QStringLiteral("%1-%2").arg(QLatin1String(name)).arg(++variant));
            ASSERT_TRUE(QDir().mkpath(folder));
            QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
            spec.environment.insert(QLatin1String(name), folder);
        }
        ChildProcess second;
        ASSERT_TRUE(second.start(spec));
        EXPECT_EQ(second.waitForExit(QDeadlineTimer(15s)), 0) << names.front();
        EXPECT_TRUE(second.collected(ChildProcess::Channel::StandardError).contains("already running"))
            << names.front();
    }

    EXPECT_TRUE(quitsCleanly(first, SIGTERM));
}

TEST_F(AppIntegrationTest, ALockThatCannotBeMadeIsNoOtherInstanceTheAppRunsAndSaysWhyOnce)
{
    zq::test::DBusSession bus;
    const bool busStarted = bus.start();
    ZQ_REQUIRE_SERVICE(busStarted, QStringLiteral("no private session bus"));
    zq::test::NotificationServer notifications;
    ASSERT_TRUE(notifications.start(bus.address()));
    // What a read-only data folder does to the lock, in a way root cannot write through.
    ASSERT_TRUE(QDir().mkpath(m_home.filePath(QStringLiteral("data/ZEPAquarn/instance.lock"))));

    ChildSpec spec = appSpec();
    spec.environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
    ChildProcess app;
    ASSERT_TRUE(app.start(spec));
    ASSERT_TRUE(waitForLine(app, "running without the single-instance lock")) << "the log says why";
    ASSERT_TRUE(waitForLine(app, "app: launched")) << "it runs";
    ASSERT_TRUE(notifications.waitForNotifications(1, zq::test::kLoadedMachineTimeout)) << "the user is told";
    QThread::msleep(500);
    const auto notices = notifications.notifications();
    ASSERT_EQ(notices.size(), 1u) << "once";
    EXPECT_EQ(notices.front().summary, "ZEPA QUARN cannot lock its folders");
    EXPECT_TRUE(notices.front().body.contains("instance.lock")) << notices.front().body.toStdString();
    // It shows the icon the application writes into the user's icon theme.
    const QString icon = m_home.filePath(QStringLiteral("data/icons/hicolor/128x128/apps/zepaquarn.png"));
    EXPECT_EQ(notices.front().appIcon, QUrl::fromLocalFile(icon).toString());
    EXPECT_TRUE(eventually([&] { return QFileInfo::exists(icon); }));

    EXPECT_TRUE(quitsCleanly(app, SIGTERM));
    EXPECT_FALSE(app.collected(ChildProcess::Channel::StandardError).contains("already running"));
}

TEST_F(AppIntegrationTest, ALinkedRecordingsFolderAndItsFilesSurviveAStart)
{
    QTemporaryDir elsewhere;
    const QString foreign = elsewhere.filePath(QStringLiteral("00000000-0000-0000-0000-000000000001.wav"));
    zq::test::writeFile(foreign, "someone else's file");
    zq::test::writeFile(elsewhere.filePath(QStringLiteral("notes.txt")), "theirs");
    const QString incidents = m_home.filePath(QStringLiteral("data/ZEPAquarn/Incidents"));
    ASSERT_TRUE(QDir().mkpath(incidents));
    ASSERT_TRUE(QFile::link(elsewhere.path(), incidents + QStringLiteral("/Recordings")));

    ChildProcess app;
    ASSERT_TRUE(app.start(appSpec()));
    ASSERT_TRUE(waitForLine(app, "folder left alone")) << "the link is noticed and logged";
    EXPECT_TRUE(quitsCleanly(app, SIGTERM));
    EXPECT_TRUE(QFileInfo::exists(foreign));
    EXPECT_EQ(QDir(elsewhere.path()).entryList(QDir::Files | QDir::Hidden).size(), 2) << "nothing added or removed";
}

TEST_F(AppIntegrationTest, LeftoversOfEarlierRunsGoAtStartButALiveInstancesFilesStay)
{
    const QString data = m_home.filePath(QStringLiteral("data/ZEPAquarn"));
    const QString takes = m_home.filePath(QStringLiteral("run/ZEPAquarn-takes"));
    const QStringList stale = {data + QStringLiteral("/.history.json.tmp-Qx81Lm"),
                               data + QStringLiteral("/Incidents/.incidents.json.tmp-0aZ9bY"),
                               m_home.filePath(QStringLiteral("state/ZEPAquarn/.run-state.json.tmp-abcdef")),
                               m_home.filePath(QStringLiteral("config/ZEPAquarn/.settings.json.tmp-ABCDEF")),
                               takes + QStringLiteral("/zepaquarn-5A1B2C3D-0000-4000-8000-00000000000A.wav"),
                               takes + QStringLiteral("/zepaquarn-16k-5A1B2C3D-0000-4000-8000-00000000000A.wav")};
    const QStringList foreign = {data + QStringLiteral("/my-notes.txt"), takes + QStringLiteral("/recording.wav")};
    for (const QString &path : stale + foreign) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        zq::test::writeFile(path, "left behind");
    }

    // They go once the tray icon is up, before the journal's first line: before anything of the run
    // writes.
    ChildProcess first;
    ASSERT_TRUE(first.start(appSpec()));
    ASSERT_TRUE(waitForLine(first, "diagnostics: session"));
    for (const QString &path : stale)
        EXPECT_FALSE(QFileInfo::exists(path)) << path.toStdString();
    for (const QString &path : foreign)
        EXPECT_TRUE(QFileInfo::exists(path)) << path.toStdString();

    // While it runs, a take of its own is in the take folder. A second launch on the same data,
    // and a launch on other data that shares the runtime folder, must leave it alone.
    const QString live = takes + QStringLiteral("/zepaquarn-5A1B2C3D-0000-4000-8000-00000000000B.wav");
    zq::test::writeFile(live, "being recorded");
    ChildProcess same;
    ASSERT_TRUE(same.start(appSpec()));
    EXPECT_EQ(same.waitForExit(QDeadlineTimer(15s)), 0);
    ChildSpec otherData = appSpec();
    otherData.environment.insert(QStringLiteral("XDG_DATA_HOME"), m_home.filePath(QStringLiteral("data2")));
    ChildProcess other;
    ASSERT_TRUE(other.start(otherData));
    EXPECT_EQ(other.waitForExit(QDeadlineTimer(15s)), 0) << "it shares the take folder: it does not run";
    EXPECT_TRUE(QFileInfo::exists(live));

    EXPECT_TRUE(quitsCleanly(first, SIGTERM));
    EXPECT_TRUE(QFileInfo::exists(live)) << "removed at the next start, not by anyone while it runs";
}

TEST_F(AppIntegrationTest, AHistoryWithOneDamagedItemLoadsEveryOtherItem)
{
    const QString data = m_home.filePath(QStringLiteral("data/ZEPAquarn"));
    ASSERT_TRUE(QDir().mkpath(data));
    const QByteArray original = R"([{"id":"8C4F3F6C-2C1F-4E55-9E3A-0D5A1E1B2C3D","text":"first","date":700000000},)"
                                R"({"id":"9C4F3F6C-2C1F-4E55-9E3A-0D5A1E1B2C3D","text":["bad"],"date":700000001},)"
                                R"({"id":"AC4F3F6C-2C1F-4E55-9E3A-0D5A1E1B2C3D","text":"third","date":700000002}])";
    zq::test::writeFile(data + QStringLiteral("/history.json"), original);

    ChildProcess app;
    ASSERT_TRUE(app.start(appSpec()));
    ASSERT_TRUE(waitForLine(app, "app: launched"));
    const QString journal = m_home.filePath(QStringLiteral("state/ZEPAquarn/diagnostics.jsonl"));
    std::optional<zq::DiagnosticRecord> dropped;
    const QDeadlineTimer deadline(15s);
    while (!dropped && !deadline.hasExpired()) {
        for (const QByteArray &line : zq::test::readFile(journal).split('\n')) {
            if (auto record = zq::DiagnosticRecord::fromJson(line);
                record && record->event == zq::DiagnosticEvent::storeEntriesDropped)
                dropped = record;
        }
        QThread::msleep(50);
    }
    EXPECT_TRUE(quitsCleanly(app, SIGTERM));

    ASSERT_TRUE(dropped.has_value()) << "what was dropped is journaled";
    EXPECT_EQ(dropped->metadata, (zq::DiagnosticMetadata{{QStringLiteral("store"), QStringLiteral("history")},
                                                         {QStringLiteral("dropped"), QStringLiteral("1")},
                                                         {QStringLiteral("kept"), QStringLiteral("2")}}));
    EXPECT_FALSE(zq::test::readFile(journal).contains("bad")) << "never the content";
    const QJsonArray items =
        QJsonDocument::fromJson(zq::test::readFile(data + QStringLiteral("/history.json"))).array();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items.at(0).toObject().value(QStringLiteral("text")).toString(), QStringLiteral("first"));
    EXPECT_EQ(items.at(1).toObject().value(QStringLiteral("text")).toString(), QStringLiteral("third"));
    const QStringList aside = QDir(data).entryList({QStringLiteral("history.json.corrupt-*")}, QDir::Files);
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(zq::test::readFile(data + QLatin1Char('/') + aside.first()), original);
}

TEST_F(AppIntegrationTest, EverythingAFreshStartCreatesIsPrivate)
{
    ChildProcess app;
    ASSERT_TRUE(app.start(appSpec()));
    ASSERT_TRUE(waitForLine(app, "app: launched"));
    ASSERT_TRUE(waitForLine(app, "diagnostics: session"));
    EXPECT_TRUE(quitsCleanly(app, SIGTERM));

    int checked = 0;
    for (const char *top : {"data/ZEPAquarn", "state/ZEPAquarn", "config/ZEPAquarn", "run/ZEPAquarn-takes"}) {
        QDirIterator it(m_home.filePath(QLatin1String(top)), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        EXPECT_EQ(modeOf(m_home.filePath(QLatin1String(top))), 0700u) << top;
        while (it.hasNext()) {
            const QString path = it.next();
            EXPECT_EQ(modeOf(path), it.fileInfo().isDir() ? 0700u : 0600u) << path.toStdString();
            ++checked;
        }
    }
    EXPECT_GE(checked, 6) << "the lock, settings, journal, run state, read-me and the incident folders";
}

TEST_F(AppIntegrationTest, FilesLeftReadableByOthersArePrivateFromTheStartNotOnlyOnceRewritten)
{
    writeSettings(true);
    const QString settings = m_home.filePath(QStringLiteral("config/ZEPAquarn/settings.json"));
    const QString history = m_home.filePath(QStringLiteral("data/ZEPAquarn/history.json"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(history).absolutePath()));
    zq::test::writeFile(history, "[]");
    ASSERT_EQ(::chmod(QFile::encodeName(settings).constData(), 0666), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(history).constData(), 0644), 0);
    const QByteArray settingsBefore = zq::test::readFile(settings);

    // Private before the run reads its stores or writes anything: before the journal's first line.
    ChildProcess app;
    ASSERT_TRUE(app.start(appSpec()));
    ASSERT_TRUE(waitForLine(app, "diagnostics: session"));
    EXPECT_EQ(modeOf(settings), 0600u);
    EXPECT_EQ(modeOf(history), 0600u);
    // Every setting the user had is still there as it was. The running app may already have added
    // its own (a loaded machine lets it get further before this read), so only those are compared.
    const QJsonObject before = QJsonDocument::fromJson(settingsBefore).object();
    const QJsonObject after = QJsonDocument::fromJson(zq::test::readFile(settings)).object();
    ASSERT_FALSE(before.isEmpty());
    for (auto it = before.begin(); it != before.end(); ++it)
        EXPECT_EQ(after.value(it.key()), it.value())
            << "made private without a setting changing: " << it.key().toStdString();
    EXPECT_TRUE(quitsCleanly(app, SIGTERM));
}

TEST_F(AppIntegrationTest, AFifoOrADeviceLinkInPlaceOfAnyStoreOrStateFileNeitherHoldsNorFillsTheApp)
{
    // Under a memory limit: a file read without bound ends the app at once instead of the machine.
    const QStringList files = {
        QStringLiteral("config/ZEPAquarn/settings.json"), QStringLiteral("data/ZEPAquarn/history.json"),
        QStringLiteral("state/ZEPAquarn/run-state.json"), QStringLiteral("state/ZEPAquarn/speech-channel.json")};
    for (const bool fifo : {true, false}) {
        SCOPED_TRACE(fifo ? "FIFOs" : "links to /dev/zero");
        QTemporaryDir home;
        m_home.swap(home);
        QDir(m_home.path()).mkpath(QStringLiteral("run"));
        QFile::setPermissions(m_home.filePath(QStringLiteral("run")),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        for (const QString &file : files) {
            const QString path = m_home.filePath(file);
            ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
            if (fifo)
                ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
            else
                ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), path));
        }

        ChildSpec spec = appSpec();
        spec.arguments = QStringList{QStringLiteral("--as=%1").arg(kAppAddressSpaceLimit), spec.program};
        spec.environment.insert(QStringLiteral("MALLOC_ARENA_MAX"), QStringLiteral("2"));
        spec.program = QStringLiteral("prlimit");
        ChildProcess app;
        ASSERT_TRUE(app.start(spec));
        ASSERT_TRUE(waitForLines(app, {"app: launched", "saved channel estimate unreadable"}))
            << "it starts, and the recogniser's loader goes on";
        EXPECT_TRUE(quitsCleanly(app, SIGTERM)) << "it quits on SIGTERM";
        for (const QString &file : files.mid(0, 3)) {
            const QStringList aside = QFileInfo(m_home.filePath(file))
                                          .dir()
                                          .entryList({QFileInfo(file).fileName() + QStringLiteral(".corrupt-*")},
                                                     QDir::AllEntries | QDir::System);
            EXPECT_EQ(aside.size(), 1) << file.toStdString() << " is kept aside";
        }
    }
}

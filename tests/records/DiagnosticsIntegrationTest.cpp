// Whole-process behaviour of diagnostics: a run killed with SIGKILL or dying of SIGSEGV is
// reported at the next start. The "application" is this test binary started again with
// ZQ_RECORDS_APP_ROLE set (see runApplicationRole), and once the real application binary.
#include "records/Diagnostics.h"
#include "support/Polling.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

using namespace zq;

namespace {

constexpr const char *roleVariable = "ZQ_RECORDS_APP_ROLE";
constexpr const char *folderVariable = "ZQ_RECORDS_APP_STATE";

// Runs before main() (and before TestMain replaces HOME and the XDG folders). Static data of other
// files may not be initialised yet, so the folders come explicitly rather than from Paths, in the
// same layout as the application's defaults.
int runApplicationRole(const QByteArray &role, const QString &folder)
{
    static int argc = 1;
    static char name[] = "records-app";
    static char *argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);

    Diagnostics::Options options;
    options.logDirectory = folder;
    options.crashReportDirectory = folder + QStringLiteral("/CrashReports");
    options.appVersion = QStringLiteral(ZQ_VERSION);
    options.build = QStringLiteral(ZQ_BUILD);
    options.installCrashHandler = true;
    // Like the shared instance: never destroyed, the process ends around it.
    Diagnostics &diagnostics = *new Diagnostics(options);
    diagnostics.start();
    diagnostics.record(DiagnosticEvent::dictationRequested, {{QStringLiteral("role"), QString::fromLatin1(role)}});
    diagnostics.waitUntilWritten();

    if (role == "segv") {
        const rlimit noCore{0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        volatile int *nowhere = nullptr;
        *nowhere = 1;
        return 3;
    }
    if (role == "quit")
        QTimer::singleShot(0, &application, &QCoreApplication::quit);
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    return application.exec();
}

const bool s_actedAsApplication = [] {
    const QByteArray role = qgetenv(roleVariable);
    if (role.isEmpty())
        return false;
    std::_Exit(runApplicationRole(role, qEnvironmentVariable(folderVariable)));
}();

struct Line {
    QString session;
    DiagnosticEvent event;
    DiagnosticMetadata metadata;
};

class DiagnosticsIntegrationTest : public ::testing::Test {
protected:
    QString stateDir() const { return home.filePath(QStringLiteral("state/ZEPAquarn")); }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_STATE_HOME"), home.filePath(QStringLiteral("state")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
        return env;
    }

    void startRole(QProcess &process, const char *role)
    {
        QProcessEnvironment env = environment();
        env.insert(QLatin1String(roleVariable), QLatin1String(role));
        env.insert(QLatin1String(folderVariable), stateDir());
        process.setProcessEnvironment(env);
        process.start(QCoreApplication::applicationFilePath(), {});
        ASSERT_TRUE(process.waitForStarted(10000));
    }

    std::vector<Line> journal() const
    {
        std::vector<Line> lines;
        QFile file(stateDir() + QStringLiteral("/diagnostics.jsonl"));
        if (!file.open(QIODevice::ReadOnly))
            return lines;
        for (const QByteArray &raw : file.readAll().split('\n')) {
            if (const auto record = DiagnosticRecord::fromJson(raw))
                lines.push_back({record->sessionID, record->event, record->metadata});
        }
        return lines;
    }

    std::vector<Line> session(int index) const
    {
        std::vector<Line> result;
        QStringList sessions;
        for (const Line &line : journal()) {
            if (!sessions.contains(line.session))
                sessions << line.session;
            if (sessions.indexOf(line.session) == index)
                result.push_back(line);
        }
        return result;
    }

    // Until the journal shows `launches` launches and the run state names the last one (it is
    // written right after the line).
    bool waitForLaunches(int launches) const
    {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < std::chrono::milliseconds(test::kLoadedMachineTimeout).count()) {
            int seen = 0;
            QString last;
            for (const Line &line : journal()) {
                if (line.event == DiagnosticEvent::appLaunched) {
                    ++seen;
                    last = line.session;
                }
            }
            QFile runState(stateDir() + QStringLiteral("/run-state.json"));
            const auto state =
                runState.open(QIODevice::ReadOnly) ? DiagnosticRunState::fromJson(runState.readAll()) : std::nullopt;
            if (seen >= launches && state && state->sessionID == last)
                return true;
            QThread::msleep(50);
        }
        return false;
    }

    QByteArray dump() const
    {
        QFile file(stateDir() + QStringLiteral("/diagnostics.jsonl"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no journal>");
    }

    static QList<DiagnosticEvent> events(const std::vector<Line> &lines)
    {
        QList<DiagnosticEvent> result;
        for (const Line &line : lines)
            result << line.event;
        return result;
    }

    QTemporaryDir home;
    QTemporaryDir runtime;
};

TEST_F(DiagnosticsIntegrationTest, KilledRunIsReportedBeforeTheNextLaunch)
{
    QProcess first;
    startRole(first, "wait");
    ASSERT_TRUE(first.waitForReadyRead(20000)) << "the application did not start";
    ::kill(static_cast<pid_t>(first.processId()), SIGKILL);
    ASSERT_TRUE(first.waitForFinished(10000));

    QProcess second;
    startRole(second, "quit");
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);

    const auto killed = session(0);
    const auto next = session(1);
    ASSERT_FALSE(killed.empty());
    EXPECT_EQ(events(next),
              (QList<DiagnosticEvent>{DiagnosticEvent::previousRunUnclean, DiagnosticEvent::appLaunched,
                                      DiagnosticEvent::dictationRequested, DiagnosticEvent::appTerminated}));
    ASSERT_FALSE(next.empty());
    EXPECT_EQ(next[0].metadata.value(QStringLiteral("previous_session")), killed[0].session);
    EXPECT_EQ(next[0].metadata.value(QStringLiteral("last_event")), QStringLiteral("dictation_requested"));

    QFile runState(stateDir() + QStringLiteral("/run-state.json"));
    ASSERT_TRUE(runState.open(QIODevice::ReadOnly));
    const auto state = DiagnosticRunState::fromJson(runState.readAll());
    ASSERT_TRUE(state);
    EXPECT_FALSE(state->active) << "a normal quit leaves the run inactive";
}

TEST_F(DiagnosticsIntegrationTest, CrashWritesAReportThatTheNextStartCopies)
{
    QProcess crashing;
    startRole(crashing, "segv");
    ASSERT_TRUE(crashing.waitForFinished(20000));
    EXPECT_EQ(crashing.exitStatus(), QProcess::CrashExit);

    const QDir reports(stateDir() + QStringLiteral("/CrashReports"));
    const QStringList written = reports.entryList({QStringLiteral("ZEPAquarn-*.crash")}, QDir::Files);
    ASSERT_EQ(written.size(), 1);
    QFile report(reports.filePath(written.first()));
    ASSERT_TRUE(report.open(QIODevice::ReadOnly));
    const QByteArray text = report.readAll();
    EXPECT_TRUE(text.startsWith("ZEPA QUARN crash report\n")) << text.constData();
    EXPECT_TRUE(text.contains("Signal: 11 (SIGSEGV)\n"));
    EXPECT_TRUE(text.contains("Version: " ZQ_VERSION " (" ZQ_BUILD ")\n"));
    EXPECT_TRUE(text.contains("Backtrace:\n"));
    EXPECT_GT(text.count('\n'), 8) << "some frames";

    QProcess next;
    startRole(next, "quit");
    ASSERT_TRUE(next.waitForFinished(20000));
    const auto lines = session(1);
    const auto found = std::find_if(lines.begin(), lines.end(),
                                    [](const Line &l) { return l.event == DiagnosticEvent::systemCrashReportFound; });
    ASSERT_NE(found, lines.end());
    EXPECT_EQ(found->metadata.value(QStringLiteral("filename")), written.first());
    EXPECT_EQ(events(lines).first(), DiagnosticEvent::previousRunUnclean);
    QFile copy(stateDir() + QLatin1Char('/') + written.first());
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
    EXPECT_EQ(copy.readAll(), text);
}

TEST_F(DiagnosticsIntegrationTest, TheApplicationJournalsItsLaunchesAndEnds)
{
    QProcess first;
    first.setProcessEnvironment(environment());
    first.start(QStringLiteral(ZQ_APP_BINARY), {});
    ASSERT_TRUE(first.waitForStarted(10000));
    ASSERT_TRUE(waitForLaunches(1)) << "no app_launched from " ZQ_APP_BINARY;
    ::kill(static_cast<pid_t>(first.processId()), SIGKILL);
    ASSERT_TRUE(first.waitForFinished(10000));

    QProcess second;
    second.setProcessEnvironment(environment());
    second.start(QStringLiteral(ZQ_APP_BINARY), {});
    ASSERT_TRUE(second.waitForStarted(10000));
    ASSERT_TRUE(waitForLaunches(2));
    // It logs its launch once its quit signals are handled; SIGTERM before that would just kill it.
    QByteArray log;
    QElapsedTimer timer;
    timer.start();
    while (!log.contains("app: launched") && timer.elapsed() < 20000) {
        second.waitForReadyRead(100);
        log += second.readAllStandardError();
    }
    ASSERT_TRUE(log.contains("app: launched")) << log.constData();
    ::kill(static_cast<pid_t>(second.processId()), SIGTERM);
    ASSERT_TRUE(second.waitForFinished(20000));
    log += second.readAllStandardError();

    const auto lines = session(1);
    ASSERT_GE(lines.size(), 3u) << "exit " << second.exitStatus() << "/" << second.exitCode() << "\n"
                                << log.constData() << dump().constData();
    EXPECT_EQ(lines.front().event, DiagnosticEvent::previousRunUnclean);
    EXPECT_EQ(lines[1].event, DiagnosticEvent::appLaunched);
    EXPECT_EQ(lines.back().event, DiagnosticEvent::appTerminated);
}

} // namespace

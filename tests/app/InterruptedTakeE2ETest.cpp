// The real application ended while a take is in flight (a quit signal, a logout, the X server
// dying): the captured recording is kept as an incident, and the next start keeps it too.
#include "pipeline/SettingsDefaults.h"
#include "platform/linux/freedesktop/LibsecretStore.h"
#include "support/ChildProcess.h"
#include "support/E2EEnvironment.h"
#include "support/LoopbackTranscriptionServer.h"
#include "support/Polling.h"
#include "support/ServiceEnvironment.h"
#include "support/XvfbServer.h"
#include "transcription/Keychain.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <optional>
#include <unistd.h>

using namespace std::chrono_literals;
using zq::DiagnosticEvent;
using zq::test::E2EEnvironment;
using zq::test::LoopbackTranscriptionServer;
using Answer = LoopbackTranscriptionServer::Answer;

namespace {

// Waiting for the silent service would take the request's minute; a quit on a loaded machine takes
// a few seconds.
constexpr auto kQuitBound = 15s;

// The process of this user that listens on the Unix socket `path`; 0 when none is found.
pid_t listeningProcess(const QString &path)
{
    QFile table(QStringLiteral("/proc/net/unix"));
    if (!table.open(QIODevice::ReadOnly))
        return 0;
    QSet<QByteArray> inodes;
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 8 && fields[7] == QFile::encodeName(path))
            inodes.insert("socket:[" + fields[6] + ']');
    }
    const QDir proc(QStringLiteral("/proc"));
    for (const QString &entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool numeric = false;
        const pid_t pid = static_cast<pid_t>(entry.toInt(&numeric));
        if (!numeric)
            continue;
        const QDir fds(proc.filePath(entry + QStringLiteral("/fd")));
        for (const QString &fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
            char target[64] = {};
            const QByteArray link = QFile::encodeName(fds.filePath(fd));
            const ssize_t length = ::readlink(link.constData(), target, sizeof target - 1);
            if (length > 0 && inodes.contains(QByteArray(target, length)))
                return pid;
        }
    }
    return 0;
}

class InterruptedTakeE2ETest : public ::testing::Test {
protected:
    void TearDown() override
    {
        // The environment's bus stops while this process still points at it, so that this
        // process's keyring clients let go of it; the next test starts on the process's own bus.
        env.reset();
        if (m_previousBusAddress)
            qputenv("DBUS_SESSION_BUS_ADDRESS", *m_previousBusAddress);
        if (m_ownDisplay)
            zq::test::setSharedDisplay(m_sharedDisplay, {});
        qputenv("ZQ_OPENAI_BASE_URL_FOR_TESTS", m_previousBaseUrl);
    }

    // Everything for OpenAI takes that are sent and never answered. With `ownDisplay` the
    // application gets an X server of its own, which the test may kill.
    void startEverything(bool ownDisplay = false)
    {
        // One service for all rounds of a test; each round counts its own uploads.
        if (!m_serverStarted) {
            server.setDefaultAnswer(Answer::hang());
            ASSERT_TRUE(server.start()) << server.errorString().toStdString();
            m_serverStarted = true;
        }
        m_earlierUploads = 0;
        m_earlierUploads = uploads();
        m_previousBaseUrl = qgetenv("ZQ_OPENAI_BASE_URL_FOR_TESTS");
        qputenv("ZQ_OPENAI_BASE_URL_FOR_TESTS", server.baseUrl().toUtf8());
        if (ownDisplay) {
            m_ownDisplay = true;
            m_sharedDisplay = zq::test::sharedDisplay();
            zq::test::setSharedDisplay({}, QStringLiteral("this test kills its display"));
        }
        env = std::make_unique<E2EEnvironment>();
        const bool started = env->start();
        if (!zq::test::requireService(started, env->errorString()))
            return;
        ASSERT_FALSE(E2EEnvironment::speechSamples().empty());
        // The key goes into the environment's keyring, as the settings page would put it there.
        m_previousBusAddress = qgetenv("DBUS_SESSION_BUS_ADDRESS");
        qputenv("DBUS_SESSION_BUS_ADDRESS", env->bus().address().toUtf8());
        const zq::Keychain keychain(std::make_shared<zq::platform::LibsecretStore>());
        keychain.saveAPIKey(QStringLiteral("sk-test-interrupted"));
        ASSERT_EQ(keychain.readAPIKey(), QStringLiteral("sk-test-interrupted"));
        ASSERT_TRUE(env->writeSettings({{zq::keys::backend, QStringLiteral("openai")}}))
            << env->errorString().toStdString();
        ASSERT_TRUE(env->startApp()) << env->errorString().toStdString();
        ASSERT_TRUE(env->target().activate());
    }

    bool ready() const { return env && !HasFatalFailure() && !IsSkipped(); }

    // Holds the trigger and speaks into the take (the `nth` of this run); the trigger stays held.
    void speakHolding(int nth)
    {
        ASSERT_TRUE(env->pressTrigger());
        ASSERT_TRUE(env->waitForJournal(DiagnosticEvent::audioStartCompleted, nth, zq::test::kLoadedMachineTimeout))
            << env->appLogTail().toStdString();
        env->feeder()->speak(E2EEnvironment::speechSamples());
        ASSERT_TRUE(env->feeder()->waitUntilSpoken(zq::test::kLoadedMachineTimeout))
            << env->feeder()->errorString().toStdString();
    }

    // A take of this run, spoken and sent: the service has it and will never answer.
    void sendTake(int nth)
    {
        speakHolding(nth);
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(env->releaseTrigger());
        const QDeadlineTimer deadline(30s);
        while (uploads() < nth && !deadline.hasExpired())
            QThread::msleep(50);
        ASSERT_EQ(uploads(), nth) << "the take was not sent; log:\n" << env->appLogTail().toStdString();
    }

    // The newest incident must be the interrupted take with its recording in place. A run that was
    // killed never wrote its file's final header: `killed` takes a stale one.
    void expectInterruptedIncident(qsizetype count, bool killed = false)
    {
        const QJsonArray incidents = env->incidents();
        ASSERT_EQ(incidents.size(), count) << env->appLogTail().toStdString();
        const QJsonObject incident = incidents.at(0).toObject();
        EXPECT_EQ(incident.value(QStringLiteral("code")).toString(), QStringLiteral("ZQ-TX-INTERRUPTED"));
        EXPECT_EQ(incident.value(QStringLiteral("title")).toString(), QStringLiteral("Transcription interrupted"));
        EXPECT_EQ(incident.value(QStringLiteral("backend")).toString(), QStringLiteral("openai"));
        const QString recording = incident.value(QStringLiteral("recordingFilename")).toString();
        ASSERT_FALSE(recording.isEmpty()) << "the recording is kept for Retry";
        // At least the spoken second of 16-bit audio, whatever the take's own rate, and a header
        // that gives the file's whole length (one never completed gives that of an empty file).
        QFile wav(recordingsDir() + recording);
        ASSERT_TRUE(wav.open(QIODevice::ReadOnly));
        const QByteArray header = wav.read(8);
        EXPECT_GT(wav.size(), 32000);
        if (killed)
            return;
        ASSERT_EQ(header.size(), 8);
        EXPECT_TRUE(header.startsWith("RIFF"));
        const auto byte = [&](int i) { return qint64(quint8(header[i])); };
        EXPECT_EQ(byte(4) + (byte(5) << 8) + (byte(6) << 16) + (byte(7) << 24) + 8, wav.size());
    }

    // Takes posted to the service (its warm-ups are not takes).
    int uploads() const
    {
        int count = -m_earlierUploads;
        for (const auto &request : server.requests())
            count += request.method == "POST" && request.target == "/v1/audio/transcriptions";
        return count;
    }

    QString recordingsDir() const { return env->dataDir() + QStringLiteral("/Incidents/Recordings/"); }

    // Quits the application as a logout does and says how long it took.
    void quitMeasured()
    {
        QElapsedTimer quitting;
        quitting.start();
        EXPECT_TRUE(env->stopApp(kQuitBound)) << "it must quit by itself, not wait for the service; log:\n"
                                              << env->appLogTail().toStdString();
        std::printf("quit with a take in flight took %lld ms\n", static_cast<long long>(quitting.elapsed()));
    }

    // One more run of the application on the environment's folders (on `display` when given),
    // started up to its trigger tap, with its log at `logPath`.
    void startRun(zq::test::ChildProcess &run, const QString &logPath, const QString &display = {})
    {
        zq::test::ChildSpec spec;
        spec.program = QStringLiteral(ZQ_APP_BINARY);
        spec.environment = env->appEnvironment();
        if (!display.isEmpty())
            spec.environment.insert(QStringLiteral("DISPLAY"), display);
        spec.logPath = logPath;
        ASSERT_TRUE(run.start(spec));
        const QDeadlineTimer started(30s);
        while (!logOf(logPath).contains("hotkey: tap started") && run.isRunning() && !started.hasExpired())
            QThread::msleep(50);
        ASSERT_TRUE(logOf(logPath).contains("hotkey: tap started")) << logOf(logPath).constData();
    }
    static QByteArray logOf(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    LoopbackTranscriptionServer server;
    std::unique_ptr<E2EEnvironment> env;

private:
    QByteArray m_previousBaseUrl;
    std::optional<QByteArray> m_previousBusAddress;
    bool m_ownDisplay = false;
    bool m_serverStarted = false;
    int m_earlierUploads = 0;
    QString m_sharedDisplay;
};

TEST_F(InterruptedTakeE2ETest, QuitWhileATakeUploadsOrRecordsKeepsItAndTheNextStartKeepsItToo)
{
    startEverything();
    if (!ready())
        return;

    sendTake(1);
    if (HasFatalFailure())
        return;
    quitMeasured();
    expectInterruptedIncident(1);
    if (HasFatalFailure())
        return;
    EXPECT_TRUE(env->target().text().isEmpty()) << "nothing is pasted";

    // The next start sweeps the take folder and the unnamed recordings: the kept one stays.
    QTemporaryDir logs;
    const QString secondLog = logs.filePath(QStringLiteral("second.log"));
    zq::test::ChildProcess second;
    startRun(second, secondLog);
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(env->target().activate());
    expectInterruptedIncident(1);

    // Quit while the trigger is still held: what was heard so far is the recording.
    speakHolding(2);
    if (HasFatalFailure())
        return;
    ::kill(second.pid(), SIGTERM);
    EXPECT_EQ(second.waitForExit(QDeadlineTimer(kQuitBound)), 0) << logOf(secondLog).constData();
    EXPECT_TRUE(env->releaseTrigger());
    expectInterruptedIncident(2);
    EXPECT_EQ(uploads(), 1) << "the take being recorded was never sent";
    if (HasFatalFailure())
        return;

    // Killed while recording, it keeps nothing itself: the start after it keeps the take's file.
    zq::test::ChildProcess third;
    startRun(third, logs.filePath(QStringLiteral("third.log")));
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(env->target().activate());
    speakHolding(3);
    if (HasFatalFailure())
        return;
    ::kill(third.pid(), SIGKILL);
    (void)third.waitForExit(QDeadlineTimer(kQuitBound));
    EXPECT_TRUE(env->releaseTrigger());
    zq::test::ChildProcess fourth;
    const QString fourthLog = logs.filePath(QStringLiteral("fourth.log"));
    startRun(fourth, fourthLog);
    if (HasFatalFailure())
        return;
    expectInterruptedIncident(3, /*killed=*/true);
    ::kill(fourth.pid(), SIGTERM);
    EXPECT_EQ(fourth.waitForExit(QDeadlineTimer(kQuitBound)), 0) << logOf(fourthLog).constData();
}

TEST_F(InterruptedTakeE2ETest, AnXServerThatDiesDuringATakeEndsTheProcessCleanlyWithTheTakeKept)
{
    // While a take records and while one uploads. The trigger's own connection and the toolkit's
    // notice the loss in either order; the order that once lost the take is pinned by a unit test.
    for (int round = 0; round < 2 && !HasFailure(); ++round) {
        const bool recording = round % 2 == 0;
        SCOPED_TRACE(testing::Message() << "round " << round << (recording ? ", recording" : ", uploading"));
        startEverything(/*ownDisplay=*/true);
        if (!ready())
            return;

        if (recording)
            speakHolding(1);
        else
            sendTake(1);
        if (HasFatalFailure())
            return;
        const pid_t xServer = listeningProcess(QStringLiteral("/tmp/.X11-unix/X") + env->display().mid(1));
        ASSERT_GT(xServer, 1) << "no process of ours listens on the display " << env->display().toStdString();
        ASSERT_EQ(::kill(xServer, SIGKILL), 0);

        const auto status = env->waitForAppExit(10s);
        ASSERT_TRUE(status.has_value()) << "the application outlived its display or died of a signal; log:\n"
                                        << env->appLogTail().toStdString();
        EXPECT_EQ(*status, 1) << env->appLogTail().toStdString();
        expectInterruptedIncident(1);
        if (HasFatalFailure())
            return;

        // The next start, on a display that lives, keeps the incident and its recording.
        zq::test::XvfbServer nextDisplay;
        ASSERT_TRUE(nextDisplay.start()) << nextDisplay.errorString().toStdString();
        QTemporaryDir logs;
        const QString nextLog = logs.filePath(QStringLiteral("next.log"));
        zq::test::ChildProcess next;
        startRun(next, nextLog, nextDisplay.display());
        if (HasFatalFailure())
            return;
        ::kill(next.pid(), SIGTERM);
        EXPECT_EQ(next.waitForExit(QDeadlineTimer(kQuitBound)), 0) << logOf(nextLog).constData();
        expectInterruptedIncident(1);
        TearDown();
    }
}

} // namespace

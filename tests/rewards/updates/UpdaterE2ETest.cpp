// The real application, started from a copy of its executable with the test-only feed settings:
// a signed update downloaded in the background is installed as it quits, an update the user
// installs from the offer replaces the executable and starts it in place of the application, and a
// quit during that download leaves none of it behind.

#include "platform/linux/appcast/AppcastUpdateFramework.h"
#include "support/ChildProcess.h"
#include "support/E2EEnvironment.h"
#include "support/LoopbackFeedServer.h"
#include "support/Polling.h"
#include "support/ServiceEnvironment.h"
#include "support/TestFiles.h"
#include "support/UpdateFeedKit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

using namespace std::chrono_literals;
using zq::test::ChildProcess;
using zq::test::ChildSpec;
using zq::test::readFile;

namespace {

bool waitForLog(const QString &path, const QByteArray &text, std::chrono::milliseconds timeout)
{
    return zq::test::waitFor([&] { return readFile(path).contains(text); }, timeout, 50ms);
}

// Waits for the update window, then answers it with Return (its default button: Install).
bool pressReturnInUpdateWindow(const zq::test::E2EEnvironment &environment)
{
    QString window;
    const bool shown = zq::test::waitFor(
        [&] {
            const auto found = zq::test::runTool("xdotool", {"search", "--onlyvisible", "--name", "^Software Update$"},
                                                 environment.appEnvironment());
            window = QString::fromLatin1(found.standardOutput).section(u'\n', 0, 0).trimmed();
            return !window.isEmpty();
        },
        zq::test::kLoadedMachineTimeout, 100ms);
    return shown &&
           zq::test::runTool("xdotool", {"windowfocus", "--sync", window}, environment.appEnvironment()).succeeded() &&
           zq::test::runTool("xdotool", {"key", "Return"}, environment.appEnvironment()).succeeded();
}

struct FeedRig {
    bool start()
    {
        if (!server.start())
            return false;
        newProgram = readFile(QStringLiteral(ZQ_VERSION_PRINTER_NEW));
        const QByteArray archive = zq::test::makeTarGz({{"zepaquarn", newProgram, '0', {}}});
        server.setAnswer("/zq-5.tar.gz", {200, archive, "application/gzip", false});
        announce(archive.size(), key.signUpdate(archive, "5", "1.3.0"));
        return true;
    }
    // Serves, instead, an update whose executable is `size` bytes that gzip cannot shrink, from disk.
    bool serveLargeUpdate(qint64 size)
    {
        const QString served = folder.filePath("served.tar.gz");
        const QByteArray digest = zq::test::writeTarGzFile(served, "zepaquarn", size, zq::test::fillIncompressible);
        server.setAnswer("/zq-5.tar.gz", zq::test::LoopbackFeedServer::Answer::fromFile(served, "application/gzip"));
        announce(QFileInfo(served).size(), key.signUpdateDigest(digest, "5", "1.3.0"));
        return !digest.isEmpty();
    }
    void announce(qint64 length, const QByteArray &signature)
    {
        server.setAnswer(
            "/appcast.xml",
            {200, zq::test::makeAppcast({{"5", "1.3.0", server.url("/zq-5.tar.gz"), length, signature, {}, {}}}),
             "application/rss+xml", false});
    }

    // The application's launch from a copy of its executable, pointed at this feed.
    ChildSpec appSpec(const zq::test::E2EEnvironment &environment)
    {
        ChildSpec spec;
        spec.program = executable;
        spec.environment = environment.appEnvironment();
        spec.environment.insert("ZQ_UPDATE_FEED_URL_FOR_TESTS", server.url("/appcast.xml"));
        spec.environment.insert("ZQ_UPDATE_PUBLIC_KEY_FOR_TESTS", QString::fromLatin1(key.publicKeyBase64()));
        spec.environment.insert("ZQ_UPDATE_CERTIFICATE_FOR_TESTS", server.certificateFile());
        spec.environment.insert("ZQ_UPDATE_LAUNCH_CHECK_DELAY_MS_FOR_TESTS", "0");
        spec.logPath = folder.filePath("app.log");
        return spec;
    }

    zq::test::LoopbackFeedServer server;
    const zq::test::Ed25519TestKey key;
    QByteArray newProgram;
    QTemporaryDir folder;
    const QString executable = folder.filePath("zepaquarn");
};

} // namespace

// A desktop of its own and an update feed on loopback, for each test.
class UpdaterE2ETest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const bool started = environment.start();
        ZQ_REQUIRE_SERVICE(started, environment.errorString());
        const bool serving = feed.start();
        ZQ_REQUIRE_SERVICE(serving, feed.server.errorString());
    }

    zq::test::E2EEnvironment environment;
    FeedRig feed;
};

TEST_F(UpdaterE2ETest, AnAutomaticDownloadIsInstalledWhenTheApplicationQuits)
{
    ASSERT_TRUE(environment.writeSettings(
        {{QString::fromLatin1(zq::platform::AppcastUpdateFramework::kAutomaticDownloadsKey), true}}))
        << qPrintable(environment.errorString());
    ASSERT_TRUE(QFile::copy(QStringLiteral(ZQ_APP_BINARY), feed.executable));
    const ChildSpec spec = feed.appSpec(environment);
    ChildProcess app;
    ASSERT_TRUE(app.start(spec)) << qPrintable(app.errorString());

    ASSERT_TRUE(waitForLog(spec.logPath, "downloaded and verified; installs at quit", 30s))
        << qPrintable(app.logTail(30));
    EXPECT_EQ(feed.server.requestCount("/zq-5.tar.gz"), 1);
    EXPECT_NE(readFile(feed.executable), feed.newProgram) << "nothing replaced while it runs";

    ::kill(app.pid(), SIGTERM);
    ASSERT_EQ(app.waitForExit(QDeadlineTimer(15s)), 0) << qPrintable(app.logTail(30));
    EXPECT_TRUE(readFile(spec.logPath).contains("installed build \"5\" at quit")) << qPrintable(app.logTail(30));

    const auto ran = zq::test::runTool(feed.executable, {});
    ASSERT_TRUE(ran.succeeded()) << qPrintable(ran.describe());
    EXPECT_EQ(ran.standardOutput, "1.3.0\n") << "the executable in place is the new build";
}

TEST_F(UpdaterE2ETest, InstallingTheOfferedUpdateRelaunchesTheNewExecutable)
{
    ASSERT_TRUE(environment.writeSettings()) << qPrintable(environment.errorString());
    ASSERT_TRUE(QFile::copy(QStringLiteral(ZQ_APP_BINARY), feed.executable));
    const ChildSpec spec = feed.appSpec(environment);
    ChildProcess app;
    ASSERT_TRUE(app.start(spec)) << qPrintable(app.errorString());

    // The launch's check finds the update and offers it in its window.
    ASSERT_TRUE(pressReturnInUpdateWindow(environment)) << qPrintable(app.logTail(30));

    // The application quits, lets go of its lock and starts the new executable, which prints its
    // version into the same log.
    ASSERT_EQ(app.waitForExit(QDeadlineTimer(30s)), 0) << qPrintable(app.logTail(30));
    EXPECT_EQ(readFile(feed.executable), feed.newProgram);
    EXPECT_TRUE(waitForLog(spec.logPath, "1.3.0\n", 60s)) << qPrintable(app.logTail(30));
    EXPECT_TRUE(readFile(spec.logPath).contains("installed build \"5\"")) << qPrintable(app.logTail(30));
}

TEST_F(UpdaterE2ETest, ASignalDuringTheDownloadTheUserStartedLeavesNoPartialArchive)
{
    // The archive streams far slower than the test runs.
    feed.server.setAnswer(
        "/zq-5.tar.gz", zq::test::LoopbackFeedServer::Answer::dripping(
                            zq::test::makeTarGz({{"zepaquarn", feed.newProgram, '0', {}}}), "application/gzip", 50ms));
    ASSERT_TRUE(environment.writeSettings()) << qPrintable(environment.errorString());
    ASSERT_TRUE(QFile::copy(QStringLiteral(ZQ_APP_BINARY), feed.executable));
    const ChildSpec spec = feed.appSpec(environment);
    ChildProcess app;
    ASSERT_TRUE(app.start(spec)) << qPrintable(app.errorString());
    ASSERT_TRUE(pressReturnInUpdateWindow(environment)) << qPrintable(app.logTail(30));

    // Quit once the archive's file is made, while its body streams.
    const QString work = environment.stateDir() + QStringLiteral("/updates");
    const auto downloaded = [&] {
        const QStringList folders = QDir(work).entryList({QStringLiteral("update-*")}, QDir::Dirs);
        return !folders.isEmpty() && QFileInfo::exists(work + u'/' + folders.first() + "/download.tar.gz");
    };
    ASSERT_TRUE(zq::test::waitFor(downloaded, zq::test::kLoadedMachineTimeout, 50ms)) << qPrintable(app.logTail(30));
    ::kill(app.pid(), SIGTERM);
    ASSERT_EQ(app.waitForExit(QDeadlineTimer(15s)), 0) << qPrintable(app.logTail(30));
    EXPECT_TRUE(QDir(work).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
        << "the partial archive outlived the quit";
    EXPECT_TRUE(readFile(feed.executable) == readFile(QStringLiteral(ZQ_APP_BINARY))) << "nothing replaced";
}

TEST_F(UpdaterE2ETest, AKillDuringTheInstallAtQuitLeavesNothingBehindAndShowsAsAnUncleanEnd)
{
    // Large enough that copying it beside the executable and flushing it takes a while.
    ASSERT_TRUE(feed.serveLargeUpdate(160 * 1024 * 1024));
    ASSERT_TRUE(environment.writeSettings(
        {{QString::fromLatin1(zq::platform::AppcastUpdateFramework::kAutomaticDownloadsKey), true}}))
        << qPrintable(environment.errorString());
    ASSERT_TRUE(QFile::copy(QStringLiteral(ZQ_APP_BINARY), feed.executable));
    const QByteArray running = readFile(feed.executable);
    ChildSpec spec = feed.appSpec(environment);
    ChildProcess app;
    ASSERT_TRUE(app.start(spec)) << qPrintable(app.errorString());
    ASSERT_TRUE(waitForLog(spec.logPath, "downloaded and verified; installs at quit", 60s))
        << qPrintable(app.logTail(30));

    // Quit, and stop the process the moment the new executable appears beside the running one.
    const QDir folder(feed.folder.path());
    const QStringList partial{QStringLiteral(".zepaquarn.update-*")};
    ::kill(app.pid(), SIGTERM);
    const QDeadlineTimer deadline(30s);
    while (folder.entryList(partial, QDir::Files | QDir::Hidden).isEmpty() && !deadline.hasExpired())
        ;
    ::kill(app.pid(), SIGSTOP);
    ASSERT_EQ(folder.entryList(partial, QDir::Files | QDir::Hidden).size(), 1) << qPrintable(app.logTail(30));
    ::kill(app.pid(), SIGKILL);
    (void)app.waitForExit(QDeadlineTimer(15s));
    ASSERT_TRUE(readFile(feed.executable) == running) << "killed before the rename";
    const QDir work(environment.stateDir() + QStringLiteral("/updates"));
    ASSERT_EQ(work.entryList({QStringLiteral("update-*")}, QDir::Dirs).size(), 1) << "the unpacked update is left";

    // The next start, with nothing new on the feed, removes both and reports the unclean end.
    feed.server.setAnswer("/appcast.xml", {404, {}, "text/plain", false});
    spec.logPath = feed.folder.filePath("next.log");
    ChildProcess next;
    ASSERT_TRUE(next.start(spec)) << qPrintable(next.errorString());
    ASSERT_TRUE(waitForLog(spec.logPath, "leftovers of an update that was cut short", 30s))
        << qPrintable(next.logTail(30));
    EXPECT_TRUE(folder.entryList(partial, QDir::Files | QDir::Hidden).isEmpty());
    EXPECT_TRUE(work.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
    EXPECT_TRUE(readFile(feed.executable) == running);
    EXPECT_EQ(environment.journalCount(zq::DiagnosticEvent::previousRunUnclean), 1)
        << "the run that was killed while installing did not end cleanly";
    ::kill(next.pid(), SIGTERM);
    EXPECT_EQ(next.waitForExit(QDeadlineTimer(15s)), 0) << qPrintable(next.logTail(30));
}

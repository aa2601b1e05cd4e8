// The real application, started from a copy of its executable with the test-only feed settings,
// downloads a signed update in the background and installs it as it quits.

#include "platform/linux/AppcastUpdateFramework.h"
#include "support/ChildProcess.h"
#include "support/E2EEnvironment.h"
#include "support/LoopbackFeedServer.h"
#include "support/ServiceEnvironment.h"
#include "support/UpdateFeedKit.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

using namespace std::chrono_literals;
using zq::test::ChildProcess;
using zq::test::ChildSpec;

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool waitForLog(const QString &path, const QByteArray &text, std::chrono::milliseconds timeout)
{
    const QDeadlineTimer deadline(timeout);
    while (!readFile(path).contains(text)) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
    return true;
}

} // namespace

TEST(UpdaterE2ETest, AnAutomaticDownloadIsInstalledWhenTheApplicationQuits)
{
    zq::test::E2EEnvironment environment;
    const bool started = environment.start();
    ZQ_REQUIRE_SERVICE(started, environment.errorString());
    zq::test::LoopbackFeedServer server;
    const bool serving = server.start();
    ZQ_REQUIRE_SERVICE(serving, server.errorString());

    const zq::test::Ed25519TestKey key;
    const QByteArray newProgram = readFile(QStringLiteral(ZQ_VERSION_PRINTER_NEW));
    const QByteArray archive = zq::test::makeTarGz({{"zepaquarn", newProgram, '0', {}}});
    server.setAnswer("/zq-5.tar.gz", {200, archive, "application/gzip", false});
    server.setAnswer("/appcast.xml",
                     {200,
                      zq::test::makeAppcast({{"5", "1.3.0", server.url("/zq-5.tar.gz"), archive.size(),
                                              key.signBase64(archive), {}, {}}}),
                      "application/rss+xml", false});
    ASSERT_TRUE(environment.writeSettings(
        {{QString::fromLatin1(zq::platform::AppcastUpdateFramework::kAutomaticDownloadsKey), true}}))
        << qPrintable(environment.errorString());

    QTemporaryDir folder;
    const QString executable = folder.filePath("zepaquarn");
    ASSERT_TRUE(QFile::copy(QStringLiteral(ZQ_APP_BINARY), executable));
    ChildSpec spec;
    spec.program = executable;
    spec.environment = environment.appEnvironment();
    spec.environment.insert("ZQ_UPDATE_FEED_URL_FOR_TESTS", server.url("/appcast.xml"));
    spec.environment.insert("ZQ_UPDATE_PUBLIC_KEY_FOR_TESTS", QString::fromLatin1(key.publicKeyBase64()));
    spec.environment.insert("ZQ_UPDATE_CERTIFICATE_FOR_TESTS", server.certificateFile());
    spec.logPath = folder.filePath("app.log");
    ChildProcess app;
    ASSERT_TRUE(app.start(spec)) << qPrintable(app.errorString());

    ASSERT_TRUE(waitForLog(spec.logPath, "downloaded and verified; installs at quit", 30s)) << qPrintable(app.logTail(30));
    EXPECT_EQ(server.requestCount("/zq-5.tar.gz"), 1);
    EXPECT_NE(readFile(executable), newProgram) << "nothing replaced while it runs";

    ::kill(app.pid(), SIGTERM);
    ASSERT_EQ(app.waitForExit(QDeadlineTimer(15s)), 0) << qPrintable(app.logTail(30));
    EXPECT_TRUE(readFile(spec.logPath).contains("installed build \"5\" at quit")) << qPrintable(app.logTail(30));

    const auto ran = zq::test::runTool(executable, {});
    ASSERT_TRUE(ran.succeeded()) << qPrintable(ran.describe());
    EXPECT_EQ(ran.standardOutput, "1.3.0\n") << "the executable in place is the new build";
}

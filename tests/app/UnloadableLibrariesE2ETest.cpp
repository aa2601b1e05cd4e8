// The real application where the libraries it opens on first use cannot be opened: it still comes
// up, says in its log which library failed and why, and quits cleanly, instead of crashing on the
// first call into a library that is not there.
#include "support/E2EEnvironment.h"
#include "support/ServiceEnvironment.h"

#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using zq::test::E2EEnvironment;

TEST(UnloadableLibrariesE2ETest, TheApplicationRunsOnAndNamesEachLibraryItCouldNotOpen)
{
    // A file under a library's name that is no library: the loader stops its search there and fails.
    QTemporaryDir broken;
    ASSERT_TRUE(broken.isValid());
    const char *sonames[] = {"libpulse.so.0", "libsndfile.so.1",      "libsoxr.so.0",
                             "libXi.so.6",    "libpocketsphinx.so.3", "libXtst.so.6"};
    for (const char *soname : sonames) {
        QFile file(broken.filePath(QString::fromLatin1(soname)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("not a library");
    }

    E2EEnvironment env;
    const bool started = env.start();
    if (!zq::test::requireService(started, env.errorString()))
        return;
    ASSERT_TRUE(env.writeSettings()) << env.errorString().toStdString();
    QProcessEnvironment variables;
    variables.insert(QStringLiteral("LD_LIBRARY_PATH"), broken.path());
    env.addAppVariables(variables);
    ASSERT_TRUE(env.startApp(30s, QByteArrayLiteral("app: launched"))) << env.errorString().toStdString();

    // The sound server's client is opened when the services connect at launch, the speech library
    // when the model starts loading.
    for (const char *soname : {"libpulse.so.0", "libpocketsphinx.so.3"}) {
        const QByteArray line =
            QByteArrayLiteral("The library “") + soname + QByteArrayLiteral("” could not be loaded");
        EXPECT_TRUE(env.waitForAppLog(line, 15s)) << soname << "\n" << env.appLogTail().toStdString();
    }
    QThread::msleep(500);
    EXPECT_TRUE(env.isAppRunning()) << env.appLogTail().toStdString();
    EXPECT_TRUE(env.stopApp()) << "no clean quit:\n" << env.appLogTail().toStdString();
}

// A dictation through the real application on private services writes only private files: the
// take while it records, and the stores it leaves behind.
#include "support/E2EEnvironment.h"
#include "support/Polling.h"
#include "support/ServiceEnvironment.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QThread>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace std::chrono_literals;
using zq::DiagnosticEvent;
using zq::test::E2EEnvironment;
using zq::test::modeOf;

TEST(PrivateFilesE2ETest, ATakeAndTheStoresItLeavesAreReadableByTheUserAlone)
{
    E2EEnvironment env;
    const bool started = env.start();
    if (!zq::test::requireService(started, env.errorString()))
        return;
    ASSERT_FALSE(E2EEnvironment::speechSamples().empty());
    ASSERT_TRUE(env.writeSettings()) << env.errorString().toStdString();
    ASSERT_TRUE(env.startApp()) << env.errorString().toStdString();
    ASSERT_TRUE(env.target().activate());

    ASSERT_TRUE(env.pressTrigger());
    ASSERT_TRUE(env.waitForJournal(DiagnosticEvent::audioStartCompleted, 1, zq::test::kLoadedMachineTimeout))
        << env.appLogTail().toStdString();
    env.feeder()->speak(E2EEnvironment::speechSamples());
    ASSERT_TRUE(env.feeder()->waitUntilSpoken(zq::test::kLoadedMachineTimeout));
    const QString takes =
        env.appEnvironment().value(QStringLiteral("XDG_RUNTIME_DIR")) + QStringLiteral("/ZEPAquarn-takes");
    const QStringList recording = QDir(takes).entryList({QStringLiteral("zepaquarn-*.wav")}, QDir::Files);
    ASSERT_EQ(recording.size(), 1) << "the take is on disk while it records";
    EXPECT_EQ(modeOf(takes + QLatin1Char('/') + recording.first()), 0600u);
    ASSERT_TRUE(env.releaseTrigger());

    const QDeadlineTimer deadline(30s);
    while (env.history().isEmpty() && !deadline.hasExpired())
        QThread::msleep(50);
    ASSERT_FALSE(env.history().isEmpty()) << env.appLogTail().toStdString();
    // The statistics follow once the front window has fetched the text.
    ASSERT_TRUE(env.waitForJournal(DiagnosticEvent::pasteSucceeded, 1, zq::test::kLoadedMachineTimeout))
        << env.appLogTail().toStdString();
    ASSERT_TRUE(env.stopApp());

    int files = 0;
    for (const QString &top : {env.dataDir(), env.stateDir(), env.configDir(), takes}) {
        EXPECT_EQ(modeOf(top), 0700u) << top.toStdString();
        QDirIterator it(top, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            EXPECT_EQ(modeOf(path), it.fileInfo().isDir() ? 0700u : 0600u) << path.toStdString();
            files += it.fileInfo().isFile() ? 1 : 0;
        }
    }
    EXPECT_TRUE(QFile::exists(env.dataDir() + QStringLiteral("/history.json")));
    EXPECT_TRUE(QFile::exists(env.dataDir() + QStringLiteral("/stats.json")));
    EXPECT_GE(files, 7);
}

// A process killed with SIGKILL in the middle of saving its history, again and again: every save
// it acknowledged survives, the file is never half written, and the next start leaves no
// temporary of an interrupted save behind. The writer is this test binary started again with
// ZQ_STORE_KILL_FOLDER set (see runWriter).
#include "records/HistoryStore.h"
#include "runtime/Clocks.h"
#include "runtime/FileOps.h"
#include "runtime/StartupCleanup.h"
#include "support/ChildProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

using namespace zq;

namespace {

constexpr const char *storeFolderVariable = "ZQ_STORE_KILL_FOLDER";

// Adds items as fast as it can, each save a rewrite of a file of about 2 MB, and acknowledges
// each save on stdout once it returned.
int runWriter(const QString &folder)
{
    static int argc = 1;
    static char name[] = "store-writer";
    static char *argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    rt::SystemClocks clocks;
    HistoryStore store(folder, clocks);
    const QString filler(4000, QLatin1Char('w'));
    for (int next = store.items().isEmpty() ? 1
                                            : store.items().first().text.section(QLatin1Char(' '), 0, 0).toInt() + 1;
         ; ++next) {
        store.add(QString::number(next) + QLatin1Char(' ') + filler);
        std::printf("saved %d\n", next);
        std::fflush(stdout);
    }
}

const bool s_actedAsWriter = [] {
    const QString folder = qEnvironmentVariable(storeFolderVariable);
    if (folder.isEmpty())
        return false;
    std::_Exit(runWriter(folder));
}();

int numberOf(const HistoryItem &item)
{
    return item.text.section(QLatin1Char(' '), 0, 0).toInt();
}

QStringList temporariesIn(const QString &folder)
{
    QStringList found;
    for (const QString &name : QDir(folder).entryList(QDir::Files | QDir::Hidden)) {
        if (rt::isAtomicWriteTemporary(name))
            found << name;
    }
    return found;
}

} // namespace

TEST(StoreKillIntegrationTest, KilledMidSaveLosesNoAcknowledgedItemAndTheNextStartLeavesNoTemporary)
{
    QTemporaryDir root;
    const rt::Paths paths(root.filePath(QStringLiteral("data/ZEPAquarn")), root.filePath(QStringLiteral("state")),
                          root.filePath(QStringLiteral("config")), root.filePath(QStringLiteral("takes")));
    ASSERT_TRUE(paths.ensureExists());

    int acknowledged = 0;
    int leftBehind = 0;
    for (int cycle = 0; cycle < 40; ++cycle) {
        test::ChildSpec spec;
        spec.program = QCoreApplication::applicationFilePath();
        spec.environment.insert(QLatin1String(storeFolderVariable), paths.dataDir());
        spec.standardOutput = test::ChildStream::Pipe;
        test::ChildProcess writer;
        ASSERT_TRUE(writer.start(spec)) << writer.errorString().toStdString();
        // A few saves in, so the kill lands in the middle of the next one most of the time.
        const int target = acknowledged + 2 + cycle % 3;
        const QDeadlineTimer deadline(std::chrono::seconds(30));
        while (acknowledged < target) {
            const auto line = writer.readLine(test::ChildProcess::Channel::StandardOutput, deadline);
            ASSERT_TRUE(line.has_value()) << "the writer stopped acknowledging in cycle " << cycle;
            acknowledged = line->mid(6).toInt();
        }
        // Every other cycle the kill waits until a save has its temporary on disk, so the next
        // start surely has one to remove; the others land wherever the writer is.
        if (cycle % 2 == 1) {
            while (temporariesIn(paths.dataDir()).isEmpty() && !deadline.hasExpired()) {
            }
        }
        ::kill(writer.pid(), SIGKILL);
        EXPECT_FALSE(writer.waitForExit(QDeadlineTimer(std::chrono::seconds(10))).has_value());

        leftBehind += temporariesIn(paths.dataDir()).size();
        // The next start: the sweep runs before the store is opened.
        rt::StartupCleanup cleanup(paths);
        cleanup.run();
        EXPECT_TRUE(temporariesIn(paths.dataDir()).isEmpty()) << "cycle " << cycle;

        const rt::SystemClocks clocks;
        HistoryStore store(paths.dataDir(), clocks);
        ASSERT_FALSE(store.items().isEmpty()) << "cycle " << cycle;
        EXPECT_GE(numberOf(store.items().first()), acknowledged) << "an acknowledged save was lost in cycle " << cycle;
        EXPECT_EQ(store.items().size(),
                  std::min<qsizetype>(numberOf(store.items().first()), HistoryStore::maximumItems));
        EXPECT_TRUE(QDir(paths.dataDir()).entryList({QStringLiteral("history.json.corrupt-*")}).isEmpty())
            << "a save cut short never leaves a damaged file in cycle " << cycle;
    }
    std::printf("temporaries left by killed saves: %d in 40 cycles\n", leftBehind);
    EXPECT_GT(leftBehind, 0) << "the sweep must have had temporaries to remove";
}

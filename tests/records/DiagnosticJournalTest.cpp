#include "records/DiagnosticJournal.h"
#include "records/Diagnostics.h"
#include "runtime/FileOps.h"

#include "support/TestFiles.h"
#include "support/VirtualLoop.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <thread>

using namespace zq;
using zq::test::readFile;
using zq::test::writeFile;

namespace {

std::vector<DiagnosticRecord> linesOf(const QString &path)
{
    std::vector<DiagnosticRecord> records;
    const QList<QByteArray> lines = readFile(path).split('\n');
    for (const QByteArray &line : lines) {
        if (line.isEmpty())
            continue;
        auto record = DiagnosticRecord::fromJson(line);
        EXPECT_TRUE(record.has_value()) << "unparseable line: " << line.constData();
        if (record)
            records.push_back(*record);
    }
    return records;
}

class DiagnosticJournalTest : public ::testing::Test {
protected:
    DiagnosticJournal makeJournal(const QString &session = QStringLiteral("SESSION-A"))
    {
        return DiagnosticJournal(dir.path(), loop.clocks(), session, QStringLiteral("1.2.3"), QStringLiteral("45"));
    }
    QString path(const char *name) const { return dir.filePath(QLatin1String(name)); }

    QTemporaryDir dir;
    test::VirtualLoop loop;
};

TEST_F(DiagnosticJournalTest, LineHasSortedKeysMillisecondUtcTimeAndUnescapedSlashes)
{
    DiagnosticJournal journal = makeJournal();
    journal.beginSession();
    loop.advance(std::chrono::milliseconds(1234));
    journal.recordIfActive(DiagnosticEvent::audioStartFailed, {{QStringLiteral("zeta"), QStringLiteral("a/b")},
                                                               {QStringLiteral("alpha"), QStringLiteral("1")}});

    const QList<QByteArray> lines = readFile(journal.currentLogPath()).split('\n');
    ASSERT_EQ(lines.size(), 3) << "two lines, each ended by a line feed";
    EXPECT_EQ(lines[0], QByteArray(R"({"appVersion":"1.2.3","build":"45","event":"app_launched","metadata":{},)"
                                   R"("sessionID":"SESSION-A","timestamp":"2026-03-02T09:00:00.000Z"})"));
    EXPECT_EQ(lines[1], QByteArray(R"({"appVersion":"1.2.3","build":"45","event":"audio_start_failed",)"
                                   R"("metadata":{"alpha":"1","zeta":"a/b"},"sessionID":"SESSION-A",)"
                                   R"("timestamp":"2026-03-02T09:00:01.234Z"})"));
    EXPECT_TRUE(lines[2].isEmpty());

    EXPECT_EQ(readFile(journal.runStatePath()),
              QByteArray(R"({"active":true,"appVersion":"1.2.3","build":"45","lastEvent":"audio_start_failed",)"
                         R"("sessionID":"SESSION-A","updatedAt":"2026-03-02T09:00:01.234Z"})"));
}

TEST_F(DiagnosticJournalTest, RecordsBeforeTheSessionTouchNothing)
{
    DiagnosticJournal journal = makeJournal();
    journal.recordIfActive(DiagnosticEvent::dictationRequested, {});
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden).isEmpty());
    EXPECT_FALSE(journal.state().has_value());
}

TEST_F(DiagnosticJournalTest, SessionsAcrossLaunches)
{
    {
        DiagnosticJournal first = makeJournal(QStringLiteral("FIRST"));
        first.beginSession();
        first.endSession();
        EXPECT_FALSE(first.state()->active);
        // A late record after the end is still written, and the run state stays inactive.
        first.recordIfActive(DiagnosticEvent::pasteSucceeded, {});
        const auto state = DiagnosticRunState::fromJson(readFile(first.runStatePath()));
        ASSERT_TRUE(state);
        EXPECT_FALSE(state->active);
        EXPECT_EQ(state->lastEvent, DiagnosticEvent::pasteSucceeded);
    }
    {
        // After a normal end: no unclean-run line. The launch writes without waiting for the disk,
        // as the application's does: a process that dies is still found by the next.
        DiagnosticJournal second = makeJournal(QStringLiteral("SECOND"));
        second.beginSession(DiagnosticJournal::Durability::visible);
        loop.advance(std::chrono::seconds(5));
        second.recordIfActive(DiagnosticEvent::captureCompleted, {});
        // ... and this process "dies" here, without ending its session.
    }
    DiagnosticJournal third = makeJournal(QStringLiteral("THIRD"));
    third.beginSession();

    const auto records = linesOf(third.currentLogPath());
    std::vector<std::pair<QString, DiagnosticEvent>> seen;
    for (const auto &r : records)
        seen.emplace_back(r.sessionID, r.event);
    const std::vector<std::pair<QString, DiagnosticEvent>> expected = {
        {QStringLiteral("FIRST"), DiagnosticEvent::appLaunched},
        {QStringLiteral("FIRST"), DiagnosticEvent::appTerminated},
        {QStringLiteral("FIRST"), DiagnosticEvent::pasteSucceeded},
        {QStringLiteral("SECOND"), DiagnosticEvent::appLaunched},
        {QStringLiteral("SECOND"), DiagnosticEvent::captureCompleted},
        {QStringLiteral("THIRD"), DiagnosticEvent::previousRunUnclean},
        {QStringLiteral("THIRD"), DiagnosticEvent::appLaunched},
    };
    EXPECT_EQ(seen, expected);
    const DiagnosticMetadata unclean = records[5].metadata;
    EXPECT_EQ(unclean.value(QStringLiteral("previous_session")), QStringLiteral("SECOND"));
    EXPECT_EQ(unclean.value(QStringLiteral("previous_version")), QStringLiteral("1.2.3"));
    EXPECT_EQ(unclean.value(QStringLiteral("previous_build")), QStringLiteral("45"));
    EXPECT_EQ(unclean.value(QStringLiteral("last_event")), QStringLiteral("capture_completed"));
    EXPECT_EQ(unclean.value(QStringLiteral("last_event_at")), QStringLiteral("2026-03-02T09:00:05.000Z"));
    EXPECT_EQ(third.state()->lastEvent, DiagnosticEvent::appLaunched);
    EXPECT_TRUE(third.state()->active);
}

TEST_F(DiagnosticJournalTest, ALaunchThatSkipsTheDiskWaitNeverWritesThroughALinkAndLeavesNoTemporary)
{
    for (const auto durability : {DiagnosticJournal::Durability::visible, DiagnosticJournal::Durability::synced}) {
        QTemporaryDir folder;
        const QString outside = folder.filePath(QStringLiteral("outside.json"));
        writeFile(outside, "{}");
        DiagnosticJournal journal(folder.filePath(QStringLiteral("logs")), loop.clocks(), QStringLiteral("S"),
                                  QStringLiteral("1"), QStringLiteral("2"));
        QDir().mkpath(journal.directory());
        ASSERT_TRUE(QFile::link(outside, journal.runStatePath()));

        journal.beginSession(durability);
        journal.syncToDisk();

        EXPECT_EQ(readFile(outside), QByteArray("{}")) << "the link's target is never written";
        const QFileInfo state(journal.runStatePath());
        EXPECT_FALSE(state.isSymLink());
        const auto written = DiagnosticRunState::fromJson(readFile(journal.runStatePath()));
        ASSERT_TRUE(written);
        EXPECT_TRUE(written->active);
        EXPECT_EQ(written->lastEvent, DiagnosticEvent::appLaunched);
        EXPECT_EQ(QFile::permissions(journal.runStatePath()) & (QFile::ReadGroup | QFile::ReadOther), 0);
        for (const QString &name : QDir(journal.directory()).entryList(QDir::Files | QDir::Hidden | QDir::System))
            EXPECT_FALSE(rt::isAtomicWriteTemporary(name)) << name.toStdString();
    }
}

TEST_F(DiagnosticJournalTest, UnreadableRunStateMeansNoPreviousRun)
{
    const QByteArray cases[] = {
        R"({"active":true,"appVersion":"1","build":"1","sessionID":"X","updatedAt":"t"})",
        R"({"active":true,"appVersion":"1","build":"1","lastEvent":"no_such_event","sessionID":"X","updatedAt":"t"})",
        R"({"active":"yes","appVersion":"1","build":"1","lastEvent":"app_launched","sessionID":"X","updatedAt":"t"})",
        "not json",
    };
    for (const QByteArray &content : cases) {
        QTemporaryDir folder;
        writeFile(folder.filePath(QStringLiteral("run-state.json")), content);
        DiagnosticJournal journal(folder.path(), loop.clocks(), QStringLiteral("S"), QStringLiteral("1"),
                                  QStringLiteral("1"));
        journal.beginSession();
        const auto records = linesOf(journal.currentLogPath());
        ASSERT_EQ(records.size(), 1u) << content.constData();
        EXPECT_EQ(records[0].event, DiagnosticEvent::appLaunched);
        EXPECT_TRUE(DiagnosticRunState::fromJson(readFile(journal.runStatePath())).has_value())
            << "replaced at the first line";
        const QStringList aside = QDir(folder.path()).entryList({QStringLiteral("run-state.json.corrupt-*")});
        ASSERT_EQ(aside.size(), 1) << "the damaged file is kept before it is rewritten: " << content.constData();
        EXPECT_EQ(readFile(folder.filePath(aside.first())), content);
    }
}

TEST_F(DiagnosticJournalTest, ReadmeIsWrittenOnceAndNeverRewritten)
{
    DiagnosticJournal journal = makeJournal();
    journal.beginSession();
    const QString readme = path("README.txt");
    EXPECT_EQ(readFile(readme), DiagnosticJournal::readmeText());
    EXPECT_FALSE(readFile(readme).endsWith('\n'));
    EXPECT_FALSE(readFile(readme).contains("mac")) << "Linux wording";

    writeFile(readme, "edited by the user");
    makeJournal().beginSession();
    EXPECT_EQ(readFile(readme), QByteArray("edited by the user"));

    QFile::remove(readme);
    makeJournal().beginSession();
    EXPECT_EQ(readFile(readme), DiagnosticJournal::readmeText());
}

TEST_F(DiagnosticJournalTest, RotatesOnlyBeyondTheSizeBound)
{
    // Half a mebibyte, stated here rather than read from the code, so a changed bound shows.
    constexpr qint64 bound = 524288;
    DiagnosticJournal journal = makeJournal();
    journal.beginSession();
    // Every line of the same event and metadata has the same length (fixed-width timestamps).
    const qint64 lineLength = QFileInfo(journal.currentLogPath()).size();
    const QString live = journal.currentLogPath();

    writeFile(live, QByteArray(bound - lineLength, 'x'));
    journal.recordIfActive(DiagnosticEvent::appLaunched, {});
    EXPECT_EQ(QFileInfo(live).size(), bound) << "exactly at the bound: no rotation";
    EXPECT_FALSE(QFileInfo::exists(journal.rotatedLogPath(1)));

    writeFile(live, QByteArray(bound - lineLength + 1, 'x'));
    journal.recordIfActive(DiagnosticEvent::appLaunched, {});
    EXPECT_EQ(QFileInfo(live).size(), lineLength) << "the new live file holds only the new line";
    EXPECT_EQ(QFileInfo(journal.rotatedLogPath(1)).size(), bound - lineLength + 1);
    EXPECT_FALSE(QFileInfo::exists(journal.rotatedLogPath(2)));
    EXPECT_FALSE(QFileInfo::exists(journal.rotatedLogPath(3)));
}

TEST_F(DiagnosticJournalTest, RotationShiftsTheChainAndKeepsThree)
{
    DiagnosticJournal journal = makeJournal();
    journal.beginSession();
    const auto fill = [&](const QString &file, char c) {
        writeFile(file, QByteArray(DiagnosticJournal::maxLogBytes, c));
    };

    // A gap at .2: the old .3 stays, .1 moves to .2, the live file to .1.
    fill(journal.currentLogPath(), 'L');
    fill(journal.rotatedLogPath(1), '1');
    fill(journal.rotatedLogPath(3), '3');
    journal.recordIfActive(DiagnosticEvent::appLaunched, {});
    EXPECT_EQ(readFile(journal.rotatedLogPath(1)).at(0), 'L');
    EXPECT_EQ(readFile(journal.rotatedLogPath(2)).at(0), '1');
    EXPECT_EQ(readFile(journal.rotatedLogPath(3)).at(0), '3');

    // A full chain: the oldest goes.
    fill(journal.currentLogPath(), 'M');
    journal.recordIfActive(DiagnosticEvent::appLaunched, {});
    EXPECT_EQ(readFile(journal.rotatedLogPath(1)).at(0), 'M');
    EXPECT_EQ(readFile(journal.rotatedLogPath(2)).at(0), 'L');
    EXPECT_EQ(readFile(journal.rotatedLogPath(3)).at(0), '1');
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("diagnostics.4.jsonl"))));
    EXPECT_EQ(linesOf(journal.currentLogPath()).size(), 1u);
}

TEST_F(DiagnosticJournalTest, LostFolderLosesLinesButNeverFails)
{
    DiagnosticJournal journal = makeJournal();
    journal.beginSession();
    ASSERT_TRUE(QDir(dir.path()).removeRecursively());
    journal.recordIfActive(DiagnosticEvent::dictationRequested, {});
    EXPECT_FALSE(QFileInfo::exists(journal.currentLogPath()));
    EXPECT_EQ(journal.state()->lastEvent, DiagnosticEvent::dictationRequested) << "the run state moves on";
}

TEST(DiagnosticsRecordTest, FourThreadsKeepTheirOrderInOneParseableJournal)
{
    QTemporaryDir dir;
    test::VirtualLoop loop;
    Diagnostics::Options options;
    options.logDirectory = dir.path();
    options.appVersion = QStringLiteral("1");
    options.build = QStringLiteral("1");
    options.watchdogQueue = &loop;
    options.mainLoop = &loop;
    Diagnostics diagnostics(options);
    diagnostics.start();

    constexpr int perThread = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&diagnostics, t] {
            for (int i = 0; i < perThread; ++i)
                diagnostics.record(
                    DiagnosticEvent::audioConfigurationChanged,
                    {{QStringLiteral("thread"), QString::number(t)}, {QStringLiteral("sequence"), QString::number(i)}});
        });
    }
    for (auto &thread : threads)
        thread.join();
    diagnostics.waitUntilWritten();

    int next[4] = {0, 0, 0, 0};
    int count = 0;
    for (const DiagnosticRecord &record : linesOf(diagnostics.journal().currentLogPath())) {
        if (record.event != DiagnosticEvent::audioConfigurationChanged)
            continue;
        ++count;
        const int t = record.metadata.value(QStringLiteral("thread")).toInt();
        ASSERT_GE(t, 0);
        ASSERT_LT(t, 4);
        EXPECT_EQ(record.metadata.value(QStringLiteral("sequence")).toInt(), next[t]) << "thread " << t;
        next[t] = record.metadata.value(QStringLiteral("sequence")).toInt() + 1;
    }
    EXPECT_EQ(count, 4 * perThread);
}

} // namespace

TEST(DiagnosticJournalFileTest, LinesGoToAPrivateFileOfItsOwnNeverThroughALink)
{
    QTemporaryDir dir;
    QTemporaryDir elsewhere;
    test::VirtualLoop loop;
    DiagnosticJournal journal(dir.path(), loop.clocks(), QStringLiteral("SESSION-A"), QStringLiteral("1.2.3"),
                              QStringLiteral("45"));
    // The log a user or another program pointed at one of their own files.
    const QString theirs = elsewhere.filePath(QStringLiteral("notes.txt"));
    writeFile(theirs, "theirs\n");
    ASSERT_TRUE(QFile::link(theirs, journal.currentLogPath()));
    journal.beginSession();
    journal.recordIfActive(DiagnosticEvent::appLaunched, {});
    EXPECT_EQ(readFile(theirs), "theirs\n") << "nothing is appended through a link";

    // A log left readable by others (an older version, a copy) is private again at the next line.
    QTemporaryDir other;
    DiagnosticJournal second(other.path(), loop.clocks(), QStringLiteral("SESSION-B"), QStringLiteral("1.2.3"),
                             QStringLiteral("45"));
    writeFile(second.currentLogPath(), "");
    ::chmod(QFile::encodeName(second.currentLogPath()).constData(), 0644);
    second.beginSession();
    EXPECT_FALSE(readFile(second.currentLogPath()).isEmpty());
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(second.currentLogPath()).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
}

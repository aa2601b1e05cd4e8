// Every file the application reads back at start (the stores, the settings, the run state) when
// something it never writes stands in its place: a FIFO, a link to a device or to another file, a
// file far larger than any it writes. Each must start empty at once, within a memory limit, and
// keep the odd entry aside without following or emptying what a link points to, and say once where a
// store's file is kept, for the user to be told.
#include "records/DiagnosticJournal.h"
#include "records/HistoryStore.h"
#include "records/IncidentStore.h"
#include "records/StatsStore.h"
#include "runtime/FileOps.h"
#include "runtime/Settings.h"
#include "support/LimitedChild.h"
#include "support/TestFiles.h"
#include "support/VirtualLoop.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace zq;
using zq::test::runLimited;

namespace {

enum class Stand { fifo, linkToDevice, linkToFile, oversized };

const char *nameOf(Stand stand)
{
    switch (stand) {
    case Stand::fifo:
        return "a FIFO";
    case Stand::linkToDevice:
        return "a link to /dev/zero";
    case Stand::linkToFile:
        return "a link to a readable file";
    case Stand::oversized:
        return "a file larger than the store can write";
    }
    return "";
}

mode_t kindOf(const QString &path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? (info.st_mode & S_IFMT) : 0;
}

// What reading a file at start gave: how many entries it loaded, and what it set aside whole.
struct Opened {
    int entries = 0;
    std::optional<rt::KeptAsideFile> keptAside;
};

struct OwnFile {
    const char *name;
    // What the user is told was kept aside; none for a file of the application's own.
    const char *told;
    QString relativePath;
    qint64 mostBytes;
    // Opens what reads the file at start.
    std::function<Opened(const QString &folder)> open;
};

} // namespace

TEST(StoreFileTest, WhatTheApplicationNeverWritesIsKeptAsideUnreadAndStartsEmpty)
{
    test::VirtualLoop loop;
    const std::vector<OwnFile> files = {
        {"statistics", "statistics", QStringLiteral("stats.json"), StatsStore::maximumFileBytes,
         [](const QString &folder) {
             const StatsStore store(folder);
             return Opened{int(store.days().size()), store.keptAside()};
         }},
        {"history", "history", QStringLiteral("history.json"), HistoryStore::maximumFileBytes,
         [&loop](const QString &folder) {
             const HistoryStore store(folder, loop.clocks());
             return Opened{int(store.items().size()), store.keptAside()};
         }},
        {"incidents", "incident", QStringLiteral("incidents.json"), IncidentStore::maximumFileBytes,
         [](const QString &folder) {
             const IncidentStore store(folder);
             return Opened{int(store.items().size()), store.keptAside()};
         }},
        {"settings", "settings", QStringLiteral("settings.json"), rt::Settings::maximumFileBytes,
         [](const QString &folder) {
             const rt::Settings settings(folder + QStringLiteral("/settings.json"));
             return Opened{settings.hasUserValue(QStringLiteral("backend")) ? 1 : 0, settings.keptAside()};
         }},
        {"run state", nullptr, QStringLiteral("run-state.json"), DiagnosticJournal::maximumRunStateBytes,
         [&loop](const QString &folder) {
             DiagnosticJournal journal(folder, loop.clocks(), QStringLiteral("S"), QStringLiteral("1"),
                                       QStringLiteral("2"));
             journal.beginSession();
             return Opened{};
         }},
    };
    const QByteArray elsewhereContents = R"({"format":1,"values":{"backend":"openai"}})";

    for (const OwnFile &file : files) {
        for (const Stand stand : {Stand::fifo, Stand::linkToDevice, Stand::linkToFile, Stand::oversized}) {
            SCOPED_TRACE(std::string(file.name) + " as " + nameOf(stand));
            QTemporaryDir folder;
            QTemporaryDir elsewhere;
            const QString path = folder.filePath(file.relativePath);
            const QString target = elsewhere.filePath(QStringLiteral("theirs.json"));
            test::writeFile(target, elsewhereContents);
            switch (stand) {
            case Stand::fifo:
                ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
                break;
            case Stand::linkToDevice:
                ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), path));
                break;
            case Stand::linkToFile:
                ASSERT_TRUE(QFile::link(target, path));
                break;
            case Stand::oversized: {
                // Sparse: as large as it claims, without the disk space.
                QFile big(path);
                ASSERT_TRUE(big.open(QIODevice::WriteOnly));
                ASSERT_TRUE(big.resize(file.mostBytes + 1));
                break;
            }
            }
            const mode_t kind = kindOf(path);

            // Exit 1: entries were loaded; 2: not told exactly once; 3: told of another file; 4: for
            // another reason.
            const test::LimitedRun run = runLimited([&] {
                std::vector<rt::KeptAsideFile> told;
                for (int start = 0; start < 2; ++start) { // this start and the next
                    const Opened opened = file.open(folder.path());
                    if (opened.entries != 0)
                        return 1;
                    if (opened.keptAside)
                        told.push_back(*opened.keptAside);
                }
                if (told.size() != (file.told ? 1u : 0u))
                    return 2;
                if (told.empty())
                    return 0;
                const QStringList aside = QDir(folder.path())
                                              .entryList({file.relativePath + QStringLiteral(".corrupt-*")},
                                                         QDir::AllEntries | QDir::System | QDir::Hidden);
                if (told[0].what != QLatin1String(file.told) || aside.size() != 1 ||
                    told[0].keptPath != folder.filePath(aside.first()))
                    return 3;
                return (told[0].reason == rt::KeptAsideFile::Reason::tooLarge) == (stand == Stand::oversized) ? 0 : 4;
            });
            EXPECT_TRUE(run.exitedWith(0))
                << "starts empty at once, within bounded memory, and says so once: " << run.describe();

            // Kept aside as it stands, and nothing read or changed through a link. (The journal
            // writes a fresh run state at once.)
            const mode_t now = kindOf(path);
            EXPECT_TRUE(now == 0 || (now == S_IFREG && QFileInfo(path).size() < 4096))
                << "the odd entry no longer stands in the file's place";
            const QStringList aside = QDir(folder.path())
                                          .entryList({file.relativePath + QStringLiteral(".corrupt-*")},
                                                     QDir::AllEntries | QDir::System | QDir::Hidden);
            ASSERT_EQ(aside.size(), 1);
            EXPECT_EQ(kindOf(folder.filePath(aside.first())), kind);
            EXPECT_EQ(test::readFile(target), elsewhereContents);
        }
    }
}

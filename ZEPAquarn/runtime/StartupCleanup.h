#pragma once

#include "runtime/Paths.h"

#include <QString>
#include <QStringList>
#include <QUuid>

#include <optional>

namespace zq::rt {

// Removes what earlier runs left behind when they were killed or quit mid-take, before anything
// else of this run writes: the temporaries of atomic writes that were cut short, in every folder
// the application writes, and previous runs' upload copies and take files without audio in the
// take folder. A previous run's take with audio (the run was killed while it recorded or waited for
// its text) stays, listed by leftoverTakes() for the caller to keep, with its header's sizes made
// those of the audio it holds and its time that of the recording. One that cannot be written stays
// as it is; one that cannot be read stays where it is, unlisted.
// Only names the application makes itself, only regular files, only in real folders of this user;
// a folder that fails that check is left untouched and logged. It also takes group and other
// permissions off the files in those folders: a file someone made readable by all (a settings file
// left 0666) is private from the start, not only from its next write.
//
// The take folder lives in the runtime folder. The single-instance lock keeps a second instance out
// of it; as a second guard every instance holds a shared lock on the take folder for as long as
// this object lives, and take files are swept only by an instance that finds no other holder: a
// live take is never removed.
// Call run() only while holding the single-instance lock.
class StartupCleanup {
public:
    explicit StartupCleanup(Paths paths);
    ~StartupCleanup();
    StartupCleanup(const StartupCleanup &) = delete;
    StartupCleanup &operator=(const StartupCleanup &) = delete;

    // Sweeps, makes the files private and takes the shared lock on the take folder. Returns how
    // many files went.
    int run();

    // The take files with audio that earlier runs left, found by run(); the caller moves them away.
    const QStringList &leftoverTakes() const { return m_leftoverTakes; }

    // "zepaquarn-<UUID>.wav" (a take) and "zepaquarn-16k-<UUID>.wav" (its upload copy).
    static bool isTakeFileName(const QString &name);
    // The UUID a take file is named by, which also names its words in History; none for any other file.
    static std::optional<QUuid> takeID(const QString &takeFile);
    // The folders that may hold temporaries of atomic writes.
    QStringList foldersWithTemporaries() const;

private:
    int sweepTakeFolder();

    Paths m_paths;
    int m_takeFolderLock = -1;
    QStringList m_leftoverTakes;
};

} // namespace zq::rt

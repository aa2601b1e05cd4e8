#pragma once

#include "runtime/Result.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <functional>

// File helpers shared by every store that writes to disk. All are blocking and may be called from
// any thread; they never throw. Failures come back as an rt::Error whose message is a sentence and
// whose domain is "posix" with the errno as code.
namespace zq::rt {

// Replaces `path` with `data` so that a reader sees either the old file or the new one, never a
// mix: a temporary file in the same folder is written, flushed to disk and renamed over the target,
// then the folder is flushed. On failure the old file is untouched and the temporary is removed.
// A new file is readable by its owner only (0600). A file it replaces keeps its owner's permissions
// (an executable stays executable) but loses any for group and others; a symlink in its place is
// replaced by a private file, never followed, and its target's mode is not copied.
Result<void> writeFileAtomically(const QString &path, const QByteArray &data);

// Reads one of the application's own files (a store, the settings, a state file) whole. What the
// application never writes there is refused, never read: a link (not followed), anything but a
// regular file (a FIFO or a device is not even opened, so it can neither block nor pour endless
// bytes), and a file larger than `mostBytes`, the most the caller's file can really hold. A missing
// file (also one whose folder is not a folder) comes back as an error with code ENOENT; every
// refusal as a sentence that names the file.
Result<QByteArray> readOwnFile(const QString &path, qint64 mostBytes);

// Takes the group and other permission bits off the regular files of this user directly inside
// `folder` (a file someone made readable by all stays private from now on), and returns how many
// changed. Links are not followed, other kinds of entries are left alone, and the folder must be
// a real folder, as for removeFilesIn().
Result<int> makeFilesPrivateIn(const QString &folder, const QString &root = {});

// Whether `name` is one of the temporaries the two functions above make next to their target
// (".<target>.tmp-XXXXXX"). One left behind means a write was cut short; nothing else reads it.
bool isAtomicWriteTemporary(const QString &name);

// Removes the regular files directly inside `folder` whose names `shouldRemove` accepts, and
// returns how many went. The folder must be a real folder (not a symlink) owned by this user, or
// nothing is touched and the reason comes back; links, folders and other kinds of entries are
// never removed, and nothing below the folder is visited. With a `root` that `folder` lies below,
// no level between the two may be a link either.
Result<int> removeFilesIn(const QString &folder, const std::function<bool(const QString &name)> &shouldRemove,
                          const QString &root = {});

// Writes all of `data` to `fd`, going on after a signal interrupts a write. On false, errno tells why.
bool writeAll(int fd, const char *data, qsizetype size);

// Moves a file like rename(2). Across file systems it copies into a temporary next to the
// destination, flushes it, renames it into place and only then deletes the source, so the
// destination is never a half-written file and the data is never lost on the way.
Result<void> moveFile(const QString &from, const QString &to);

// Keeps a file that could not be decoded next to itself as "<path>.corrupt-<yyyyMMdd-HHmmss>"
// (local time of `when`, or now when `when` is invalid), with "-2", "-3", ... appended rather than
// replacing an earlier copy. Returns the new path. `reason` only goes into the log.
Result<QString> moveAside(const QString &path, const QString &reason, const QDateTime &when = {});

// One of the user's files that nothing could be loaded from, kept aside whole so that the
// application started without it. What read it keeps this, so the user can be told once.
struct KeptAsideFile {
    enum class Reason { tooLarge, unreadable };
    // What it held: "settings", "history", "statistics" or "incident".
    QString what;
    // Where the original is kept now.
    QString keptPath;
    Reason reason = Reason::unreadable;

    friend bool operator==(const KeptAsideFile &, const KeptAsideFile &) = default;
};

} // namespace zq::rt

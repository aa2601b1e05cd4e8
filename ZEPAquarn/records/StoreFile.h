#pragma once

#include "runtime/FileOps.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QUuid>

#include <optional>

namespace zq {

class Diagnostics;

// What the record stores share: their one JSON file, and the platform's JSON forms of dates
// (seconds since 2001-01-01 00:00:00 UTC, with fraction) and UUIDs (upper-case, hyphenated).
class StoreFile {
public:
    enum class Status { missing, read, unreadable };
    struct Contents {
        Status status = Status::missing;
        QByteArray bytes;
        QString problem;       // why an unreadable file could not be read, a sentence
        bool tooLarge = false; // unreadable because it is over the bound
    };

    // The whole file, read as rt::readOwnFile() reads: never through a link, never anything but a
    // regular file, never more than `mostBytes`. Whatever it refuses is unreadable.
    static Contents read(const QString &path, qint64 mostBytes);
    // Keeps a file that cannot be read or decoded next to itself (with a suffix) so that the
    // store's next save cannot destroy it, and logs why. Returns where it is kept, for the user to
    // be told; none when it could not be moved. `store` names the store in the log and the value.
    static std::optional<rt::KeptAsideFile> keepAside(const QString &path, const char *store, const QString &reason,
                                                      bool tooLarge = false);
    // The same for a file read() found unreadable.
    static std::optional<rt::KeptAsideFile> keepAside(const QString &path, const char *store,
                                                      const Contents &unreadable);
    // Some entries of a file could not be decoded and were left out, `kept` others were loaded: keeps
    // the original aside, writes `rewritten` (the loaded entries) in its place so they are there at
    // the next start, and records in `journal` (the application's shared one when null) how many were
    // dropped, never what they held. With none kept, returns where it is kept as keepAside() does.
    static std::optional<rt::KeptAsideFile> keepAsideAfterDropping(const QString &path, const char *store,
                                                                   qsizetype dropped, qsizetype kept,
                                                                   const QByteArray &rewritten,
                                                                   Diagnostics *journal = nullptr);
    // Makes `folder` (and missing parents) a real folder of this user, private to them; false and
    // a log line when it is not, so the store does not write into it.
    static bool ensureFolder(const QString &folder, const char *store);
    // Replaces the file atomically; a failure is logged and otherwise ignored.
    static bool write(const QString &path, const QByteArray &bytes, const char *store);

    static QString uuidString(const QUuid &id);
    static std::optional<QUuid> uuidFromString(const QString &text);
    static double referenceSeconds(const QDateTime &date);
    // Rounded to the millisecond, so a written date reads back as the same instant. None for a
    // number no calendar date matches (beyond about 30 000 years either way).
    static std::optional<QDateTime> dateFromReferenceSeconds(double seconds);
};

} // namespace zq

#pragma once

#include "runtime/SerialQueue.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <map>

namespace zq {

// Writes store files on a thread of its own, one after another in the order they were given, so that
// a save never holds up the main thread: every save syncs its file and folder to disk, which on a busy
// disk takes milliseconds, and right after a paste the main thread must answer the front window's
// request for the clipboard's text. The stores hand over a copy of their records and the writer's
// thread encodes them too: the JSON of a full history costs the main thread a millisecond and more.
// Destroying the writer waits until everything given to it is written.
class StoreWriter {
public:
    // Makes the file's bytes; runs on the writer's thread, so it owns (copies of) what it encodes.
    using Encoder = std::function<QByteArray()>;

    StoreWriter();
    ~StoreWriter();
    StoreWriter(const StoreWriter &) = delete;
    StoreWriter &operator=(const StoreWriter &) = delete;

    // Replaces the file at `path` with what `encode` returns atomically, soon (StoreFile::write,
    // `store` naming the store in the log).
    void write(const QString &path, Encoder encode, const char *store);
    // Blocks until every write given before the call is on disk.
    void waitUntilWritten();
    // Runs `done` on the writer's thread once every write given before the call is over, telling
    // whether the last of them for `path` reached the disk (true when none was given for it). What
    // must not go before a record is on disk waits for this: it also runs while the writer ends.
    void whenWritten(const QString &path, std::function<void(bool onDisk)> done);

private:
    // Whether each path's latest write reached the disk; used on the writer's thread only.
    std::map<QString, bool> m_lastWriteOnDisk;
    rt::SerialQueue m_queue;
};

} // namespace zq

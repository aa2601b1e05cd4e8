#pragma once

#include "records/DiagnosticRecord.h"

#include "runtime/Clocks.h"

#include <QDateTime>
#include <QString>

#include <mutex>
#include <optional>

namespace zq {

// The append-only journal in the log folder: "diagnostics.jsonl" (rotated to diagnostics.1.jsonl
// .. diagnostics.3.jsonl), "run-state.json" and "README.txt".
//
// Thread-safe: every operation takes the journal's own lock, which is the innermost lock of
// diagnostics (nothing else is locked while it is held). Operations block on file I/O, so callers
// other than the writer queue, the watchdog queue and session start/end go through
// Diagnostics::record(). No operation throws or reports an error: a line that cannot be written
// is lost, and the application goes on.
class DiagnosticJournal {
public:
    static constexpr qint64 maxLogBytes = 524288;
    // A run state is a few hundred bytes; a larger file is not one the journal wrote.
    static constexpr qint64 maximumRunStateBytes = 64 * 1024;
    static constexpr int retainedLogs = 3;

    DiagnosticJournal(QString directory, const rt::Clocks &clocks, QString sessionID, QString appVersion,
                      QString build);
    DiagnosticJournal(const DiagnosticJournal &) = delete;
    DiagnosticJournal &operator=(const DiagnosticJournal &) = delete;

    const QString &directory() const { return m_directory; }
    QString currentLogPath() const;
    QString runStatePath() const;
    // "diagnostics.<index>.jsonl"; index 1 is the newest predecessor.
    QString rotatedLogPath(int index) const;
    const QString &sessionID() const { return m_sessionID; }
    const QString &appVersion() const { return m_appVersion; }
    const QString &build() const { return m_build; }

    // Whether a write waits until its bytes are on the disk. Every write does, except those of a
    // session begun with `visible`: they are in place for this process's death at once (a crash, a
    // kill), and for a crash of the whole system once syncToDisk() has run.
    enum class Durability { synced, visible };

    // Appends a line when a session has begun; before that the event is dropped without a trace.
    void recordIfActive(DiagnosticEvent event, const DiagnosticMetadata &metadata);
    // Prepares the folder, reads the previous run state, writes "previous_run_unclean" when the
    // previous process did not end normally, then "app_launched".
    void beginSession(Durability durability = Durability::synced);
    // Flushes the journal, the run state and the folder to disk.
    void syncToDisk();
    // Writes "app_terminated" and marks the run state inactive. Does nothing before a session.
    void endSession();

    // The run state of this session, none before beginSession().
    std::optional<DiagnosticRunState> state() const;

    // ISO 8601 in UTC with milliseconds, e.g. 2026-03-05T14:07:09.123Z.
    static QString formatTimestamp(const QDateTime &time);
    // The fixed text of "README.txt".
    static QByteArray readmeText();

private:
    void appendLocked(DiagnosticEvent event, const DiagnosticMetadata &metadata, bool durable = true);
    void rotateIfNeededLocked(qint64 incomingBytes);
    void prepareDirectoryLocked(bool durable);
    void writeRunStateLocked(bool durable);

    const QString m_directory;
    const rt::Clocks &m_clocks;
    const QString m_sessionID;
    const QString m_appVersion;
    const QString m_build;
    mutable std::mutex m_mutex;
    std::optional<DiagnosticRunState> m_state;
};

} // namespace zq

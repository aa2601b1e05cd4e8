#pragma once

#include "records/DayStats.h"
#include "records/WeekSummary.h"
#include "runtime/FileOps.h"

#include <QDateTime>
#include <QMap>
#include <QObject>
#include <QString>
#include <QTimeZone>

#include <functional>
#include <optional>

namespace zq {

class StoreWriter;

// Per-day counts of inserted takes ("<folder>/stats.json"), week summaries and lifetime figures.
// Days are keyed "yyyy-MM-dd" in the time zone given at creation (the system's by default; a
// change takes effect at the next launch). Main thread only; no operation reports an error.
class StatsStore final : public QObject {
    Q_OBJECT

public:
    static constexpr double typingWordsPerMinute = 40.0;
    // Centuries of days; a larger file is not one this store wrote, and is kept aside unread.
    static constexpr qint64 maximumFileBytes = qint64(16) << 20;

    // Creates `folder` when missing and loads "stats.json" (an unreadable one is kept aside; days
    // that cannot be decoded are left out, and the file holding them is kept aside too).
    explicit StatsStore(const QString &folder, const QTimeZone &timeZone = QTimeZone::systemTimeZone(),
                        QObject *parent = nullptr);

    const QMap<QString, DayStats> &days() const { return m_days; }
    const QString &filePath() const { return m_filePath; }
    const QTimeZone &timeZone() const { return m_timeZone; }
    // The file load set aside whole, nothing of it kept; none when it loaded (or was missing).
    std::optional<rt::KeptAsideFile> keptAside() const { return m_keptAside; }

    // Seconds captured for the take in flight, waiting for its commit.
    std::optional<double> armedTake() const { return m_armedTake; }
    void setArmedTake(std::optional<double> seconds) { m_armedTake = seconds; }

    // Counts the armed take (one take, `words`, its seconds as rounded milliseconds) on the day
    // of `date`, saves and returns true; false, changing nothing, when no take is armed.
    bool commitTake(qint64 words, const QDateTime &date);
    // Counts one take of `seconds` that was armed and taken out earlier (its commit waited while the
    // next take could arm its own), as commitTake() does.
    void countTake(double seconds, qint64 words, const QDateTime &date);
    // Hands every later save to `writer` (which must outlive the store) instead of writing on the
    // caller's thread.
    void setWriter(StoreWriter *writer) { m_writer = writer; }
    void save();
    // Runs `done` once the latest save is over, telling whether it reached the disk: on the writer's
    // thread after that save, or at once when saves are written here.
    void whenSaved(std::function<void(bool onDisk)> done);

    qint64 lifetimeTakes() const;
    // Seconds saved against typing at 40 words per minute; never negative.
    double lifetimeReclaimed() const;
    WeekSummary summary(const StatsWeek &week) const;
    QString dayKey(const QDateTime &date) const;
    static QString dayKey(const QDate &day);

signals:
    void daysChanged();

private:
    void load();
    static QByteArray encode(const QMap<QString, DayStats> &days);

    const QString m_filePath;
    const QTimeZone m_timeZone;
    QMap<QString, DayStats> m_days;
    std::optional<rt::KeptAsideFile> m_keptAside;
    std::optional<double> m_armedTake;
    StoreWriter *m_writer = nullptr;
    // Whether the latest save written here, not by the writer, reached the disk.
    bool m_lastSaveOnDisk = true;
};

} // namespace zq

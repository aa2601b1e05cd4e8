#pragma once

#include "records/HistoryItem.h"

#include "runtime/Clocks.h"
#include "runtime/FileOps.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

namespace zq {

class StoreWriter;

// The transcript history, newest first, kept in "<folder>/history.json" and rewritten whole after
// each change. Main thread only. A file that cannot be read or decoded is kept aside and the
// history starts empty; items that cannot be decoded are left out, and the file holding them is
// kept aside (StoreFile::keepAsideAfterDropping). A failed save is logged and the list in memory
// stays as it is.
class HistoryStore final : public QObject {
    Q_OBJECT

public:
    static constexpr qsizetype maximumItems = 500;
    // Far above 500 long transcripts (an hour of speech is about 50 kB of text); a larger file is
    // not one this store wrote, and is kept aside unread.
    static constexpr qint64 maximumFileBytes = qint64(256) << 20;

    // Creates `folder` when missing and loads its "history.json".
    HistoryStore(const QString &folder, const rt::Clocks &clocks, QObject *parent = nullptr);
    ~HistoryStore() override;

    const QList<HistoryItem> &items() const { return m_items; }
    const QString &filePath() const { return m_filePath; }
    // The file load set aside whole, nothing of it kept; none when it loaded (or was missing).
    std::optional<rt::KeptAsideFile> keptAside() const { return m_keptAside; }

    // Stores `text` trimmed of white space and line breaks, as the newest item; the oldest beyond
    // 500 go. A blank text changes nothing. The item's id is `id`, a new one when that is null: a
    // take's words are named after the take, so that a start that finds the take left behind can
    // tell whether History holds them.
    void add(const QString &text, const QUuid &id = {});
    // Removes the item with `id`; nothing happens (and nothing is written) when there is none.
    void remove(const QUuid &id);
    std::optional<QString> latestText() const;
    // The items whose text contains `query` (trimmed of spaces and tabs) in any letter case;
    // every item for a blank query.
    QList<HistoryItem> filtered(const QString &query) const;
    // The items of `among` that filtered(query) lists, in their order: a query that holds an earlier
    // one need only look through that one's matches.
    static QList<HistoryItem> filtered(const QString &query, const QList<HistoryItem> &among);
    // The same on any thread, over a copy of the items that thread holds: none once `stop` is
    // requested, which it checks before each item.
    static std::optional<QList<HistoryItem>> filtered(const QString &query, const QList<HistoryItem> &among,
                                                      std::stop_token stop);
    // `query` as the search reads it: trimmed of spaces and tabs.
    static QString searchText(const QString &query);
    // Hands every later save to `writer` (which must outlive the store) instead of writing on the
    // caller's thread.
    void setWriter(StoreWriter *writer) { m_writer = writer; }
    void save();
    // Runs `done` once the latest save is over, telling whether the file on disk holds the items as
    // they were then: on the writer's thread after that save, or at once when saves are written here.
    void whenSaved(std::function<void(bool onDisk)> done);
    // Runs `then` once a save holding the items as they are now is on disk: the latest save, or the
    // first later one to reach the disk when it failed. On the writer's thread (also as it ends), or on
    // the caller's when saves are written here; never when no such save reaches the disk.
    void whenOnDisk(std::function<void()> then);

signals:
    void itemsChanged();

private:
    void load();
    static QByteArray encode(const QList<HistoryItem> &items);

    const rt::Clocks &m_clocks;
    const QString m_filePath;
    QList<HistoryItem> m_items;
    std::optional<rt::KeptAsideFile> m_keptAside;
    StoreWriter *m_writer = nullptr;
    // Whether the latest save written here, not by the writer, reached the disk.
    bool m_lastSaveOnDisk = true;
    // Saves asked for so far, and what waits for one of them to reach the disk (shared with the writer).
    quint64 m_saves = 0;
    struct DiskWaiters;
    std::shared_ptr<DiskWaiters> m_diskWaiters;
};

} // namespace zq

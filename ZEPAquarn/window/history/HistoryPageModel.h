#pragma once

#include "menubar/brand/CopyConfirmation.h"
#include "records/HistoryItem.h"
#include "runtime/Executor.h"

#include <QList>
#include <QLocale>
#include <QObject>
#include <QString>
#include <QUuid>

#include <map>
#include <memory>
#include <optional>
#include <stop_token>

namespace zq {

namespace platform {
class Pasteboard;
}
namespace rt {
class SerialQueue;
}
class HistoryStore;

// What the History page shows under its search field.
enum class HistoryContent { emptyHistory, noMatch, list };

struct HistoryEmptyState {
    QString symbol;
    QString title;
    QString subtitle;
};

// "1 transcript, stored locally", "0 transcripts, stored locally", "12 transcripts, …".
QString historyCountLine(qsizetype count);
std::optional<HistoryEmptyState> historyEmptyState(HistoryContent content);

// The History page's state: the search text, the rows it matches, the copy confirmations and the
// row actions, over the transcript history. The rows are filtered again whenever the query or the
// history changes, never while drawing. A search that must read more text than fits in a frame runs
// on a queue of its own; the rows shown stay until its matches come. Main thread.
class HistoryPageModel : public QObject {
    Q_OBJECT
public:
    // A millisecond or two of reading: a search through more transcript text than this leaves the main thread.
    static constexpr qsizetype kMainThreadSearchCharacters = qsizetype(1) << 20;

    HistoryPageModel(HistoryStore &store, platform::Pasteboard &pasteboard, rt::MainLoop &loop,
                     QLocale locale = QLocale(), QObject *parent = nullptr);
    ~HistoryPageModel() override;

    // Where searches too long for the main thread run, instead of a queue of the model's own; its
    // items post their matches to the main loop.
    void setSearchQueue(rt::Executor &queue) { m_searchQueue = &queue; }
    // How much transcript text a search may read on the main thread.
    void setMainThreadSearchCharacters(qsizetype characters) { m_mainThreadSearchCharacters = characters; }
    // A search runs off the main thread; the rows are those of an earlier query until it ends.
    bool isSearching() const { return m_searching; }

    const QString &query() const { return m_query; }
    void setQuery(const QString &query);

    // The transcripts the query matches, newest first.
    const QList<HistoryItem> &rows() const { return m_rows; }
    HistoryContent content() const;
    // Counts every stored transcript, whatever the search shows.
    QString countLine() const;
    QString dateText(const HistoryItem &item) const;

    bool canCopyLatest() const;
    bool copiedLatest() const { return m_copiedLatest.isShown(); }
    // Copies the newest transcript, whatever the search shows.
    void copyLatest();

    bool rowCopied(const QUuid &id) const;
    // Copies the transcript's full text (also when its row shows it cut).
    void copyRow(const QUuid &id);
    // Copies part of a transcript, selected with the pointer; no confirmation shows. False when nothing
    // was written (an empty text, or the clipboard refused).
    bool copyText(const QString &text);
    // Removes the transcript at once, without asking.
    void deleteRow(const QUuid &id);

    HistoryStore &store() const { return m_store; }

signals:
    // The rows or the count changed.
    void rowsChanged();
    // The query changed, or a search off the main thread began or ended.
    void searchChanged();
    // A copy confirmation appeared or ended.
    void feedbackChanged();

private:
    void refilter();
    void search();
    void showRows(QList<HistoryItem> rows);
    void remember(const QString &text, const QList<HistoryItem> &found);
    void searched(quint64 search, const QString &text, QList<HistoryItem> found);
    rt::Executor &searchQueue();
    const HistoryItem *find(const QUuid &id) const;

    HistoryStore &m_store;
    platform::Pasteboard &m_pasteboard;
    rt::MainLoop &m_loop;
    QLocale m_locale;
    QString m_query;
    QList<HistoryItem> m_rows;
    // The searches made since the history last changed, by the text searched for.
    std::map<QString, QList<HistoryItem>> m_searches;
    rt::Executor *m_searchQueue = nullptr;
    std::unique_ptr<rt::SerialQueue> m_ownSearchQueue;
    qsizetype m_mainThreadSearchCharacters = kMainThreadSearchCharacters;
    // Counts the searches begun: matches are shown only for the latest, so that those of an older
    // query, or of the history as it was, never replace newer ones.
    quint64 m_search = 0;
    std::stop_source m_searchStop;
    bool m_searching = false;
    rt::Lifetime m_lifetime;
    CopyConfirmation m_copiedLatest;
    // Keyed by the transcript, so a confirmation stays with its row when others come and go.
    std::map<QUuid, std::unique_ptr<CopyConfirmation>> m_rowCopied;
};

} // namespace zq

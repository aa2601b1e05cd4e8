#pragma once

#include "menubar/brand/CopyConfirmation.h"
#include "records/HistoryItem.h"

#include <QList>
#include <QLocale>
#include <QObject>
#include <QString>
#include <QUuid>

#include <map>
#include <memory>
#include <optional>

namespace zq {

namespace platform {
class Pasteboard;
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
// history changes, never while drawing. Main thread.
class HistoryPageModel : public QObject {
    Q_OBJECT
public:
    HistoryPageModel(HistoryStore &store, platform::Pasteboard &pasteboard, rt::MainLoop &loop,
                     QLocale locale = QLocale(), QObject *parent = nullptr);

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
    // A copy confirmation appeared or ended.
    void feedbackChanged();

private:
    void refilter();
    QList<HistoryItem> search();
    const HistoryItem *find(const QUuid &id) const;

    HistoryStore &m_store;
    platform::Pasteboard &m_pasteboard;
    rt::MainLoop &m_loop;
    QLocale m_locale;
    QString m_query;
    QList<HistoryItem> m_rows;
    // The searches made since the history last changed, by the text searched for.
    std::map<QString, QList<HistoryItem>> m_searches;
    CopyConfirmation m_copiedLatest;
    // Keyed by the transcript, so a confirmation stays with its row when others come and go.
    std::map<QUuid, std::unique_ptr<CopyConfirmation>> m_rowCopied;
};

} // namespace zq

#include "window/history/HistoryPageModel.h"

#include "records/HistoryStore.h"
#include "runtime/SerialQueue.h"
#include "window/history/HistoryCopy.h"
#include "window/history/HistoryDate.h"

#include <QSet>

#include <numeric>

namespace zq {

QString historyCountLine(qsizetype count)
{
    if (count == 1)
        return QStringLiteral("1 transcript, stored locally");
    return QString::number(count) + QStringLiteral(" transcripts, stored locally");
}

std::optional<HistoryEmptyState> historyEmptyState(HistoryContent content)
{
    switch (content) {
    case HistoryContent::emptyHistory:
        return HistoryEmptyState{QStringLiteral("waveform"), QStringLiteral("Your words will land here"),
                                 QStringLiteral("Completed dictations are kept locally on this computer.")};
    case HistoryContent::noMatch:
        return HistoryEmptyState{QStringLiteral("magnifyingglass"), QStringLiteral("No matching transcripts"),
                                 QStringLiteral("Try a different word or phrase.")};
    case HistoryContent::list:
        break;
    }
    return std::nullopt;
}

HistoryPageModel::HistoryPageModel(HistoryStore &store, platform::Pasteboard &pasteboard, rt::MainLoop &loop,
                                   QLocale locale, QObject *parent)
    : QObject(parent), m_store(store), m_pasteboard(pasteboard), m_loop(loop), m_locale(std::move(locale)),
      m_copiedLatest(loop, [this] { emit feedbackChanged(); })
{
    connect(&m_store, &HistoryStore::itemsChanged, this, [this] {
        // Confirmations of transcripts that are gone go with them.
        for (auto it = m_rowCopied.begin(); it != m_rowCopied.end();)
            it = find(it->first) ? std::next(it) : m_rowCopied.erase(it);
        refilter();
    });
    refilter();
}

HistoryPageModel::~HistoryPageModel()
{
    // The queue of our own runs what it holds before it goes: no search need finish.
    m_searchStop.request_stop();
}

rt::Executor &HistoryPageModel::searchQueue()
{
    if (!m_searchQueue) {
        m_ownSearchQueue = std::make_unique<rt::SerialQueue>(QStringLiteral("io.quorvane.zepaquarn.history-search"));
        m_searchQueue = m_ownSearchQueue.get();
    }
    return *m_searchQueue;
}

void HistoryPageModel::setQuery(const QString &query)
{
    if (query == m_query)
        return;
    m_query = query;
    search();
    emit searchChanged();
}

void HistoryPageModel::refilter()
{
    m_searches.clear();
    search();
    if (!m_searching)
        return;
    // A deleted transcript leaves the list at once, not when the search ends.
    QSet<QUuid> stored;
    for (const HistoryItem &item : m_store.items())
        stored.insert(item.id);
    if (m_rows.removeIf([&](const HistoryItem &item) { return !stored.contains(item.id); }) > 0)
        emit rowsChanged();
}

// Typing narrows a search one key at a time and erasing goes back over searches already made: while
// the history stays as it is, a query searched before is answered from its matches, and one that
// holds an earlier query looks only through that one's matches, so that a keystroke need not read
// every transcript again (500 long ones are some 50 MB of text). What is still too long to read in a
// frame is read on the search queue.
void HistoryPageModel::search()
{
    ++m_search;
    m_searchStop.request_stop();
    const bool wasSearching = std::exchange(m_searching, false);
    const QString text = HistoryStore::searchText(m_query);
    if (text.isEmpty()) {
        showRows(m_store.items());
    } else if (const auto made = m_searches.find(text); made != m_searches.end()) {
        showRows(made->second);
    } else {
        const QList<HistoryItem> *among = &m_store.items();
        for (const auto &[earlier, matches] : m_searches) {
            if (matches.size() < among->size() && text.contains(earlier, Qt::CaseInsensitive))
                among = &matches;
        }
        const qsizetype characters =
            std::accumulate(among->begin(), among->end(), qsizetype(0),
                            [](qsizetype sum, const HistoryItem &item) { return sum + item.text.size(); });
        if (characters <= m_mainThreadSearchCharacters) {
            QList<HistoryItem> found = HistoryStore::filtered(text, *among);
            remember(text, found);
            showRows(std::move(found));
        } else {
            m_searching = true;
            m_searchStop = std::stop_source();
            // The lists share their transcripts with the store; the queue reads its own copy of the list.
            searchQueue().post([text, among = *among, stop = m_searchStop.get_token(), &loop = m_loop,
                                done = m_lifetime.guard([this, search = m_search, text](QList<HistoryItem> found) {
                                    searched(search, text, std::move(found));
                                })] {
                std::optional<QList<HistoryItem>> found = HistoryStore::filtered(text, among, stop);
                if (found)
                    loop.post([done, found = std::move(*found)]() mutable { done(std::move(found)); });
            });
        }
    }
    if (wasSearching != m_searching)
        emit searchChanged();
}

void HistoryPageModel::searched(quint64 search, const QString &text, QList<HistoryItem> found)
{
    if (search != m_search)
        return;
    m_searching = false;
    remember(text, found);
    showRows(std::move(found));
    emit searchChanged();
}

void HistoryPageModel::remember(const QString &text, const QList<HistoryItem> &found)
{
    // A bound for a long session of searching; the lists share their transcripts with the store.
    if (m_searches.size() >= 64)
        m_searches.clear();
    m_searches.emplace(text, found);
}

void HistoryPageModel::showRows(QList<HistoryItem> rows)
{
    m_rows = std::move(rows);
    emit rowsChanged();
}

HistoryContent HistoryPageModel::content() const
{
    if (m_store.items().isEmpty())
        return HistoryContent::emptyHistory;
    if (m_rows.isEmpty())
        return HistoryContent::noMatch;
    return HistoryContent::list;
}

QString HistoryPageModel::countLine() const
{
    return historyCountLine(m_store.items().size());
}

QString HistoryPageModel::dateText(const HistoryItem &item) const
{
    return abbreviatedDateTime(item.date, m_locale);
}

bool HistoryPageModel::canCopyLatest() const
{
    return m_store.latestText().has_value();
}

void HistoryPageModel::copyLatest()
{
    if (copyHistoryText(m_pasteboard, m_store.latestText()))
        m_copiedLatest.confirm();
}

bool HistoryPageModel::rowCopied(const QUuid &id) const
{
    const auto found = m_rowCopied.find(id);
    return found != m_rowCopied.end() && found->second->isShown();
}

void HistoryPageModel::copyRow(const QUuid &id)
{
    const HistoryItem *item = find(id);
    if (!item || !copyHistoryText(m_pasteboard, item->text))
        return;
    auto &confirmation = m_rowCopied[id];
    if (!confirmation)
        confirmation = std::make_unique<CopyConfirmation>(m_loop, [this] { emit feedbackChanged(); });
    confirmation->confirm();
}

bool HistoryPageModel::copyText(const QString &text)
{
    return copyHistoryText(m_pasteboard, text);
}

void HistoryPageModel::deleteRow(const QUuid &id)
{
    m_store.remove(id);
}

const HistoryItem *HistoryPageModel::find(const QUuid &id) const
{
    for (const HistoryItem &item : m_store.items())
        if (item.id == id)
            return &item;
    return nullptr;
}

} // namespace zq

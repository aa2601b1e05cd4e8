#include "records/HistoryStore.h"

#include "records/StoreFile.h"
#include "records/StoreWriter.h"
#include "runtime/Log.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

namespace zq {

namespace {

// Spaces (any Unicode space separator) and tabs; line breaks are part of a query.
QString trimSpacesAndTabs(const QString &text)
{
    const auto isBlank = [](QChar c) { return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space; };
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text.at(begin)))
        ++begin;
    while (end > begin && isBlank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

// What waits for a save to reach the disk, each with the number of the first save that holds what it
// waits for. Shared by the main thread, which adds, and the writer's thread, which runs them.
struct HistoryStore::DiskWaiters {
    std::mutex mutex;
    std::vector<std::pair<quint64, std::function<void()>>> waiting;

    // Save `save` reached the disk: runs, outside the lock, what it holds.
    void saved(quint64 save)
    {
        std::vector<std::function<void()>> due;
        {
            const std::lock_guard lock(mutex);
            const auto held = std::stable_partition(waiting.begin(), waiting.end(),
                                                    [save](const auto &waiter) { return waiter.first > save; });
            for (auto it = held; it != waiting.end(); ++it)
                due.push_back(std::move(it->second));
            waiting.erase(held, waiting.end());
        }
        for (const auto &then : due)
            then();
    }
};

HistoryStore::HistoryStore(const QString &folder, const rt::Clocks &clocks, QObject *parent)
    : QObject(parent), m_clocks(clocks), m_filePath(folder + QLatin1String("/history.json")),
      m_diskWaiters(std::make_shared<DiskWaiters>())
{
    StoreFile::ensureFolder(folder, "history");
    load();
}

HistoryStore::~HistoryStore() = default;

void HistoryStore::load()
{
    const StoreFile::Contents contents = StoreFile::read(m_filePath, maximumFileBytes);
    if (contents.status == StoreFile::Status::missing)
        return;
    if (contents.status == StoreFile::Status::unreadable) {
        m_keptAside = StoreFile::keepAside(m_filePath, "history", contents);
        return;
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(contents.bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray()) {
        m_keptAside = StoreFile::keepAside(m_filePath, "history", QStringLiteral("not a JSON array"));
        return;
    }
    // Entry by entry: one damaged item must not hide the others.
    QList<HistoryItem> loaded;
    const QJsonArray array = document.array();
    loaded.reserve(array.size());
    for (const QJsonValue &value : array) {
        if (auto item = HistoryItem::fromJson(value))
            loaded.append(std::move(*item));
    }
    m_items = std::move(loaded);
    if (const qsizetype dropped = array.size() - m_items.size(); dropped > 0)
        m_keptAside =
            StoreFile::keepAsideAfterDropping(m_filePath, "history", dropped, m_items.size(), encode(m_items));
}

void HistoryStore::add(const QString &text, const QUuid &id)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return;
    m_items.prepend(HistoryItem{id.isNull() ? QUuid::createUuid() : id, trimmed, m_clocks.wallNow()});
    if (m_items.size() > maximumItems)
        m_items.resize(maximumItems);
    emit itemsChanged();
    save();
}

void HistoryStore::remove(const QUuid &id)
{
    const auto found = std::find_if(m_items.cbegin(), m_items.cend(), [&](const HistoryItem &i) { return i.id == id; });
    if (found == m_items.cend())
        return;
    m_items.erase(found);
    emit itemsChanged();
    save();
}

std::optional<QString> HistoryStore::latestText() const
{
    if (m_items.isEmpty())
        return std::nullopt;
    return m_items.first().text;
}

QList<HistoryItem> HistoryStore::filtered(const QString &query) const
{
    return filtered(query, m_items);
}

QList<HistoryItem> HistoryStore::filtered(const QString &query, const QList<HistoryItem> &among)
{
    if (searchText(query).isEmpty())
        return among;
    return *filtered(query, among, std::stop_token());
}

std::optional<QList<HistoryItem>> HistoryStore::filtered(const QString &query, const QList<HistoryItem> &among,
                                                         std::stop_token stop)
{
    const QString needle = searchText(query);
    QList<HistoryItem> found;
    for (const HistoryItem &item : among) {
        if (stop.stop_requested())
            return std::nullopt;
        if (item.text.contains(needle, Qt::CaseInsensitive))
            found.append(item);
    }
    return found;
}

QString HistoryStore::searchText(const QString &query)
{
    return trimSpacesAndTabs(query);
}

QByteArray HistoryStore::encode(const QList<HistoryItem> &items)
{
    QJsonArray array;
    for (const HistoryItem &item : items)
        array.append(item.toJson());
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

void HistoryStore::save()
{
    const quint64 save = ++m_saves;
    // The list is shared, not copied, until the next change here.
    if (m_writer) {
        m_writer->write(
            m_filePath, [items = m_items] { return encode(items); }, "history");
        m_writer->whenWritten(m_filePath, [waiters = m_diskWaiters, save](bool onDisk) {
            if (onDisk)
                waiters->saved(save);
        });
        return;
    }
    m_lastSaveOnDisk = StoreFile::write(m_filePath, encode(m_items), "history");
    if (m_lastSaveOnDisk)
        m_diskWaiters->saved(save);
}

void HistoryStore::whenOnDisk(std::function<void()> then)
{
    // Nothing saved since the load: the file holds the items.
    if (m_saves == 0 || (!m_writer && m_lastSaveOnDisk)) {
        then();
        return;
    }
    {
        const std::lock_guard lock(m_diskWaiters->mutex);
        m_diskWaiters->waiting.emplace_back(m_saves, std::move(then));
    }
    // The latest save may be on disk already.
    if (m_writer)
        m_writer->whenWritten(m_filePath, [waiters = m_diskWaiters, save = m_saves](bool onDisk) {
            if (onDisk)
                waiters->saved(save);
        });
}

void HistoryStore::whenSaved(std::function<void(bool onDisk)> done)
{
    if (m_writer)
        m_writer->whenWritten(m_filePath, std::move(done));
    else
        done(m_lastSaveOnDisk);
}

} // namespace zq

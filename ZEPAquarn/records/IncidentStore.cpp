#include "records/IncidentStore.h"

#include "records/FileManagerReveal.h"
#include "records/StoreFile.h"
#include "runtime/FileOps.h"
#include "runtime/Log.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>

#include <algorithm>
#include <mutex>

namespace zq {

namespace {

QString indexPathIn(const QString &directory)
{
    return directory + QLatin1String("/incidents.json");
}

QString recordingsDirectoryIn(const QString &directory)
{
    return directory + QLatin1String("/Recordings");
}

bool ensureFoldersIn(const QString &directory)
{
    // In this order: the check of Recordings trusts the folder it lies in.
    return StoreFile::ensureFolder(directory, "incident") &&
           StoreFile::ensureFolder(recordingsDirectoryIn(directory), "incident");
}

std::optional<QString> recordingPathIn(const QString &directory, const DictationIncident &incident)
{
    if (!incident.recordingFilename || !IncidentStore::isPlainFileName(*incident.recordingFilename))
        return std::nullopt;
    const QString path = recordingsDirectoryIn(directory) + QLatin1Char('/') + *incident.recordingFilename;
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    return path;
}

QByteArray encode(const QList<DictationIncident> &incidents)
{
    QJsonArray array;
    for (const DictationIncident &incident : incidents)
        array.append(incident.toJson());
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

} // namespace

// The index file: the items as last saved, and the incidents gone from them whose words are not yet
// safe elsewhere. The file names those too, so that the start-up sweep leaves their recordings. The
// main thread saves through it and a leaving incident's last step may write it from another thread,
// so every write happens under the lock.
struct IncidentStore::IndexFile {
    explicit IndexFile(QString directory) : directory(std::move(directory)) {}

    // Under the lock.
    bool write() const
    {
        if (!ensureFoldersIn(directory))
            return false;
        // Each leaving incident in its place by date, the saved ones in their order.
        QList<DictationIncident> named = saved;
        for (const DictationIncident &incident : leaving) {
            const auto older = std::find_if(named.cbegin(), named.cend(),
                                            [&](const DictationIncident &i) { return i.date < incident.date; });
            named.insert(older, incident);
        }
        return StoreFile::write(indexPathIn(directory), encode(named), "incident");
    }

    void forget(const QUuid &id, bool wordsKept)
    {
        if (!wordsKept) {
            qCWarning(lcRecords) << "incident store: the recovered words are not on disk — the incident and its "
                                    "recording stay for the next start";
            return;
        }
        const std::lock_guard lock(mutex);
        const auto found =
            std::find_if(leaving.cbegin(), leaving.cend(), [&](const DictationIncident &i) { return i.id == id; });
        if (found == leaving.cend())
            return;
        const DictationIncident incident = *found;
        leaving.erase(found);
        // The file first: a recording it no longer names goes at the next start anyway, while a file
        // naming a recording that is gone would list the incident again without it.
        if (!write()) {
            leaving.append(incident); // the file on disk still names it
            return;
        }
        if (const auto path = recordingPathIn(directory, incident))
            QFile::remove(*path);
    }

    const QString directory;
    std::mutex mutex;
    QList<DictationIncident> saved;
    QList<DictationIncident> leaving;
};

IncidentStore::IncidentStore(const QString &directory, RevealFile revealFile, QObject *parent)
    : QObject(parent), m_directory(directory), m_revealFile(std::move(revealFile)),
      m_index(std::make_shared<IndexFile>(directory))
{
    load();
}

bool IncidentStore::ensureFolders() const
{
    return ensureFoldersIn(m_directory);
}

bool IncidentStore::isRecordingName(const QString &name)
{
    // "<ID>.wav", the ID upper-case as keepRecording() writes it.
    if (name.size() != 36 + 4 || !name.endsWith(QLatin1String(".wav")))
        return false;
    const QString id = name.left(36);
    return id == id.toUpper() && StoreFile::uuidFromString(id).has_value();
}

QString IncidentStore::indexPath() const
{
    return indexPathIn(m_directory);
}

QString IncidentStore::recordingsDirectory() const
{
    return recordingsDirectoryIn(m_directory);
}

bool IncidentStore::isPlainFileName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

void IncidentStore::load()
{
    // A folder that is not really ours (a link to elsewhere) is neither read, swept nor written.
    if (!ensureFolders())
        return;
    const QString path = indexPath();
    const StoreFile::Contents contents = StoreFile::read(path, maximumFileBytes);
    if (contents.status == StoreFile::Status::unreadable) {
        // The kept-aside file still names its recordings: leave them alone.
        m_keptAside = StoreFile::keepAside(path, "incident", contents);
        return;
    }
    if (contents.status == StoreFile::Status::read) {
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(contents.bytes, &error);
        if (error.error != QJsonParseError::NoError || !document.isArray()) {
            m_keptAside = StoreFile::keepAside(path, "incident", QStringLiteral("not a list of incidents"));
            return;
        }
        // Entry by entry: one damaged incident must not hide the others.
        const QJsonArray array = document.array();
        for (const QJsonValue &value : array) {
            if (auto incident = DictationIncident::fromJson(value))
                m_items.append(std::move(*incident));
        }
        if (const qsizetype dropped = array.size() - m_items.size(); dropped > 0) {
            m_keptAside = StoreFile::keepAsideAfterDropping(path, "incident", dropped, m_items.size(), encode(m_items));
            // A dropped incident may name a recording: the kept-aside file still does.
            return;
        }
    }
    removeUnreferencedRecordings();
}

void IncidentStore::removeUnreferencedRecordings()
{
    QSet<QString> referenced;
    for (const DictationIncident &incident : std::as_const(m_items)) {
        if (incident.recordingFilename)
            referenced.insert(*incident.recordingFilename);
    }
    // Only names this store makes, only regular files, never through a link.
    const auto removed = rt::removeFilesIn(
        recordingsDirectory(), [&](const QString &name) { return isRecordingName(name) && !referenced.contains(name); },
        m_directory);
    if (!removed)
        qCWarning(lcRecords).noquote() << "incident store: recordings left alone:" << removed.error().message;
    else if (removed.value() > 0)
        qCInfo(lcRecords) << "incident store: removed" << removed.value() << "recording(s) that no incident names";
}

std::optional<DictationIncident> IncidentStore::latest() const
{
    if (m_items.isEmpty())
        return std::nullopt;
    return m_items.first();
}

bool IncidentStore::hasUnread() const
{
    return std::any_of(m_items.cbegin(), m_items.cend(), [](const DictationIncident &i) { return !i.isRead; });
}

void IncidentStore::insert(const DictationIncident &incident)
{
    m_items.prepend(incident);
    emit itemsChanged();
}

void IncidentStore::markAllRead()
{
    if (!hasUnread())
        return;
    for (DictationIncident &incident : m_items)
        incident.isRead = true;
    emit itemsChanged();
    save();
}

std::optional<QString> IncidentStore::keepRecording(const std::optional<QString> &takeFile, const QUuid &incidentID)
{
    if (!takeFile || takeFile->isEmpty() || !QFileInfo(*takeFile).isFile())
        return std::nullopt;
    const QString name = StoreFile::uuidString(incidentID) + QLatin1String(".wav");
    if (!ensureFolders())
        return std::nullopt;
    if (auto moved = rt::moveFile(*takeFile, recordingsDirectory() + QLatin1Char('/') + name); !moved) {
        qCWarning(lcRecords) << "incident store: recording not kept:" << moved.error().message;
        return std::nullopt;
    }
    return name;
}

std::optional<QString> IncidentStore::recordingURL(const DictationIncident &incident) const
{
    return recordingPathIn(m_directory, incident);
}

void IncidentStore::revealRecording(const DictationIncident &incident, RevealDone done) const
{
    const auto path = recordingURL(incident);
    if (!path)
        return;
    if (m_revealFile)
        m_revealFile(*path, std::move(done));
    else
        revealInFileManager(*path, std::move(done));
}

void IncidentStore::deleteRecording(const DictationIncident &incident)
{
    if (const auto path = recordingURL(incident))
        QFile::remove(*path);
}

void IncidentStore::remove(const DictationIncident &incident)
{
    const auto found =
        std::find_if(m_items.cbegin(), m_items.cend(), [&](const DictationIncident &i) { return i.id == incident.id; });
    if (found == m_items.cend())
        return;
    deleteRecording(*found);
    m_items.erase(found);
    emit itemsChanged();
    save();
}

std::function<void(bool wordsKept)> IncidentStore::removeOnceRecovered(const DictationIncident &incident)
{
    const auto found =
        std::find_if(m_items.cbegin(), m_items.cend(), [&](const DictationIncident &i) { return i.id == incident.id; });
    if (found == m_items.cend())
        return [](bool) {};
    {
        const std::lock_guard lock(m_index->mutex);
        m_index->leaving.append(*found);
    }
    m_items.erase(found);
    emit itemsChanged();
    save();
    return [index = m_index, id = incident.id](bool wordsKept) { index->forget(id, wordsKept); };
}

void IncidentStore::trimToLimit()
{
    if (m_items.size() <= maximumItems)
        return;
    for (qsizetype i = maximumItems; i < m_items.size(); ++i)
        deleteRecording(m_items.at(i));
    m_items.resize(maximumItems);
    emit itemsChanged();
}

void IncidentStore::save()
{
    const std::lock_guard lock(m_index->mutex);
    m_index->saved = m_items;
    m_index->write();
}

} // namespace zq

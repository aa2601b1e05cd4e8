#pragma once

#include "records/DictationIncident.h"
#include "records/FileManagerReveal.h"
#include "runtime/FileOps.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace zq {

// Recent failed takes, newest first, in "<directory>/incidents.json", with their kept recordings
// in "<directory>/Recordings". Main thread only, but for the function removeOnceRecovered() returns;
// no operation reports an error.
//
// Both folders must be real folders of this user (private, 0700): a folder that is a link to
// elsewhere is logged and left untouched (nothing read, swept, moved or written into it).
//
// A recording name read from the file is only ever used as a plain name inside Recordings/ (a
// name with a path separator, "." or ".." gives no recording), so a tampered file cannot make
// delete or reveal touch anything else.
class IncidentStore final : public QObject {
    Q_OBJECT

public:
    static constexpr qsizetype maximumItems = 5;
    // Five incidents of short texts; a larger file is not one this store wrote, and is kept aside unread.
    static constexpr qint64 maximumFileBytes = qint64(16) << 20;

    // Creates the Recordings folder when missing, loads "incidents.json" (an unreadable one is kept
    // aside; undecodable incidents are left out and the file kept aside too), then removes the
    // recordings that no incident names: regular files named as keepRecording() names them, and
    // nothing else. `revealFile` shows a file in the file manager (revealInFileManager() when empty).
    explicit IncidentStore(const QString &directory, RevealFile revealFile = {}, QObject *parent = nullptr);

    const QList<DictationIncident> &items() const { return m_items; }
    const QString &directory() const { return m_directory; }
    QString indexPath() const;
    QString recordingsDirectory() const;
    // The file load set aside whole, nothing of it kept; none when it loaded (or was missing).
    std::optional<rt::KeptAsideFile> keptAside() const { return m_keptAside; }

    std::optional<DictationIncident> latest() const;
    bool hasUnread() const;

    // Puts a new incident at the front. The controller then trims and saves.
    void insert(const DictationIncident &incident);
    void markAllRead();
    // Moves the take file into Recordings as "<ID>.wav" (across file systems too) and returns that
    // name; none, with the take file left where it is, when there is no file or the move fails.
    std::optional<QString> keepRecording(const std::optional<QString> &takeFile, const QUuid &incidentID);
    // The kept recording's path when the incident names one and the file exists.
    std::optional<QString> recordingURL(const DictationIncident &incident) const;
    // Shows the kept recording in the file manager; `done` hears whether anything could. Nothing,
    // and no answer, when the incident has no recording on disk.
    void revealRecording(const DictationIncident &incident, RevealDone done = {}) const;
    // Removes the incident with this id and its recording, and saves; nothing when it is not listed.
    void remove(const DictationIncident &incident);
    // For an incident whose recording was transcribed again: removes it from `items` and saves, but
    // the file goes on naming it (and the next start keeps its recording) until the returned function
    // hears that the words are safe elsewhere. Called with true, from any thread and also once the
    // store is gone, it writes the file without the incident and then deletes the recording; with
    // false, or never, both stay and the next start lists the incident again. A no-op when the
    // incident is not listed.
    std::function<void(bool wordsKept)> removeOnceRecovered(const DictationIncident &incident);
    // Keeps the newest five, deleting the recordings of the others. Does not save.
    void trimToLimit();
    void save();

    // Whether `name` may stand for a file inside Recordings/.
    static bool isPlainFileName(const QString &name);
    // Whether `name` is a recording name this store makes ("<ID>.wav", upper-case).
    static bool isRecordingName(const QString &name);

signals:
    void itemsChanged();

private:
    struct IndexFile;

    void load();
    bool ensureFolders() const;
    void removeUnreferencedRecordings();
    void deleteRecording(const DictationIncident &incident);

    const QString m_directory;
    const RevealFile m_revealFile;
    QList<DictationIncident> m_items;
    std::optional<rt::KeptAsideFile> m_keptAside;
    // "incidents.json" as last written; shared with the functions removeOnceRecovered() returns.
    const std::shared_ptr<IndexFile> m_index;
};

} // namespace zq

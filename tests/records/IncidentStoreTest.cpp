#include "records/IncidentStore.h"
#include "records/StoreFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include <sys/stat.h>

using namespace zq;

namespace {

class IncidentStoreTest : public ::testing::Test {
protected:
    QString incidents() const { return dir.filePath(QStringLiteral("Incidents")); }
    QString index() const { return incidents() + QStringLiteral("/incidents.json"); }
    QString recordings() const { return incidents() + QStringLiteral("/Recordings"); }
    QByteArray indexBytes() const
    {
        QFile f(index());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QString makeTake(const QString &folder, const QByteArray &bytes = "RIFF....WAVE")
    {
        const QString path = folder + QStringLiteral("/take-%1.wav").arg(++takes);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }
    DictationIncident incident(std::optional<QString> recording = std::nullopt)
    {
        DictationIncident i;
        i.id = QUuid::createUuid();
        i.date = QDateTime(QDate(2026, 3, 5), QTime(14, 7, 9, 250), Qt::UTC);
        i.code = QStringLiteral("ZQ-TX-TIMEOUT");
        i.title = QStringLiteral("t");
        i.message = QStringLiteral("m");
        i.nextStep = QStringLiteral("n");
        i.backend = QStringLiteral("local");
        i.appVersion = QStringLiteral("1.0");
        i.build = QStringLiteral("3");
        i.recordingFilename = std::move(recording);
        return i;
    }
    // The controller's order on a failure.
    DictationIncident fail(IncidentStore &store, const std::optional<QString> &take)
    {
        DictationIncident i = incident();
        i.recordingFilename = store.keepRecording(take, i.id);
        store.insert(i);
        store.trimToLimit();
        store.save();
        return i;
    }

    QTemporaryDir dir;
    QTemporaryDir temp;
    int takes = 0;
};

TEST_F(IncidentStoreTest, RoundTripKeepsOptionalKeysAbsent)
{
    IncidentStore store(incidents());
    EXPECT_TRUE(QFileInfo(recordings()).isDir());
    EXPECT_EQ(store.latest(), std::nullopt);
    EXPECT_FALSE(store.hasUnread());

    DictationIncident bare = incident();
    DictationIncident full = incident(QStringLiteral("ignored.wav"));
    full.language = QStringLiteral("auto");
    store.insert(bare);
    store.insert(full);
    store.save();

    const QJsonArray array = QJsonDocument::fromJson(indexBytes()).array();
    ASSERT_EQ(array.size(), 2);
    EXPECT_TRUE(array[0].toObject().contains(QStringLiteral("language")));
    EXPECT_FALSE(array[1].toObject().contains(QStringLiteral("language")));
    EXPECT_FALSE(array[1].toObject().contains(QStringLiteral("recordingFilename")));
    EXPECT_EQ(array[1].toObject().value(QStringLiteral("id")).toString(), StoreFile::uuidString(bare.id));

    IncidentStore reloaded(incidents());
    EXPECT_EQ(reloaded.items(), store.items());
    EXPECT_EQ(reloaded.latest(), full);
}

TEST_F(IncidentStoreTest, KeepsTheNewestFiveAndDeletesTheRecordingsOfTheRest)
{
    IncidentStore store(incidents());
    QList<DictationIncident> made;
    for (int i = 0; i < 5; ++i)
        made << fail(store, makeTake(temp.path()));
    EXPECT_EQ(store.items().size(), 5);
    EXPECT_EQ(QDir(recordings()).entryList(QDir::Files).size(), 5);

    QSignalSpy changed(&store, &IncidentStore::itemsChanged);
    store.trimToLimit();
    EXPECT_EQ(changed.count(), 0) << "five or fewer: nothing to do";

    const QString oldest = *store.recordingURL(made.first());
    fail(store, makeTake(temp.path()));
    EXPECT_EQ(store.items().size(), 5);
    EXPECT_FALSE(QFileInfo::exists(oldest));
    EXPECT_EQ(QDir(recordings()).entryList(QDir::Files).size(), 5);
    EXPECT_EQ(IncidentStore(incidents()).items().size(), 5);
}

TEST_F(IncidentStoreTest, KeepRecordingMovesOrLeavesTheTakeAlone)
{
    IncidentStore store(incidents());
    EXPECT_EQ(store.keepRecording(std::nullopt, QUuid::createUuid()), std::nullopt);
    EXPECT_EQ(store.keepRecording(temp.filePath(QStringLiteral("gone.wav")), QUuid::createUuid()), std::nullopt);
    EXPECT_TRUE(QDir(recordings()).entryList(QDir::Files).isEmpty());

    const QUuid id = QUuid::createUuid();
    const QString take = makeTake(temp.path(), "audio bytes");
    const auto name = store.keepRecording(take, id);
    ASSERT_EQ(name, StoreFile::uuidString(id) + QStringLiteral(".wav"));
    EXPECT_FALSE(QFileInfo::exists(take));
    QFile kept(recordings() + QLatin1Char('/') + *name);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("audio bytes"));

    // A move that fails leaves the take where it was.
    ::chmod(QFile::encodeName(recordings()).constData(), 0500);
    const QString stuck = makeTake(temp.path());
    if (::access(QFile::encodeName(recordings()).constData(), W_OK) != 0) {
        EXPECT_EQ(store.keepRecording(stuck, QUuid::createUuid()), std::nullopt);
        EXPECT_TRUE(QFileInfo::exists(stuck));
    }
    ::chmod(QFile::encodeName(recordings()).constData(), 0700);
}

TEST_F(IncidentStoreTest, KeepRecordingWorksAcrossFileSystems)
{
    if (!QFileInfo(QStringLiteral("/dev/shm")).isWritable())
        GTEST_SKIP() << "no writable /dev/shm";
    QTemporaryDir shm(QStringLiteral("/dev/shm/zq-incident-XXXXXX"));
    ASSERT_TRUE(shm.isValid());
    struct stat a {
    }, b{};
    ::stat("/dev/shm", &a);
    ::stat(QFile::encodeName(dir.path()).constData(), &b);
    if (a.st_dev == b.st_dev)
        GTEST_SKIP() << "/dev/shm is on the same file system as the data folder";

    IncidentStore store(incidents());
    const QString take = makeTake(shm.path(), QByteArray(200000, 'w'));
    const DictationIncident made = fail(store, take);
    ASSERT_TRUE(made.recordingFilename);
    EXPECT_FALSE(QFileInfo::exists(take));
    EXPECT_EQ(QFileInfo(*store.recordingURL(made)).size(), 200000);
}

TEST_F(IncidentStoreTest, TamperedRecordingNamesNeverLeaveTheRecordingsFolder)
{
    const QString victim = dir.filePath(QStringLiteral("victim.txt"));
    {
        QFile f(victim);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("precious");
    }
    QDir().mkpath(recordings());
    QJsonArray array;
    for (const QString &name : {QStringLiteral("../../victim.txt"), victim, QStringLiteral(".."), QStringLiteral("")}) {
        DictationIncident i = incident(name);
        array.append(i.toJson());
    }
    QFile f(index());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QJsonDocument(array).toJson());
    f.close();

    QStringList revealed;
    IncidentStore store(incidents(), [&](const QString &path, RevealDone) { revealed << path; });
    ASSERT_EQ(store.items().size(), 4);
    for (const DictationIncident &i : store.items()) {
        EXPECT_EQ(store.recordingURL(i), std::nullopt) << qPrintable(*i.recordingFilename);
        store.revealRecording(i);
    }
    while (!store.items().isEmpty())
        store.remove(store.items().first());
    EXPECT_TRUE(revealed.isEmpty());
    EXPECT_TRUE(QFileInfo::exists(victim));
    EXPECT_TRUE(QFileInfo(recordings()).isDir());
}

TEST_F(IncidentStoreTest, UnreadableIndexIsKeptAsideWithItsRecordings)
{
    // Each damaged index names a recording with the store's own kind of name, so only the
    // kept-aside copy protects it from the start-up sweep of unnamed recordings.
    const QString name = StoreFile::uuidString(QUuid::createUuid()) + QStringLiteral(".wav");
    QJsonObject wrongType = incident(name).toJson();
    wrongType.insert(QStringLiteral("isRead"), QStringLiteral("yes"));
    const QList<QByteArray> damaged = {
        QByteArrayLiteral("\x00\x13not json at all"), QJsonDocument(QJsonArray{wrongType}).toJson(),
        QByteArray(), // a folder where the index belongs: it cannot be read at all
    };
    for (const QByteArray &bytes : damaged) {
        QDir(incidents()).removeRecursively();
        QDir().mkpath(recordings());
        const QString recording = recordings() + QLatin1Char('/') + name;
        ASSERT_TRUE(QFile(makeTake(temp.path())).rename(recording));
        if (bytes.isNull()) {
            ASSERT_TRUE(QDir().mkpath(index()));
        } else {
            QFile f(index());
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(bytes);
        }

        IncidentStore store(incidents());
        EXPECT_TRUE(store.items().isEmpty());
        EXPECT_EQ(QDir(incidents()).entryList({QStringLiteral("incidents.json.corrupt-*")}, QDir::AllEntries).size(), 1)
            << bytes.left(8).toHex().constData();
        EXPECT_TRUE(QFileInfo::exists(recording)) << "the kept-aside index still names it";
    }
}

TEST_F(IncidentStoreTest, RecordingsNoIncidentNamesAreRemovedAtStart)
{
    IncidentStore first(incidents());
    const DictationIncident kept = fail(first, makeTake(temp.path()));
    const QString orphan = recordings() + QStringLiteral("/00000000-0000-0000-0000-000000000001.wav");
    QFile(makeTake(temp.path())).rename(orphan);

    IncidentStore second(incidents());
    EXPECT_FALSE(QFileInfo::exists(orphan));
    EXPECT_TRUE(second.recordingURL(kept).has_value());
}

TEST_F(IncidentStoreTest, TheStartSweepRemovesOnlyItsOwnRecordingNamesAndNothingBeyondTheFolder)
{
    IncidentStore first(incidents());
    const DictationIncident kept = fail(first, makeTake(temp.path()));
    const QString orphan = recordings() + QStringLiteral("/00000000-0000-0000-0000-000000000002.wav");
    QFile(makeTake(temp.path())).rename(orphan);
    // Names the store never makes, a folder, and a link to a file outside: all stay.
    const QStringList foreign = {QStringLiteral("notes.txt"),
                                 QStringLiteral("00000000-0000-0000-0000-00000000000a.wav"),
                                 QStringLiteral("take.wav")};
    for (const QString &name : foreign)
        QFile(makeTake(temp.path())).rename(recordings() + QLatin1Char('/') + name);
    ASSERT_TRUE(QDir(recordings()).mkdir(QStringLiteral("00000000-0000-0000-0000-000000000003.wav")));
    const QString outside = makeTake(temp.path());
    const QString link = recordings() + QStringLiteral("/00000000-0000-0000-0000-000000000004.wav");
    ASSERT_TRUE(QFile::link(outside, link));

    IncidentStore second(incidents());
    EXPECT_FALSE(QFileInfo::exists(orphan));
    EXPECT_TRUE(second.recordingURL(kept).has_value());
    for (const QString &name : foreign)
        EXPECT_TRUE(QFileInfo::exists(recordings() + QLatin1Char('/') + name)) << name.toStdString();
    EXPECT_TRUE(QFileInfo(recordings() + QStringLiteral("/00000000-0000-0000-0000-000000000003.wav")).isDir());
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_TRUE(QFileInfo::exists(outside));
}

TEST_F(IncidentStoreTest, AFolderThatIsALinkIsLeftUntouched)
{
    // Recordings, and then the whole Incidents folder, pointing at a folder of someone else's files.
    for (const bool linkWholeFolder : {false, true}) {
        QTemporaryDir elsewhere;
        const QString foreignFile = elsewhere.filePath(QStringLiteral("00000000-0000-0000-0000-000000000001.wav"));
        QFile(makeTake(temp.path())).rename(foreignFile);
        QDir(incidents()).removeRecursively();
        if (linkWholeFolder) {
            ASSERT_TRUE(QDir().mkpath(elsewhere.filePath(QStringLiteral("Recordings"))));
            ASSERT_TRUE(QFile::link(elsewhere.path(), incidents()));
        } else {
            ASSERT_TRUE(QDir().mkpath(incidents()));
            ASSERT_TRUE(QFile::link(elsewhere.path(), recordings()));
        }

        IncidentStore store(incidents());
        EXPECT_TRUE(QFileInfo::exists(foreignFile)) << "linked whole folder: " << linkWholeFolder;
        const QString take = makeTake(temp.path());
        DictationIncident i = incident();
        EXPECT_EQ(store.keepRecording(take, i.id), std::nullopt) << "no recording is moved through a link";
        EXPECT_TRUE(QFileInfo::exists(take));
        store.insert(i);
        store.save();
        EXPECT_EQ(QDir(elsewhere.path()).entryList(QDir::Files).size(), 1) << "nothing is written through a link";
        QFile::remove(incidents());
        QFile::remove(recordings());
    }
}

TEST_F(IncidentStoreTest, FoldersAreMadePrivate)
{
    ASSERT_TRUE(QDir().mkpath(recordings()));
    ::chmod(QFile::encodeName(incidents()).constData(), 0755);
    ::chmod(QFile::encodeName(recordings()).constData(), 0755);
    IncidentStore store(incidents());
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(incidents()).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);
    ASSERT_EQ(::stat(QFile::encodeName(recordings()).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);
}

TEST_F(IncidentStoreTest, OneDamagedIncidentHidesNoOtherAndKeepsEveryRecording)
{
    ASSERT_TRUE(QDir().mkpath(recordings()));
    const DictationIncident good = incident(QStringLiteral("00000000-0000-0000-0000-000000000001.wav"));
    QJsonObject broken = incident(QStringLiteral("00000000-0000-0000-0000-000000000002.wav")).toJson();
    broken.insert(QStringLiteral("isRead"), QStringLiteral("yes"));
    for (const QString &name : {*good.recordingFilename, QStringLiteral("00000000-0000-0000-0000-000000000002.wav")})
        QFile(makeTake(temp.path())).rename(recordings() + QLatin1Char('/') + name);
    QFile f(index());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QJsonDocument(QJsonArray{good.toJson(), broken}).toJson());
    f.close();

    IncidentStore store(incidents());
    ASSERT_EQ(store.items().size(), 1);
    EXPECT_EQ(store.items().first().id, good.id);
    EXPECT_TRUE(store.recordingURL(good).has_value());
    EXPECT_EQ(QDir(incidents()).entryList({QStringLiteral("incidents.json.corrupt-*")}, QDir::Files).size(), 1);
    EXPECT_TRUE(QFileInfo::exists(recordings() + QStringLiteral("/00000000-0000-0000-0000-000000000002.wav")))
        << "the kept-aside file still names it";
    EXPECT_EQ(IncidentStore(incidents()).items().size(), 1) << "the good incident was written back";
}

TEST_F(IncidentStoreTest, ARecoveredIncidentStaysInTheFileUntilItsWordsAreSafe)
{
    std::function<void(bool)> wordsKept;
    const auto nextStartLists = [&] { return IncidentStore(incidents()).items().size(); };
    QString recording;
    {
        auto store = std::make_unique<IncidentStore>(incidents());
        const DictationIncident recovered = fail(*store, makeTake(temp.path()));
        recording = *store->recordingURL(recovered);
        wordsKept = store->removeOnceRecovered(recovered);
        EXPECT_TRUE(store->items().isEmpty());
        // Saves in between go on naming it, and the start-up sweep leaves its recording.
        fail(*store, std::nullopt);
        EXPECT_EQ(nextStartLists(), 2);
        EXPECT_TRUE(QFileInfo::exists(recording));

        wordsKept(false);
        EXPECT_EQ(nextStartLists(), 2);
        EXPECT_TRUE(QFileInfo::exists(recording));
    }
    // The words reach the disk once the store is gone, as at quit.
    wordsKept(true);
    EXPECT_EQ(nextStartLists(), 1);
    EXPECT_FALSE(QFileInfo::exists(recording));
}

TEST_F(IncidentStoreTest, ReadStateAndRemovalWriteOnlyWhenSomethingChanges)
{
    IncidentStore store(incidents());
    const DictationIncident a = fail(store, makeTake(temp.path()));
    fail(store, std::nullopt);
    EXPECT_TRUE(store.hasUnread());

    QFile::remove(index());
    store.markAllRead();
    EXPECT_FALSE(store.hasUnread());
    ASSERT_TRUE(QFileInfo::exists(index()));
    QFile::remove(index());
    store.markAllRead();
    EXPECT_FALSE(QFileInfo::exists(index())) << "nothing unread: nothing written";

    DictationIncident stranger = incident();
    store.remove(stranger);
    EXPECT_FALSE(QFileInfo::exists(index()));

    const QString recording = *store.recordingURL(a);
    store.remove(a);
    EXPECT_FALSE(QFileInfo::exists(recording));
    EXPECT_EQ(store.items().size(), 1);
    EXPECT_EQ(IncidentStore(incidents()).items().size(), 1);

    // A recording deleted behind the store's back: the incident stays, the URL goes.
    DictationIncident ghost = incident(QStringLiteral("ghost.wav"));
    EXPECT_EQ(store.recordingURL(ghost), std::nullopt);
}

} // namespace

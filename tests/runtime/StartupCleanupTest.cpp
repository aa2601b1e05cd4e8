#include "runtime/StartupCleanup.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <linux/capability.h>
#include <optional>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

using zq::rt::Paths;
using zq::rt::StartupCleanup;
using zq::test::writeFile;

namespace {

const QString kTake = QStringLiteral("zepaquarn-0F8E3A52-1C4B-4D6E-9A7F-2B3C4D5E6F70.wav");
const QString kUpload = QStringLiteral("zepaquarn-16k-0F8E3A52-1C4B-4D6E-9A7F-2B3C4D5E6F70.wav");

class StartupCleanupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(paths.ensureExists());
        ASSERT_TRUE(QDir().mkpath(paths.dataDir() + "/Incidents/Recordings"));
    }
    QString in(const QString &folder, const QString &name) const { return folder + QLatin1Char('/') + name; }

    QTemporaryDir root;
    Paths paths{root.filePath("data/ZEPAquarn"), root.filePath("state/ZEPAquarn"), root.filePath("config/ZEPAquarn"),
                root.filePath("run/ZEPAquarn-takes")};
};

TEST_F(StartupCleanupTest, RemovesInterruptedWritesAndEarlierTakesButNothingElseAndMakesTheRestPrivate)
{
    StartupCleanup cleanup(paths);
    QStringList stale;
    QStringList kept;
    for (const QString &folder : cleanup.foldersWithTemporaries()) {
        QDir().mkpath(folder);
        stale << in(folder, ".history.json.tmp-a1B2c3");
        kept << in(folder, "history.json") << in(folder, ".hidden") << in(folder, "notes.tmp-a1B2c3");
    }
    stale << in(paths.takeDir(), kTake) << in(paths.takeDir(), kUpload);
    kept << in(paths.takeDir(), "zepaquarn-not-a-uuid.wav") << in(paths.takeDir(), "other-app.wav")
         << in(paths.takeDir(), kTake.toLower());
    for (const QString &path : stale + kept) {
        writeFile(path, "x");
        // As a user's editor or copy may leave them: readable, even writable, by everyone.
        ::chmod(QFile::encodeName(path).constData(), 0666);
    }
    // A run killed while it recorded: audio after a header whose sizes were never written. It is the
    // user's recording and stays, for the application to keep.
    const QString killedTake = in(paths.takeDir(), "zepaquarn-1A2B3C4D-1C4B-4D6E-9A7F-2B3C4D5E6F70.wav");
    QByteArray wav = QByteArrayLiteral("RIFF\0\0\0\0WAVEfmt ");
    wav += QByteArray("\x10\0\0\0\x01\0\x01\0\x80\x3e\0\0\0\x7d\0\0\x02\0\x10\0", 20);
    wav += QByteArray("data\0\0\0\0", 8) + QByteArray(3200, '\x01');
    writeFile(killedTake, wav);
    kept << killedTake;
    // Its time is that of the recording, which the newest leftovers are chosen and dated by.
    const QDateTime recordedAt(QDate(2026, 3, 2), QTime(9, 7));
    QFile recording(killedTake);
    ASSERT_TRUE(recording.open(QIODevice::ReadWrite) &&
                recording.setFileTime(recordedAt, QFileDevice::FileModificationTime));
    recording.close();
    // One killed before any audio came: its header and nothing after it is no recording.
    const QString headerOnly = in(paths.takeDir(), "zepaquarn-2A2B3C4D-1C4B-4D6E-9A7F-2B3C4D5E6F70.wav");
    writeFile(headerOnly, wav.left(44));
    stale << headerOnly;
    // One this user may read but not write is kept as it is.
    const QString readOnlyTake = in(paths.takeDir(), "zepaquarn-3A2B3C4D-1C4B-4D6E-9A7F-2B3C4D5E6F70.wav");
    writeFile(readOnlyTake, wav);
    ::chmod(QFile::encodeName(readOnlyTake).constData(), 0400);
    // One it cannot open at all may hold a recording just as well: it stays where it is, unlisted.
    const QString unopenableTake = in(paths.takeDir(), "zepaquarn-4A2B3C4D-1C4B-4D6E-9A7F-2B3C4D5E6F70.wav");
    writeFile(unopenableTake, wav);
    ::chmod(QFile::encodeName(unopenableTake).constData(), 0);

    int removed = 0;
    // As the user runs it: root's right to write a read-only file goes with the thread's capabilities.
    std::thread([&] {
        __user_cap_header_struct capabilities{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct none[2]{};
        ASSERT_EQ(::syscall(SYS_capset, &capabilities, none), 0);
        removed = cleanup.run();
    }).join();
    EXPECT_EQ(removed, stale.size());
    QStringList leftovers = cleanup.leftoverTakes();
    leftovers.sort();
    EXPECT_EQ(leftovers, (QStringList{killedTake, readOnlyTake}));
    EXPECT_EQ(QFileInfo(killedTake).lastModified(), recordedAt);
    EXPECT_EQ(zq::test::readFile(readOnlyTake), wav);
    EXPECT_TRUE(QFileInfo::exists(unopenableTake)) << "no sign that it holds nothing";
    // The kept take's header holds the length of what it holds, for whatever reads it next.
    QFile killedFile(killedTake);
    ASSERT_TRUE(killedFile.open(QIODevice::ReadOnly));
    const QByteArray header = killedFile.read(44);
    EXPECT_EQ(qFromLittleEndian<quint32>(header.constData() + 4), quint32(wav.size() - 8));
    EXPECT_EQ(qFromLittleEndian<quint32>(header.constData() + 40), 3200u);
    for (const QString &path : stale)
        EXPECT_FALSE(QFileInfo::exists(path)) << path.toStdString();
    for (const QString &path : kept) {
        EXPECT_TRUE(QFileInfo::exists(path)) << path.toStdString();
        EXPECT_EQ(zq::test::modeOf(path), 0600u) << "private from the start: " << path.toStdString();
    }
}

TEST_F(StartupCleanupTest, TakesOfAnotherLiveInstanceSharingTheTakeFolderAreNeverTouched)
{
    // A first instance (on other data, same runtime folder) is running and recording.
    std::optional<StartupCleanup> live(std::in_place, paths);
    live->run();
    writeFile(in(paths.takeDir(), kTake), "live take");

    Paths otherData(root.filePath("other/ZEPAquarn"), paths.stateDir(), paths.configDir(), paths.takeDir());
    ASSERT_TRUE(otherData.ensureExists());
    {
        StartupCleanup second(otherData);
        second.run();
        EXPECT_TRUE(QFileInfo::exists(in(paths.takeDir(), kTake)));
    }

    // Once the live instance has gone, its leftover take is swept by the next start.
    live.reset();
    StartupCleanup next(otherData);
    next.run();
    EXPECT_FALSE(QFileInfo::exists(in(paths.takeDir(), kTake)));
}

TEST_F(StartupCleanupTest, AFolderThatIsALinkIsLeftUntouched)
{
    QTemporaryDir elsewhere;
    const QString recordings = paths.dataDir() + "/Incidents/Recordings";
    ASSERT_TRUE(QDir(recordings).removeRecursively());
    ASSERT_TRUE(QFile::link(elsewhere.path(), recordings));
    writeFile(elsewhere.filePath(".history.json.tmp-a1B2c3"), "theirs");

    StartupCleanup cleanup(paths);
    EXPECT_EQ(cleanup.run(), 0);
    EXPECT_TRUE(QFileInfo::exists(elsewhere.filePath(".history.json.tmp-a1B2c3")));

    // A link one level up: Incidents points elsewhere, so its Recordings is not ours either.
    QTemporaryDir elsewhereAbove;
    const QString incidents = paths.dataDir() + "/Incidents";
    ASSERT_TRUE(QFile::remove(recordings));
    ASSERT_TRUE(QDir(incidents).removeRecursively());
    ASSERT_TRUE(QDir(elsewhereAbove.path()).mkdir("Recordings"));
    ASSERT_TRUE(QFile::link(elsewhereAbove.path(), incidents));
    writeFile(elsewhereAbove.filePath("Recordings/.incidents.json.tmp-a1B2c3"), "theirs");
    StartupCleanup again(paths);
    EXPECT_EQ(again.run(), 0);
    EXPECT_TRUE(QFileInfo::exists(elsewhereAbove.filePath("Recordings/.incidents.json.tmp-a1B2c3")));
}

} // namespace

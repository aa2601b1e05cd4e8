#include "runtime/FileOps.h"
#include "support/LimitedChild.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using zq::rt::moveAside;
using zq::rt::moveFile;
using zq::rt::writeFileAtomically;
using zq::test::modeOf;
using zq::test::writeFile;

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

dev_t deviceOf(const QString &path)
{
    struct stat status {};
    ::stat(QFile::encodeName(path).constData(), &status);
    return status.st_dev;
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

// Lowers the largest file this process may write, so a write fails part-way (root ignores
// permissions, not this limit). Restored at the end of the scope.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_previousHandler);
    }

private:
    rlimit m_saved{};
    void (*m_previousHandler)(int) = nullptr;
};

} // namespace

TEST(FileOpsTest, AtomicWriteReplacesTheFileAndLeavesNoTemporaryBehind)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("history.json");

    ASSERT_TRUE(writeFileAtomically(path, "first"));
    EXPECT_EQ(modeOf(path), 0600u) << "a new file holds user data and is private";
    ASSERT_TRUE(writeFileAtomically(path, "second, longer"));
    ASSERT_TRUE(writeFileAtomically(dir.filePath("empty.json"), QByteArray()));

    EXPECT_EQ(readAll(path), "second, longer");
    EXPECT_EQ(readAll(dir.filePath("empty.json")), "");
    EXPECT_EQ(entries(dir.path()), (QStringList{"empty.json", "history.json"}));
}

TEST(FileOpsTest, AtomicRewriteIsPrivateAndReplacesALinkInsteadOfWritingThroughIt)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("shared.txt");
    writeFile(path, "old");
    ::chmod(QFile::encodeName(path).constData(), 0644);
    ASSERT_TRUE(writeFileAtomically(path, "new"));
    EXPECT_EQ(modeOf(path), 0600u) << "a rewritten file is private too";
    const QString program = dir.filePath("program");
    writeFile(program, "old");
    ::chmod(QFile::encodeName(program).constData(), 0755);
    ASSERT_TRUE(writeFileAtomically(program, "new"));
    EXPECT_EQ(modeOf(program), 0700u) << "what the owner may do stays";

    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath("target.txt");
    writeFile(target, "theirs");
    ::chmod(QFile::encodeName(target).constData(), 0666);
    const QString link = dir.filePath("linked.json");
    ASSERT_TRUE(QFile::link(target, link));
    ASSERT_TRUE(writeFileAtomically(link, "ours"));
    EXPECT_EQ(readAll(target), "theirs");
    EXPECT_FALSE(QFileInfo(link).isSymLink());
    EXPECT_EQ(readAll(link), "ours");
    EXPECT_EQ(modeOf(link), 0600u) << "not the mode of the link's target";
}

TEST(FileOpsTest, TemporaryNamesAreRecognisedExactly)
{
    using zq::rt::isAtomicWriteTemporary;
    EXPECT_TRUE(isAtomicWriteTemporary(".history.json.tmp-Ab12Zx"));
    EXPECT_TRUE(isAtomicWriteTemporary(".0A1B.wav.tmp-000000"));
    for (const char *name : {"history.json.tmp-Ab12Zx", ".history.json.tmp-Ab12Z", ".history.json.tmp-Ab12Zxy",
                             ".history.json.tmp-Ab-2Zx", "..tmp-abcdef", ".history.json", ".tmp-abcdef"})
        EXPECT_FALSE(isAtomicWriteTemporary(QString::fromLatin1(name))) << name;

    // What the writer really leaves behind when it is cut short matches.
    QTemporaryDir dir;
    {
        FileSizeLimit limit(4);
        EXPECT_FALSE(writeFileAtomically(dir.filePath("big.json"), QByteArray(64, 'x')));
    }
    EXPECT_TRUE(entries(dir.path()).isEmpty()) << "a failed write cleans up after itself";
    QByteArray pattern = QFile::encodeName(dir.filePath(".big.json.tmp-XXXXXX"));
    const int made = ::mkstemp(pattern.data());
    ASSERT_GE(made, 0);
    ::close(made);
    EXPECT_TRUE(isAtomicWriteTemporary(QFileInfo(QFile::decodeName(pattern)).fileName()));
}

TEST(FileOpsTest, RemovingFilesTouchesOnlyRegularFilesOfARealFolder)
{
    using zq::rt::removeFilesIn;
    QTemporaryDir dir;
    QTemporaryDir elsewhere;
    writeFile(dir.filePath("a.tmp"), "1");
    writeFile(dir.filePath("b.tmp"), "2");
    writeFile(dir.filePath("keep.txt"), "3");
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.tmp"));
    writeFile(dir.filePath("folder.tmp/inner.tmp"), "4");
    writeFile(elsewhere.filePath("theirs.tmp"), "5");
    ASSERT_TRUE(QFile::link(elsewhere.filePath("theirs.tmp"), dir.filePath("link.tmp")));

    const auto endsInTmp = [](const QString &name) { return name.endsWith(".tmp"); };
    const auto removed = removeFilesIn(dir.path(), endsInTmp);
    ASSERT_TRUE(removed) << removed.error().message.toStdString();
    EXPECT_EQ(removed.value(), 2);
    EXPECT_EQ(entries(dir.path()), (QStringList{"folder.tmp", "keep.txt", "link.tmp"}));
    EXPECT_TRUE(QFileInfo::exists(dir.filePath("folder.tmp/inner.tmp"))) << "nothing below the folder";
    EXPECT_TRUE(QFileInfo::exists(elsewhere.filePath("theirs.tmp")));

    // A folder that is a link to another is refused whole.
    ASSERT_TRUE(QFile::link(elsewhere.path(), dir.filePath("linked")));
    const auto refused = removeFilesIn(dir.filePath("linked"), endsInTmp);
    ASSERT_FALSE(refused);
    EXPECT_TRUE(refused.error().message.contains("linked"));
    EXPECT_TRUE(QFileInfo::exists(elsewhere.filePath("theirs.tmp")));
    // So is a real folder reached through a link at a level below the given root.
    ASSERT_TRUE(QDir(elsewhere.path()).mkdir("inner"));
    writeFile(elsewhere.filePath("inner/theirs.tmp"), "6");
    const auto below = removeFilesIn(dir.filePath("linked/inner"), endsInTmp, dir.path());
    ASSERT_FALSE(below);
    EXPECT_TRUE(below.error().message.contains("not a real folder"));
    EXPECT_TRUE(QFileInfo::exists(elsewhere.filePath("inner/theirs.tmp")));
    writeFile(dir.filePath("folder.tmp/inner.tmp"), "7");
    EXPECT_EQ(removeFilesIn(dir.filePath("folder.tmp"), endsInTmp, dir.path()).value(), 1) << "real levels pass";

    const auto missing = removeFilesIn(dir.filePath("absent"), endsInTmp);
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().code, ENOENT);
}

TEST(FileOpsTest, FailedAtomicWriteLeavesTheOldFileIntact)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("stats.json");
    writeFile(path, "old content");

    zq::rt::Result<void> result;
    {
        FileSizeLimit limit(4096);
        result = writeFileAtomically(path, QByteArray(256 * 1024, 'x'));
    }
    ASSERT_FALSE(result);
    EXPECT_FALSE(result.error().message.isEmpty());
    EXPECT_EQ(readAll(path), "old content");
    EXPECT_EQ(entries(dir.path()), QStringList{"stats.json"}) << "the temporary file is removed";
}

TEST(FileOpsTest, AtomicWriteIntoAFolderThatCannotExistFails)
{
    QTemporaryDir dir;
    writeFile(dir.filePath("plain-file"), "x");

    const auto result = writeFileAtomically(dir.filePath("plain-file/settings.json"), "data");
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().code, ENOTDIR);
    EXPECT_TRUE(result.error().message.contains("settings.json")) << result.error().message.toStdString();
    EXPECT_EQ(readAll(dir.filePath("plain-file")), "x");
}

TEST(FileOpsTest, MoveWithinOneFileSystemRenames)
{
    QTemporaryDir dir;
    writeFile(dir.filePath("take.wav"), "RIFF");
    QDir(dir.path()).mkdir("Recordings");

    ASSERT_TRUE(moveFile(dir.filePath("take.wav"), dir.filePath("Recordings/id.wav")));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("take.wav")));
    EXPECT_EQ(readAll(dir.filePath("Recordings/id.wav")), "RIFF");

    const auto missing = moveFile(dir.filePath("take.wav"), dir.filePath("again.wav"));
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().code, ENOENT);
}

TEST(FileOpsTest, MoveAcrossFileSystemsCopiesThenDeletesTheSource)
{
    QTemporaryDir target;
    if (!QFileInfo(QStringLiteral("/dev/shm")).isDir())
        GTEST_SKIP() << "no /dev/shm to stand for a second file system";
    QTemporaryDir source(QStringLiteral("/dev/shm/zq-fileops-XXXXXX"));
    ASSERT_TRUE(source.isValid());
    if (deviceOf(source.path()) == deviceOf(target.path()))
        GTEST_SKIP() << "/dev/shm and the temp folder are one file system here";

    QByteArray audio(300 * 1024, '\0');
    for (int i = 0; i < audio.size(); ++i)
        audio[i] = char(i * 7);
    writeFile(source.filePath("take.wav"), audio);
    ::chmod(QFile::encodeName(source.filePath("take.wav")).constData(), 0640);

    ASSERT_TRUE(moveFile(source.filePath("take.wav"), target.filePath("kept.wav")));
    EXPECT_FALSE(QFileInfo::exists(source.filePath("take.wav")));
    EXPECT_EQ(readAll(target.filePath("kept.wav")), audio);
    EXPECT_EQ(modeOf(target.filePath("kept.wav")), 0640u);
    EXPECT_EQ(entries(target.path()), QStringList{"kept.wav"}) << "no temporary left at the destination";

    // A destination that cannot be written keeps the source where it was.
    writeFile(source.filePath("second.wav"), "data");
    writeFile(target.filePath("not-a-folder"), "x");
    ASSERT_FALSE(moveFile(source.filePath("second.wav"), target.filePath("not-a-folder/second.wav")));
    EXPECT_EQ(readAll(source.filePath("second.wav")), "data");
}

TEST(FileOpsTest, MoveAsideKeepsEveryEarlierCopy)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("incidents.json");
    const QDateTime when(QDate(2025, 3, 9), QTime(14, 5, 7));

    writeFile(path, "first broken");
    const auto first = moveAside(path, "test", when);
    ASSERT_TRUE(first);
    EXPECT_EQ(first.value(), path + ".corrupt-20250309-140507");

    writeFile(path, "second broken");
    const auto second = moveAside(path, "test", when);
    ASSERT_TRUE(second);
    EXPECT_EQ(second.value(), path + ".corrupt-20250309-140507-2");

    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_EQ(readAll(first.value()), "first broken");
    EXPECT_EQ(readAll(second.value()), "second broken");

    EXPECT_FALSE(moveAside(path, "gone", when)) << "nothing to move is an error, not an empty copy";
}

TEST(FileOpsTest, ReadingAnOwnFileRefusesWhatTheApplicationNeverWritesWithoutWaitingOrFillingMemory)
{
    QTemporaryDir dir;
    const QString regular = dir.filePath("regular.json");
    writeFile(regular, "{\"a\":1}");
    writeFile(dir.filePath("at-bound.json"), QByteArray(64, 'x'));
    writeFile(dir.filePath("over-bound.json"), QByteArray(65, 'x'));
    ASSERT_TRUE(QFile::link(regular, dir.filePath("link-to-file.json")));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), dir.filePath("link-to-zero.json")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.filePath("fifo.json")).constData(), 0600), 0);
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.json"));

    // The child's exit code is 0 for a read that returned the file's bytes, else the errno given.
    const struct {
        const char *name;
        int code;
    } cases[] = {
        {"regular.json", 0},        {"at-bound.json", 0},         {"missing.json", ENOENT},
        {"over-bound.json", EFBIG}, {"link-to-file.json", ELOOP}, {"link-to-zero.json", ELOOP},
        {"fifo.json", EINVAL},      {"folder.json", EINVAL},
    };
    for (const auto &c : cases) {
        const QString path = dir.filePath(QLatin1String(c.name));
        const auto run = zq::test::runLimited(
            [&] {
                const auto read = zq::rt::readOwnFile(path, 64);
                if (!read)
                    return read.error().message.contains(QFileInfo(path).fileName()) ? read.error().code : 100;
                return read.value() == readAll(path) ? 0 : 101;
            },
            256LL << 20, std::chrono::milliseconds(5000));
        EXPECT_TRUE(run.exitedWith(c.code)) << c.name << ": " << run.describe();
    }
    EXPECT_EQ(readAll(regular), "{\"a\":1}") << "the link's target is untouched";
}

TEST(FileOpsTest, MakingFilesPrivateChangesOnlyRegularFilesOfTheFolderItself)
{
    QTemporaryDir dir;
    QTemporaryDir elsewhere;
    const QString theirs = elsewhere.filePath("theirs.json");
    writeFile(theirs, "x");
    ASSERT_EQ(::chmod(QFile::encodeName(theirs).constData(), 0666), 0);
    const struct {
        const char *name;
        mode_t before;
        mode_t after;
    } files[] = {{"settings.json", 0666, 0600}, {"run", 0755, 0700}, {"history.json", 0600, 0600}};
    for (const auto &f : files) {
        writeFile(dir.filePath(f.name), "x");
        ASSERT_EQ(::chmod(QFile::encodeName(dir.filePath(f.name)).constData(), f.before), 0);
    }
    ASSERT_TRUE(QFile::link(theirs, dir.filePath("link.json")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.filePath("fifo")).constData(), 0666), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(dir.filePath("fifo")).constData(), 0666), 0);

    const auto changed = zq::rt::makeFilesPrivateIn(dir.path());
    ASSERT_TRUE(changed) << changed.error().message.toStdString();
    EXPECT_EQ(changed.value(), 2);
    for (const auto &f : files)
        EXPECT_EQ(modeOf(dir.filePath(f.name)), f.after) << f.name;
    EXPECT_EQ(modeOf(theirs), 0666u) << "a link's target is not ours to change";
    EXPECT_EQ(modeOf(dir.filePath("fifo")), 0666u) << "only regular files";

    ASSERT_TRUE(QFile::link(elsewhere.path(), dir.filePath("linked-folder")));
    EXPECT_FALSE(zq::rt::makeFilesPrivateIn(dir.filePath("linked-folder"))) << "a linked folder is refused";
    EXPECT_EQ(modeOf(theirs), 0666u);
}

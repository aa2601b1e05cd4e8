#include "runtime/StartupCleanup.h"

#include "runtime/FileOps.h"
#include "runtime/Log.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zq::rt {

namespace {

// Locks the take folder, retrying when a signal interrupts; false when another holder is in the way.
bool lockTakeFolder(int fd, int operation)
{
    int result;
    do {
        result = ::flock(fd, operation);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

int removeFrom(const QString &folder, const QString &root, const std::function<bool(const QString &)> &shouldRemove,
               const char *what)
{
    auto removed = removeFilesIn(folder, shouldRemove, root);
    if (!removed) {
        // A folder not made yet has nothing to sweep.
        if (removed.error().code != ENOENT)
            qCWarning(lcRuntime).noquote() << "start-up cleanup: left alone:" << removed.error().message;
        return 0;
    }
    if (removed.value() > 0)
        qCInfo(lcRuntime).noquote() << "start-up cleanup: removed" << removed.value() << what << "in" << folder;
    return removed.value();
}

void putLittleEndian32(char *at, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        at[i] = char(quint8(value >> (8 * i)));
}

// Bytes of audio in the WAV file `name` of `dir` (past its "data" chunk's header); 0 for a file
// that is not a regular file, holds no audio or is not a WAV file at all; -1 for one that cannot be
// read, which is no sign that it holds nothing. A file with audio gets the RIFF and "data" sizes of
// what it holds: a run that was killed never wrote the final ones, and a reader that trusts them (an
// upload of the kept recording) would find it empty. Its time stays that of the recording, as the
// newest leftovers are chosen and dated by it; one that cannot be written keeps its header.
qint64 completeTakeFile(int dir, const QString &name)
{
    const QByteArray entry = QFile::encodeName(name);
    constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int fd = ::openat(dir, entry.constData(), O_RDWR | kFlags);
    const bool writable = fd >= 0;
    if (!writable)
        fd = ::openat(dir, entry.constData(), O_RDONLY | kFlags);
    if (fd < 0) {
        qCWarning(lcRuntime).noquote() << "start-up cleanup:" << name << "left as it is:" << qt_error_string(errno);
        return -1;
    }
    struct stat info {};
    char header[4096];
    ssize_t got = -1;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        do {
            got = ::read(fd, header, sizeof header);
        } while (got < 0 && errno == EINTR);
    }
    qint64 audio = 0;
    qint64 dataAt = -1;
    if (got >= 12 && std::memcmp(header, "RIFF", 4) == 0 && std::memcmp(header + 8, "WAVE", 4) == 0) {
        // Only the place of the audio counts, not the chunks' sizes in the header.
        for (qint64 at = 12; at + 8 <= got;) {
            const auto byte = [&](qint64 i) { return quint32(quint8(header[at + i])); };
            const quint32 size = byte(4) | byte(5) << 8 | byte(6) << 16 | byte(7) << 24;
            if (std::memcmp(header + at, "data", 4) == 0) {
                dataAt = at;
                audio = std::max<qint64>(0, info.st_size - (at + 8));
                break;
            }
            at += 8 + qint64(size) + (size & 1);
        }
    }
    if (audio > 0 && !writable)
        qCWarning(lcRuntime).noquote() << "start-up cleanup:" << name << "kept without its sizes: it cannot be written";
    if (audio > 0 && writable) {
        const auto clamped = [](qint64 bytes) { return quint32(std::min<qint64>(bytes, 0xFFFFFFFF)); };
        char size[4];
        putLittleEndian32(size, clamped(info.st_size - 8));
        bool written = ::pwrite(fd, size, 4, 4) == 4;
        putLittleEndian32(size, clamped(audio));
        written = ::pwrite(fd, size, 4, dataAt + 4) == 4 && written;
        if (!written)
            qCWarning(lcRuntime).noquote()
                << "start-up cleanup: sizes of" << name << "not written:" << qt_error_string(errno);
        const struct timespec times[2] = {{0, UTIME_OMIT}, info.st_mtim};
        if (::futimens(fd, times) != 0)
            qCWarning(lcRuntime).noquote()
                << "start-up cleanup: time of" << name << "not kept:" << qt_error_string(errno);
    }
    ::close(fd);
    return audio;
}

void makePrivate(const QString &folder, const QString &root)
{
    auto changed = makeFilesPrivateIn(folder, root);
    // A folder that is missing or not ours was already logged by the sweep.
    if (changed && changed.value() > 0)
        qCInfo(lcRuntime).noquote() << "start-up cleanup: made" << changed.value() << "file(s) private in" << folder;
}

} // namespace

StartupCleanup::StartupCleanup(Paths paths) : m_paths(std::move(paths)) {}

StartupCleanup::~StartupCleanup()
{
    if (m_takeFolderLock >= 0)
        ::close(m_takeFolderLock);
}

bool StartupCleanup::isTakeFileName(const QString &name)
{
    // The audio engine names its takes, and the OpenAI engine its upload copies, this way.
    static const QRegularExpression pattern(
        QStringLiteral("^zepaquarn-(16k-)?[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.wav$"));
    return pattern.match(name).hasMatch();
}

std::optional<QUuid> StartupCleanup::takeID(const QString &takeFile)
{
    const QString name = QFileInfo(takeFile).fileName();
    if (!isTakeFileName(name) || name.startsWith(QLatin1String("zepaquarn-16k-")))
        return std::nullopt;
    return QUuid::fromString(QStringView(name).sliced(10, 36));
}

QStringList StartupCleanup::foldersWithTemporaries() const
{
    const QString incidents = m_paths.dataDir() + QLatin1String("/Incidents");
    return {m_paths.dataDir(),
            incidents,
            incidents + QLatin1String("/Recordings"),
            m_paths.stateDir(),
            m_paths.stateDir() + QLatin1String("/CrashReports"),
            m_paths.configDir()};
}

int StartupCleanup::run()
{
    int removed = 0;
    for (const QString &folder : foldersWithTemporaries()) {
        // Below its top folder, no level may be a link: a linked Incidents is not ours to sweep.
        QString root;
        for (const QString &top : {m_paths.dataDir(), m_paths.stateDir(), m_paths.configDir()}) {
            if (folder.startsWith(top + QLatin1Char('/')))
                root = top;
        }
        removed += removeFrom(folder, root, isAtomicWriteTemporary, "interrupted write(s)");
        makePrivate(folder, root);
    }
    removed += sweepTakeFolder();
    makePrivate(m_paths.takeDir(), {});
    return removed;
}

int StartupCleanup::sweepTakeFolder()
{
    if (m_takeFolderLock >= 0)
        return 0;
    const QByteArray lockPath = QFile::encodeName(m_paths.takeDir() + QLatin1String("/.instances.lock"));
    const int fd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        qCWarning(lcRuntime) << "start-up cleanup: take folder not swept:" << qt_error_string(errno);
        return 0;
    }
    m_takeFolderLock = fd;

    int removed = 0;
    if (lockTakeFolder(fd, LOCK_EX | LOCK_NB)) {
        // A take with audio is a recording the user made and nothing else holds: it stays for the
        // caller to keep. Upload copies and takes that never got audio go.
        const QString folder = m_paths.takeDir();
        const int dir = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        removed = removeFrom(
            folder, {},
            [&](const QString &name) {
                // A folder that cannot be looked into keeps everything.
                if (!isTakeFileName(name) || dir < 0)
                    return false;
                if (name.startsWith(QLatin1String("zepaquarn-16k-")))
                    return true;
                const qint64 audio = completeTakeFile(dir, name);
                if (audio > 0)
                    m_leftoverTakes.append(folder + QLatin1Char('/') + name);
                return audio == 0;
            },
            "take file(s) of earlier runs without audio");
        if (dir >= 0)
            ::close(dir);
    } else
        qCInfo(lcRuntime) << "start-up cleanup: another instance uses the take folder; its takes are left alone";
    // From now on this instance is one of the take folder's users.
    if (!lockTakeFolder(fd, LOCK_SH))
        qCWarning(lcRuntime) << "start-up cleanup: take folder not locked:" << qt_error_string(errno);
    return removed;
}

} // namespace zq::rt

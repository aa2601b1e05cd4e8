#include "runtime/FileOps.h"

#include "runtime/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace zq::rt {

namespace {

Error posixError(const QString &what, const QString &path, int err)
{
    return makeError(QStringLiteral("%1 “%2”: %3").arg(what, QFileInfo(path).fileName(), qt_error_string(err)),
                     QStringLiteral("posix"), err);
}

// Closes a descriptor once, on every path out of a function.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;

    int get() const { return m_fd; }
    bool isValid() const { return m_fd >= 0; }
    // Closes now and reports the result: a close can be the first place a write error shows.
    int close()
    {
        const int result = ::close(m_fd);
        m_fd = -1;
        return result;
    }
    void adopt(int fd)
    {
        reset();
        m_fd = fd;
    }
    void reset()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    // Hands the descriptor over to the caller.
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

} // namespace

bool writeAll(int fd, const char *data, qsizetype size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(size));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

namespace {

void syncFolder(const QString &folder)
{
    FileDescriptor fd(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // Some file systems refuse fsync on folders; the rename itself already happened.
    if (fd.isValid() && ::fsync(fd.get()) != 0 && errno != EINVAL)
        qCWarning(lcRuntime) << "could not flush folder" << folder << qt_error_string(errno);
}

QString folderOf(const QString &path)
{
    return QFileInfo(path).absolutePath();
}

// A temporary file next to `target` (same folder, so the final rename stays on one file system).
struct TemporaryFile {
    QByteArray path;
    FileDescriptor fd;
};

Result<void> openTemporaryNextTo(const QString &target, TemporaryFile &temporary)
{
    const QFileInfo info(target);
    temporary.path =
        QFile::encodeName(info.absolutePath() + QLatin1String("/.") + info.fileName() + QLatin1String(".tmp-XXXXXX"));
    const int fd = ::mkstemp(temporary.path.data());
    if (fd < 0)
        return posixError(QStringLiteral("Could not create a temporary file for"), target, errno);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    temporary.fd.adopt(fd);
    return {};
}

// Flushes, closes and renames the temporary over `target`; removes the temporary on any failure.
Result<void> commitTemporary(TemporaryFile &temporary, const QString &target)
{
    const QByteArray targetName = QFile::encodeName(target);
    if (::fsync(temporary.fd.get()) != 0 || temporary.fd.close() != 0 ||
        ::rename(temporary.path.constData(), targetName.constData()) != 0) {
        const int err = errno;
        temporary.fd.reset();
        ::unlink(temporary.path.constData());
        return posixError(QStringLiteral("Could not write"), target, err);
    }
    syncFolder(folderOf(target));
    return {};
}

Result<void> copyAcrossFileSystems(const QString &from, const QString &to)
{
    FileDescriptor source(::open(QFile::encodeName(from).constData(), O_RDONLY | O_CLOEXEC));
    struct stat sourceInfo {};
    if (!source.isValid() || ::fstat(source.get(), &sourceInfo) != 0)
        return posixError(QStringLiteral("Could not read"), from, errno);

    TemporaryFile temporary;
    if (auto opened = openTemporaryNextTo(to, temporary); !opened)
        return opened;
    // A move keeps the file's mode, as a rename on one file system does.
    ::fchmod(temporary.fd.get(), sourceInfo.st_mode & 07777);

    char buffer[64 * 1024];
    for (;;) {
        const ssize_t count = ::read(source.get(), buffer, sizeof buffer);
        if (count == 0)
            break;
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 || !writeAll(temporary.fd.get(), buffer, count)) {
            const int err = errno;
            temporary.fd.reset();
            ::unlink(temporary.path.constData());
            return posixError(count < 0 ? QStringLiteral("Could not read") : QStringLiteral("Could not write"),
                              count < 0 ? from : to, err);
        }
    }
    return commitTemporary(temporary, to);
}

} // namespace

Result<void> writeFileAtomically(const QString &path, const QByteArray &data)
{
    TemporaryFile temporary;
    if (auto opened = openTemporaryNextTo(path, temporary); !opened)
        return opened;

    // mkstemp made it 0600. A file it replaces keeps what its owner may do (an executable stays
    // executable) but nothing for anyone else; a link in its place lends it nothing of its target.
    struct stat existing {};
    if (::lstat(QFile::encodeName(path).constData(), &existing) == 0 && S_ISREG(existing.st_mode))
        ::fchmod(temporary.fd.get(), existing.st_mode & 0700);

    if (!writeAll(temporary.fd.get(), data.constData(), data.size())) {
        const int err = errno;
        temporary.fd.reset();
        ::unlink(temporary.path.constData());
        return posixError(QStringLiteral("Could not write"), path, err);
    }
    return commitTemporary(temporary, path);
}

bool isAtomicWriteTemporary(const QString &name)
{
    // "." + at least one character of the target + ".tmp-" + the six characters mkstemp fills in.
    static const QLatin1String marker(".tmp-");
    if (name.size() < 1 + 1 + marker.size() + 6 || !name.startsWith(QLatin1Char('.')))
        return false;
    const qsizetype at = name.size() - 6 - marker.size();
    if (QStringView(name).mid(at, marker.size()) != marker)
        return false;
    for (const QChar c : QStringView(name).last(6)) {
        if (!(c.isDigit() || (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
              (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))))
            return false;
    }
    return true;
}

namespace {

// Opens `folder` without following a link at its last level, nor at any level below `root`.
// A descriptor, or -1 with errno set.
int openRealFolder(const QString &folder, const QString &root)
{
    constexpr int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    const QString base = root.isEmpty() ? QString() : QDir::cleanPath(root);
    const QString target = QDir::cleanPath(folder);
    if (base.isEmpty() || !target.startsWith(base + QLatin1Char('/')))
        return ::open(QFile::encodeName(folder).constData(), flags);
    FileDescriptor current(::open(QFile::encodeName(base).constData(), flags));
    const QStringList levels = target.mid(base.size() + 1).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &level : levels) {
        if (!current.isValid())
            return -1;
        const int next = ::openat(current.get(), QFile::encodeName(level).constData(), flags);
        const int err = errno;
        current.adopt(next);
        errno = err;
    }
    return current.release();
}

// Opens `folder` for work relative to it, so a name swapped for a link in between cannot redirect
// anything elsewhere: a descriptor of a real folder of this user, or the reason it is not one.
Result<int> openOwnFolder(const QString &folder, const QString &root)
{
    FileDescriptor dir(openRealFolder(folder, root));
    if (!dir.isValid()) {
        const int err = errno;
        if (err == ELOOP || err == ENOTDIR)
            return makeError(QStringLiteral("“%1” is not a real folder.").arg(folder), QStringLiteral("posix"), err);
        return posixError(QStringLiteral("Could not open the folder"), folder, err);
    }
    struct stat folderInfo {};
    if (::fstat(dir.get(), &folderInfo) != 0)
        return posixError(QStringLiteral("Could not open the folder"), folder, errno);
    if (folderInfo.st_uid != ::geteuid())
        return makeError(QStringLiteral("“%1” belongs to another user.").arg(folder), QStringLiteral("posix"), EPERM);
    return dir.release();
}

// The names in the folder open as `dir` ("." and ".." left out), listed before anything changes it.
Result<QStringList> namesIn(int dir, const QString &folder)
{
    // fdopendir takes its descriptor over; the folder's own stays open for the changes.
    const int listFd = ::fcntl(dir, F_DUPFD_CLOEXEC, 0);
    DIR *listing = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (!listing) {
        const int err = errno;
        if (listFd >= 0)
            ::close(listFd);
        return posixError(QStringLiteral("Could not list the folder"), folder, err);
    }
    QStringList names;
    while (const dirent *entry = ::readdir(listing)) {
        const QString name = QFile::decodeName(entry->d_name);
        if (name != QLatin1String(".") && name != QLatin1String(".."))
            names.append(name);
    }
    ::closedir(listing);
    return names;
}

// Opens `folder` as openOwnFolder() does and hands each name in it to `handle` with the folder's
// descriptor; returns how many it handled (it returns true for those).
Result<int> countHandledIn(const QString &folder, const QString &root,
                           const std::function<bool(int dir, const QString &name)> &handle)
{
    auto opened = openOwnFolder(folder, root);
    if (!opened)
        return opened.error();
    FileDescriptor dir(opened.value());
    const auto names = namesIn(dir.get(), folder);
    if (!names)
        return names.error();

    int handled = 0;
    for (const QString &name : names.value())
        if (handle(dir.get(), name))
            ++handled;
    return handled;
}

} // namespace

Result<QByteArray> readOwnFile(const QString &path, qint64 mostBytes)
{
    const auto notRegular = [&path] {
        return makeError(QStringLiteral("“%1” is not a regular file.").arg(QFileInfo(path).fileName()),
                         QStringLiteral("posix"), EINVAL);
    };
    const auto isLink = [&path] {
        return makeError(QStringLiteral("“%1” is a link, and links in place of the application's own files are not "
                                        "followed.")
                             .arg(QFileInfo(path).fileName()),
                         QStringLiteral("posix"), ELOOP);
    };
    const QByteArray name = QFile::encodeName(path);
    // Looked at before it is opened: opening a FIFO or a device can block or have effects of its own.
    struct stat entry {};
    if (::lstat(name.constData(), &entry) != 0) {
        // Below something that is not a folder, no file can be: as missing as one never written.
        return posixError(QStringLiteral("Could not read"), path, errno == ENOTDIR ? ENOENT : errno);
    }
    if (S_ISLNK(entry.st_mode))
        return isLink();
    if (!S_ISREG(entry.st_mode))
        return notRegular();

    // The same checks on what was opened, in case the name changed in between: no link followed,
    // no wait for a FIFO's writer.
    FileDescriptor fd(::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.isValid()) {
        const int err = errno;
        return err == ELOOP ? isLink() : posixError(QStringLiteral("Could not read"), path, err);
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0)
        return posixError(QStringLiteral("Could not read"), path, errno);
    if (!S_ISREG(info.st_mode))
        return notRegular();
    const auto tooLarge = [&path, mostBytes] {
        return makeError(QStringLiteral("“%1” is larger than the %2 bytes it can hold.")
                             .arg(QFileInfo(path).fileName())
                             .arg(mostBytes),
                         QStringLiteral("posix"), EFBIG);
    };
    if (info.st_size > mostBytes)
        return tooLarge();

    // Read to the end rather than to the size seen: the file may still grow, but never past the bound.
    QByteArray bytes;
    bytes.reserve(static_cast<qsizetype>(info.st_size));
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
        if (count == 0)
            break;
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return posixError(QStringLiteral("Could not read"), path, errno);
        }
        if (bytes.size() + count > mostBytes)
            return tooLarge();
        bytes.append(buffer, count);
    }
    return bytes;
}

Result<int> removeFilesIn(const QString &folder, const std::function<bool(const QString &name)> &shouldRemove,
                          const QString &root)
{
    return countHandledIn(folder, root, [&](int dir, const QString &name) {
        if (!shouldRemove(name))
            return false;
        const QByteArray entryName = QFile::encodeName(name);
        struct stat info {};
        if (::fstatat(dir, entryName.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode))
            return false;
        if (::unlinkat(dir, entryName.constData(), 0) == 0)
            return true;
        qCWarning(lcRuntime) << "could not remove" << name << "from" << folder << qt_error_string(errno);
        return false;
    });
}

Result<int> makeFilesPrivateIn(const QString &folder, const QString &root)
{
    return countHandledIn(folder, root, [&](int dir, const QString &name) {
        const QByteArray entryName = QFile::encodeName(name);
        struct stat info {};
        if (::fstatat(dir, entryName.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode) ||
            info.st_uid != ::geteuid() || (info.st_mode & 077) == 0)
            return false;
        // Changed through a descriptor of the file itself: a name swapped for a link is not followed.
        FileDescriptor file(
            ::openat(dir, entryName.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        if (!file.isValid() || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode))
            return false;
        if (::fchmod(file.get(), info.st_mode & 0700) == 0)
            return true;
        qCWarning(lcRuntime) << "could not make" << name << "in" << folder << "private" << qt_error_string(errno);
        return false;
    });
}

Result<void> moveFile(const QString &from, const QString &to)
{
    const QByteArray fromName = QFile::encodeName(from);
    if (::rename(fromName.constData(), QFile::encodeName(to).constData()) == 0) {
        syncFolder(folderOf(to));
        return {};
    }
    if (errno != EXDEV)
        return posixError(QStringLiteral("Could not move"), from, errno);

    if (auto copied = copyAcrossFileSystems(from, to); !copied)
        return copied;
    if (::unlink(fromName.constData()) != 0) {
        // Keep the move all-or-nothing: a caller that sees a failure must still find the source alone.
        const int err = errno;
        ::unlink(QFile::encodeName(to).constData());
        return posixError(QStringLiteral("Could not remove the original of"), from, err);
    }
    syncFolder(folderOf(from));
    return {};
}

Result<QString> moveAside(const QString &path, const QString &reason, const QDateTime &when)
{
    const QDateTime stamp = when.isValid() ? when.toLocalTime() : QDateTime::currentDateTime();
    const QString base = path + QLatin1String(".corrupt-") + stamp.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const QByteArray sourceName = QFile::encodeName(path);

    for (int attempt = 1; attempt <= 1000; ++attempt) {
        const QString candidate = attempt == 1 ? base : base + QLatin1Char('-') + QString::number(attempt);
        const QByteArray candidateName = QFile::encodeName(candidate);

        // link(2) fails instead of replacing an existing name, so an earlier copy is never lost.
        if (::link(sourceName.constData(), candidateName.constData()) == 0) {
            if (::unlink(sourceName.constData()) != 0) {
                const int err = errno;
                ::unlink(candidateName.constData());
                return posixError(QStringLiteral("Could not move aside"), path, err);
            }
        } else if (errno == EEXIST) {
            continue;
        } else if (errno == EPERM || errno == EOPNOTSUPP || errno == EMLINK) {
            // A file system without hard links: check, then rename.
            if (QFileInfo::exists(candidate))
                continue;
            if (::rename(sourceName.constData(), candidateName.constData()) != 0)
                return posixError(QStringLiteral("Could not move aside"), path, errno);
        } else {
            return posixError(QStringLiteral("Could not move aside"), path, errno);
        }
        syncFolder(folderOf(path));
        qCWarning(lcRuntime).noquote() << "kept unreadable file as" << candidate << "-" << reason;
        return candidate;
    }
    return posixError(QStringLiteral("Could not move aside"), path, EEXIST);
}

} // namespace zq::rt

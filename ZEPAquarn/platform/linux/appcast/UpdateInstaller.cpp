#include "platform/linux/appcast/UpdateInstaller.h"

#include "runtime/FileOps.h"
#include "runtime/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

namespace zq::platform {

namespace {

constexpr qsizetype kCopyChunk = 1024 * 1024;
constexpr QLatin1String kInstallMarker(".update-");

rt::Error failed(const QString &what, int err)
{
    return rt::makeError(what + QStringLiteral(": ") + qt_error_string(err), QStringLiteral("posix"), err);
}

// Copies all of `from` into `to`; errno tells why when it returns false.
bool copyAll(int from, int to)
{
    auto buffer = std::make_unique<char[]>(kCopyChunk);
    while (true) {
        const ssize_t read = ::read(from, buffer.get(), kCopyChunk);
        if (read < 0 && errno == EINTR)
            continue;
        if (read <= 0)
            return read == 0;
        if (!rt::writeAll(to, buffer.get(), read))
            return false;
    }
}

bool isMkstempSuffix(QStringView suffix)
{
    if (suffix.size() != 6)
        return false;
    for (const QChar c : suffix)
        if (!(c.isDigit() || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')))
            return false;
    return true;
}

} // namespace

rt::Result<void> installFile(const QString &source, const QString &target, unsigned mode)
{
    const QFileInfo targetInfo(target);
    const int in = ::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return failed(QStringLiteral("The update could not be read"), errno);
    QByteArray temporary = QFile::encodeName(targetInfo.absolutePath() + QStringLiteral("/.") + targetInfo.fileName() +
                                             kInstallMarker + QStringLiteral("XXXXXX"));
    const int out = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (out < 0) {
        const int err = errno;
        ::close(in);
        return failed(QStringLiteral("No new file could be made beside the executable"), err);
    }
    // mkostemp makes the file private; the mode is set explicitly, whatever the umask.
    const bool written = ::fchmod(out, mode & 0777) == 0 && copyAll(in, out) && ::fsync(out) == 0;
    const int err = errno;
    ::close(in);
    if (::close(out) != 0 || !written) {
        ::unlink(temporary.constData());
        return failed(QStringLiteral("The new executable could not be written"), written ? errno : err);
    }
    if (::rename(temporary.constData(), QFile::encodeName(target).constData()) != 0) {
        const int renameErr = errno;
        ::unlink(temporary.constData());
        return failed(QStringLiteral("The new executable could not be put in place"), renameErr);
    }
    const int folder =
        ::open(QFile::encodeName(targetInfo.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return {};
}

rt::Result<unsigned> permissionBits(const QString &path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return failed(QStringLiteral("The executable could not be examined"), errno);
    if (!S_ISREG(info.st_mode))
        return rt::makeError(QStringLiteral("The executable is no regular file."), QStringLiteral("posix"), EINVAL);
    return static_cast<unsigned>(info.st_mode & 0777);
}

bool isInstallTemporary(const QString &name, const QString &executableName)
{
    const QString prefix = QLatin1Char('.') + executableName;
    if (!name.startsWith(prefix))
        return false;
    const QStringView rest = QStringView(name).mid(prefix.size());
    if (rest.startsWith(kInstallMarker))
        return isMkstempSuffix(rest.mid(kInstallMarker.size()));
    return rt::isAtomicWriteTemporary(name) && rest.size() == 5 + 6 && rest.startsWith(u".tmp-");
}

int sweepInterruptedUpdates(const QString &executablePath, const QString &workDirectory)
{
    int removed = 0;
    const QFileInfo executable(executablePath);
    const QString name = executable.fileName();
    if (const auto swept = rt::removeFilesIn(executable.absolutePath(),
                                             [&name](const QString &entry) { return isInstallTemporary(entry, name); });
        swept)
        removed += swept.value();

    // Only real folders of this user named as the framework names them; what is in them is ours.
    const QFileInfo work(workDirectory);
    if (work.isSymLink() || !work.isDir() || work.ownerId() != ::geteuid())
        return removed;
    const QFileInfoList entries = QDir(workDirectory)
                                      .entryInfoList({QStringLiteral("update-??????")},
                                                     QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System);
    for (const QFileInfo &entry : entries) {
        if (entry.isSymLink() || entry.ownerId() != ::geteuid())
            continue;
        if (QDir(entry.absoluteFilePath()).removeRecursively())
            ++removed;
        else
            qCWarning(lcUpdater) << "updater: could not remove the unfinished update" << entry.fileName();
    }
    return removed;
}

} // namespace zq::platform

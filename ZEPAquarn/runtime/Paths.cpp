#include "runtime/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zq::rt {

namespace {

const QLatin1String kAppFolder("ZEPAquarn");

// The XDG base-directory rules: an unset, empty or relative value means "use the fallback".
QString xdgDirectory(const char *variable, const QString &fallbackUnderHome)
{
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return QDir::cleanPath(QDir::homePath() + QLatin1Char('/') + fallbackUnderHome);
}

QString runtimeDirectory(Paths::RuntimeFolder runtimeFolder)
{
    const QString value = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (value.isEmpty() || !QDir::isAbsolutePath(value))
        return {};
    if (runtimeFolder == Paths::RuntimeFolder::ifItExists && !QFileInfo(value).isDir())
        return {};
    return QDir::cleanPath(value);
}

Error folderError(const QString &path, const QString &problem, int code = 0)
{
    return makeError(QStringLiteral("The folder “%1” cannot be used: %2.").arg(path, problem), QStringLiteral("posix"),
                     code);
}

} // namespace

Paths::Paths(QString dataDir, QString stateDir, QString configDir, QString takeDir)
    : m_dataDir(std::move(dataDir)), m_stateDir(std::move(stateDir)), m_configDir(std::move(configDir)),
      m_takeDir(std::move(takeDir))
{}

QStringList Paths::lockFiles() const
{
    QStringList files;
    for (const QString *folder : {&m_dataDir, &m_stateDir, &m_configDir, &m_takeDir})
        files.append(*folder + QLatin1String("/instance.lock"));
    return files;
}

Paths Paths::fromEnvironment(RuntimeFolder runtimeFolder)
{
    const QString runtimeDir = runtimeDirectory(runtimeFolder);
    const QString dataDir =
        xdgDirectory("XDG_DATA_HOME", QStringLiteral(".local/share")) + QLatin1Char('/') + kAppFolder;
    const QString stateDir =
        xdgDirectory("XDG_STATE_HOME", QStringLiteral(".local/state")) + QLatin1Char('/') + kAppFolder;
    const QString configDir =
        xdgDirectory("XDG_CONFIG_HOME", QStringLiteral(".config")) + QLatin1Char('/') + kAppFolder;
    // The runtime folder is the user's own and lives in memory; the temp folder is shared, so the
    // name carries the uid and ensurePrivateDirectory() refuses a folder someone else made first.
    const QString takeDir =
        !runtimeDir.isEmpty()
            ? runtimeDir + QLatin1String("/ZEPAquarn-takes")
            : QDir::cleanPath(QDir::tempPath()) + QLatin1String("/ZEPAquarn-takes-") + QString::number(::geteuid());
    return Paths(dataDir, stateDir, configDir, takeDir);
}

Result<void> Paths::ensureExists() const
{
    for (const QString *folder : {&m_dataDir, &m_stateDir, &m_configDir, &m_takeDir}) {
        if (auto made = ensurePrivateDirectory(*folder); !made)
            return made;
    }
    return {};
}

Result<void> Paths::ensurePrivateDirectory(const QString &path)
{
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath()))
        return folderError(path, QStringLiteral("its parent folder could not be created"));

    const QByteArray name = QFile::encodeName(path);
    if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST)
        return folderError(path, qt_error_string(errno), errno);

    // Everything below works on the opened folder itself, so a swap of the name in between
    // (a symlink put in its place) cannot redirect the checks or the chmod.
    const int fd = ::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (err == ELOOP || err == ENOTDIR)
            return folderError(path, QStringLiteral("it is not a real folder"), err);
        return folderError(path, qt_error_string(err), err);
    }
    struct stat status {};
    Result<void> result;
    if (::fstat(fd, &status) != 0) {
        result = folderError(path, qt_error_string(errno), errno);
    } else if (status.st_uid != ::geteuid()) {
        result = folderError(path, QStringLiteral("it belongs to another user"), EPERM);
    } else if ((status.st_mode & 07777) != 0700) {
        if (::fchmod(fd, 0700) != 0 || ::fstat(fd, &status) != 0 || (status.st_mode & 077) != 0)
            result = folderError(path, QStringLiteral("its permissions could not be made private"), errno);
    }
    ::close(fd);
    return result;
}

} // namespace zq::rt

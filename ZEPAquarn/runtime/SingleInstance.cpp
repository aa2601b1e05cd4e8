#include "runtime/SingleInstance.h"

#include "runtime/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace zq::rt {

SingleInstance::SingleInstance(QStringList lockFilePaths)
    : m_paths(std::move(lockFilePaths)), m_fds(static_cast<std::size_t>(m_paths.size()), -1)
{}

SingleInstance::~SingleInstance()
{
    releaseAll();
}

void SingleInstance::releaseAll()
{
    for (int &fd : m_fds) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

bool SingleInstance::isHeld() const
{
    return std::all_of(m_fds.begin(), m_fds.end(), [](int fd) { return fd >= 0; });
}

SingleInstance::Attempt SingleInstance::tryAcquire()
{
    QStringList problems;
    for (qsizetype i = 0; i < m_paths.size(); ++i) {
        int &held = m_fds[static_cast<std::size_t>(i)];
        if (held >= 0)
            continue;
        const QString &path = m_paths.at(i);
        QDir().mkpath(QFileInfo(path).absolutePath());
        // O_CLOEXEC: a program we start must not inherit the lock and keep it after we quit. O_NOFOLLOW:
        // a link planted in its place must not make us create or lock a file elsewhere. O_NONBLOCK:
        // a FIFO in its place must not hold the start.
        const int fd = ::open(QFile::encodeName(path).constData(),
                              O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
        if (fd < 0) {
            problems.append(QStringLiteral("“%1” cannot be opened: %2.").arg(path, qt_error_string(errno)));
            continue;
        }
        int result;
        do {
            result = ::flock(fd, LOCK_EX | LOCK_NB);
        } while (result != 0 && errno == EINTR);
        if (result == 0) {
            held = fd;
            continue;
        }
        const int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK) {
            // Nothing of this launch may stay locked: the other instance owns these folders.
            releaseAll();
            return {Outcome::heldByAnother, path};
        }
        problems.append(QStringLiteral("“%1” cannot be locked: %2.").arg(path, qt_error_string(err)));
    }
    if (problems.isEmpty())
        return {Outcome::acquired, {}};
    for (const QString &problem : std::as_const(problems))
        qCWarning(lcApp).noquote() << "instance lock unavailable:" << problem;
    return {Outcome::unavailable, problems.join(QLatin1Char(' '))};
}

} // namespace zq::rt

#include "runtime/SingleInstance.h"

#include "runtime/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace zq::rt {

SingleInstance::SingleInstance(QString lockFilePath) : m_path(std::move(lockFilePath)) {}

SingleInstance::~SingleInstance()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool SingleInstance::tryAcquire()
{
    if (m_fd >= 0)
        return true;
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    // O_CLOEXEC: a program we start must not inherit the lock and keep it after we quit. O_NOFOLLOW:
    // a link planted in its place must not make us create or lock a file elsewhere.
    const int fd = ::open(QFile::encodeName(m_path).constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        qCWarning(lcApp) << "cannot open the instance lock" << m_path << qt_error_string(errno);
        return false;
    }
    int result;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        if (errno != EWOULDBLOCK)
            qCWarning(lcApp) << "cannot lock" << m_path << qt_error_string(errno);
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

} // namespace zq::rt

#include "support/ThreadHold.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <sys/ptrace.h>
#include <sys/wait.h>

namespace zq::test {

ThreadHold::~ThreadHold()
{
    release();
}

std::vector<pid_t> ThreadHold::threadsNamed(pid_t pid, const QByteArray &name)
{
    std::vector<pid_t> found;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString &tid : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks + QLatin1Char('/') + tid + QStringLiteral("/comm"));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == name)
            found.push_back(static_cast<pid_t>(tid.toInt()));
    }
    return found;
}

bool ThreadHold::hold(pid_t tid)
{
    if (::ptrace(PTRACE_SEIZE, tid, nullptr, nullptr) != 0) {
        m_error = QStringLiteral("cannot trace thread %1: %2").arg(tid).arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    int status = 0;
    if (::ptrace(PTRACE_INTERRUPT, tid, nullptr, nullptr) != 0 || ::waitpid(tid, &status, __WALL) != tid ||
        !WIFSTOPPED(status)) {
        m_error = QStringLiteral("thread %1 ended before it could be held").arg(tid);
        return false;
    }
    m_held.push_back(tid);
    return true;
}

void ThreadHold::release()
{
    for (const pid_t tid : m_held)
        ::ptrace(PTRACE_DETACH, tid, nullptr, nullptr); // fails harmlessly for a thread that ended
    m_held.clear();
}

bool ThreadHold::waitUntilEnded(std::chrono::milliseconds timeout)
{
    const QDeadlineTimer deadline(timeout);
    while (!m_held.empty()) {
        const pid_t tid = m_held.back();
        int status = 0;
        const pid_t reported = ::waitpid(tid, &status, __WALL | WNOHANG);
        // A traced thread's end is reported to its tracer, and its process is not reaped until it is.
        if (reported == tid && (WIFEXITED(status) || WIFSIGNALED(status))) {
            m_held.pop_back();
            continue;
        }
        if (reported < 0 && errno == ECHILD) { // gone already
            m_held.pop_back();
            continue;
        }
        if (deadline.hasExpired())
            return false;
        QThread::msleep(5);
    }
    return true;
}

} // namespace zq::test

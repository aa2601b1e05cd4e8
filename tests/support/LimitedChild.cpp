#include "support/LimitedChild.h"

#include <QDeadlineTimer>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define ZQ_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZQ_ADDRESS_SANITIZER 1
#endif
#endif

namespace zq::test {

namespace {

constexpr int kThrew = 125;

// The size of this process's address space, from /proc/self/statm (in pages).
long long addressSpaceBytes()
{
    std::ifstream statm("/proc/self/statm");
    long long pages = 0;
    statm >> pages;
    return pages * ::sysconf(_SC_PAGESIZE);
}

} // namespace

const char *LimitedRun::describe() const
{
    static thread_local char text[64];
    switch (end) {
    case End::exited:
        std::snprintf(text, sizeof text, "exit %d", code);
        break;
    case End::signalled:
        std::snprintf(text, sizeof text, "signal %d", code);
        break;
    case End::timedOut:
        std::snprintf(text, sizeof text, "still running after the timeout");
        break;
    }
    return text;
}

LimitedRun runLimited(const std::function<int()> &body, long long headroomBytes, std::chrono::milliseconds timeout)
{
    const long long limit = addressSpaceBytes() + headroomBytes;
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0)
        return {LimitedRun::End::signalled, -1};
    if (pid == 0) {
#ifndef ZQ_ADDRESS_SANITIZER
        const rlimit bound{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
        ::setrlimit(RLIMIT_AS, &bound);
#else
        (void)limit;
#endif
        // Nothing may leave the child but its exit: an exception must not run the rest of the
        // suite a second time in here.
        int code = kThrew;
        try {
            code = body();
        } catch (...) {
        }
        std::fflush(nullptr);
        ::_exit(code);
    }

    const QDeadlineTimer deadline(timeout);
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            if (WIFEXITED(status))
                return {LimitedRun::End::exited, WEXITSTATUS(status)};
            return {LimitedRun::End::signalled, WIFSIGNALED(status) ? WTERMSIG(status) : -1};
        }
        if (deadline.hasExpired()) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return {LimitedRun::End::timedOut, 0};
        }
        QThread::msleep(5);
    }
}

} // namespace zq::test

#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <vector>

#include <sys/types.h>

namespace zq::test {

// Holds threads of another process where they stand while the rest of it runs on, as a debugger
// does: for a background job that must outlast whatever the test does next, in a real program
// that has no hook for it. Use from one thread (the tracing thread). Threads still held are let go
// when the hold is destroyed.
class ThreadHold {
public:
    ThreadHold() = default;
    ~ThreadHold();
    ThreadHold(const ThreadHold &) = delete;
    ThreadHold &operator=(const ThreadHold &) = delete;

    // The threads of process `pid` named `name` (as the process set it, at most 15 bytes).
    static std::vector<pid_t> threadsNamed(pid_t pid, const QByteArray &name);

    // Stops thread `tid`; false with errorString() set when the system refuses or it has ended.
    bool hold(pid_t tid);
    // Lets every held thread that has not ended run on.
    void release();
    // Waits until every held thread has ended with its process; false when one still runs at the end of
    // `timeout`.
    bool waitUntilEnded(std::chrono::milliseconds timeout);

    QString errorString() const { return m_error; }

private:
    std::vector<pid_t> m_held;
    QString m_error;
};

} // namespace zq::test

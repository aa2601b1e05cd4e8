#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace zq::rt {

// Bounds the end of a quit that waits for threads: made once the stores are written, it ends the
// process with `status` (without running anything more) when it is still alive `wait` later, so a
// thread stuck in a call that never returns cannot keep the process. Destroying it in time ends
// its watch at once, whatever is left of `wait`.
class QuitDeadline {
public:
    QuitDeadline(std::chrono::milliseconds wait, int status);
    ~QuitDeadline();
    QuitDeadline(const QuitDeadline &) = delete;
    QuitDeadline &operator=(const QuitDeadline &) = delete;

private:
    std::mutex m_mutex;
    std::condition_variable m_met;
    bool m_watching = false;
    bool m_done = false;
    std::thread m_watch;
};

} // namespace zq::rt

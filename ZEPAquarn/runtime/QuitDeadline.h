#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace zq::rt {

// Bounds the end of a quit: made as the quit starts, before anything writes or waits, it ends the
// process with `status` (without running anything more) when it is still alive `wait` later, so
// neither a thread stuck in a call that never returns nor a write into a folder that stopped
// answering (a hung network home) can keep the process. Destroying it in time ends its watch at
// once, whatever is left of `wait`.
class QuitDeadline {
public:
    QuitDeadline(std::chrono::milliseconds wait, int status);
    ~QuitDeadline();
    QuitDeadline(const QuitDeadline &) = delete;
    QuitDeadline &operator=(const QuitDeadline &) = delete;

    // A step that must run however the quit ends (the start of an installed update): by
    // runLastStep() once the quit is through, or on the watch's thread just before the deadline ends
    // the process, whichever comes first, and only once.
    void setLastStep(std::function<void()> step);
    // Runs the last step, if the deadline has not taken it already; in that case the process ends
    // with it, and this call does not return.
    void runLastStep();

private:
    std::mutex m_mutex;
    std::condition_variable m_met;
    bool m_watching = false;
    bool m_done = false;
    std::function<void()> m_lastStep;
    bool m_lastStepTaken = false;
    std::thread m_watch;
};

} // namespace zq::rt

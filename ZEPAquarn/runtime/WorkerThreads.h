#pragma once

#include <functional>
#include <list>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

namespace zq::rt {

// Threads that each run one piece of blocking work, owned and joined by whoever holds this: a
// thread that has ended is joined when the next one starts, the rest by stopAll(), which asks them
// to stop and waits for them. Thread-safe.
class WorkerThreads {
public:
    WorkerThreads() = default;
    // Stops and joins what still runs.
    ~WorkerThreads();
    WorkerThreads(const WorkerThreads &) = delete;
    WorkerThreads &operator=(const WorkerThreads &) = delete;

    // Runs `work` on a new thread named `name` (15 bytes at most). False, and nothing runs, once
    // stopAll() has been called.
    bool start(std::function<void(std::stop_token)> work, std::string name = {});
    // Requests a stop of every thread, waits for them all to end and refuses later starts. Never
    // call it on one of these threads. Calling it again does nothing.
    void stopAll();

private:
    struct Worker {
        std::jthread thread;
        bool ended = false;
    };
    mutable std::mutex m_mutex;
    std::list<Worker> m_workers;
    bool m_stopped = false;
};

} // namespace zq::rt

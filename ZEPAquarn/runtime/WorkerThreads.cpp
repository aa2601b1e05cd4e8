#include "runtime/WorkerThreads.h"

#include <pthread.h>

namespace zq::rt {

WorkerThreads::~WorkerThreads()
{
    stopAll();
}

bool WorkerThreads::start(std::function<void(std::stop_token)> work, std::string name)
{
    std::list<Worker> ended; // joined after the lock: they are at their last instruction
    std::lock_guard lock(m_mutex);
    if (m_stopped)
        return false;
    for (auto it = m_workers.begin(); it != m_workers.end();) {
        const auto next = std::next(it);
        if (it->ended)
            ended.splice(ended.end(), m_workers, it);
        it = next;
    }
    Worker &worker = m_workers.emplace_back();
    // The thread marks itself ended under the lock, which this call holds until `worker` is complete.
    worker.thread = std::jthread([this, &worker, work = std::move(work), name = std::move(name)](std::stop_token stop) {
        if (!name.empty())
            pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
        work(stop);
        std::lock_guard lock(m_mutex);
        worker.ended = true;
    });
    return true;
}

void WorkerThreads::stopAll()
{
    std::list<Worker> workers;
    {
        std::lock_guard lock(m_mutex);
        m_stopped = true;
        workers.swap(m_workers);
        for (Worker &worker : workers)
            worker.thread.request_stop();
    }
    workers.clear(); // joins each
}

} // namespace zq::rt

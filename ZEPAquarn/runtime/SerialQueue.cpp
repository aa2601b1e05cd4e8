#include "runtime/SerialQueue.h"

#include <pthread.h>

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace zq::rt {

struct SerialQueue::State {
    std::mutex mutex;
    std::condition_variable wake;
    // Keyed by (due time, sequence) so equal times keep their posting order.
    std::map<std::pair<Nanos, quint64>, std::pair<WorkItem, Function>> items;
    quint64 sequence = 0;
    bool stopping = false;
    std::thread::id threadId;
    std::thread thread;

    static Nanos steadyNow() { return std::chrono::steady_clock::now().time_since_epoch(); }

    void run()
    {
        std::unique_lock lock(mutex);
        for (;;) {
            if (items.empty()) {
                if (stopping)
                    return;
                wake.wait(lock);
                continue;
            }
            auto first = items.begin();
            const Nanos due = first->first.first;
            const Nanos now = steadyNow();
            if (due > now) {
                if (stopping) {
                    // Delayed items that are not due yet are dropped at shutdown.
                    items.clear();
                    return;
                }
                wake.wait_for(lock, due - now);
                continue;
            }
            auto [item, fn] = std::move(first->second);
            items.erase(first);
            lock.unlock();
            if (!item.isCancelled())
                fn();
            lock.lock();
        }
    }
};

namespace {

// The threads of queues destroyed by their own items, which could not join them.
struct RetiredThreads {
    std::mutex mutex;
    std::vector<std::thread> threads;

    // Each ended long ago: right after the item that destroyed its queue.
    ~RetiredThreads()
    {
        for (std::thread &thread : threads)
            thread.join();
    }
};

RetiredThreads &retiredThreads()
{
    static RetiredThreads retired;
    return retired;
}

} // namespace

SerialQueue::SerialQueue(QString label) : m_label(std::move(label)), m_state(std::make_shared<State>())
{
    auto state = m_state;
    QString shortName = m_label;
    const QString prefix = QStringLiteral("io.quorvane.zepaquarn.");
    if (shortName.startsWith(prefix))
        shortName = shortName.mid(prefix.size());
    // Thread names hold 15 bytes.
    const QByteArray threadName = shortName.toUtf8().left(15);
    // The thread waits for this lock before its first item, so threadId is set before anyone reads it.
    std::lock_guard lock(state->mutex);
    state->thread = std::thread([state, threadName] {
        pthread_setname_np(pthread_self(), threadName.constData());
        state->run();
    });
    state->threadId = state->thread.get_id();
}

SerialQueue::~SerialQueue()
{
    {
        std::lock_guard lock(m_state->mutex);
        m_state->stopping = true;
    }
    m_state->wake.notify_all();
    if (isCurrent()) {
        RetiredThreads &retired = retiredThreads();
        std::lock_guard lock(retired.mutex);
        retired.threads.push_back(std::move(m_state->thread));
        return;
    }
    m_state->thread.join();
}

void SerialQueue::post(Function fn)
{
    postDelayed(Nanos::zero(), std::move(fn));
}

WorkItem SerialQueue::postDelayed(Nanos delay, Function fn)
{
    WorkItem item = WorkItem::make();
    {
        std::lock_guard lock(m_state->mutex);
        const Nanos due = State::steadyNow() + (delay < Nanos::zero() ? Nanos::zero() : delay);
        m_state->items.emplace(std::make_pair(due, m_state->sequence++), std::make_pair(item, std::move(fn)));
    }
    m_state->wake.notify_all();
    return item;
}

Nanos SerialQueue::now() const
{
    return State::steadyNow();
}

bool SerialQueue::isCurrent() const
{
    return std::this_thread::get_id() == m_state->threadId;
}

void SerialQueue::drain()
{
    std::mutex doneMutex;
    std::condition_variable doneWake;
    bool done = false;
    post([&] {
        std::lock_guard lock(doneMutex);
        done = true;
        doneWake.notify_all();
    });
    std::unique_lock lock(doneMutex);
    doneWake.wait(lock, [&] { return done; });
}

} // namespace zq::rt

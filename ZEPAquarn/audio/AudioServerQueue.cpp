#include "audio/AudioServerQueue.h"

#include <pthread.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace zq {

struct AudioServerQueue::State {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> items;
    bool released = false;
    std::thread::id threadId;

    void run()
    {
        std::unique_lock lock(mutex);
        for (;;) {
            wake.wait(lock, [this] { return released || !items.empty(); });
            if (items.empty())
                return; // released and drained
            std::function<void()> work = std::move(items.front());
            items.pop_front();
            lock.unlock();
            work();
            // The operation and whatever it captured die here, on this thread, before the next item.
            work = nullptr;
            lock.lock();
        }
    }
};

AudioServerQueue::AudioServerQueue(QString label) : m_label(std::move(label)), m_state(std::make_shared<State>())
{
    QString shortName = m_label;
    const QString prefix = QStringLiteral("io.quorvane.zepaquarn.");
    if (shortName.startsWith(prefix))
        shortName = shortName.mid(prefix.size());
    const QByteArray threadName = shortName.toUtf8().left(15);
    std::lock_guard lock(m_state->mutex);
    // Detached: the thread owns the state and ends once the queue is released and empty, or never
    // when an item hangs for good.
    std::thread thread([state = m_state, threadName] {
        pthread_setname_np(pthread_self(), threadName.constData());
        state->run();
    });
    m_state->threadId = thread.get_id();
    thread.detach();
}

AudioServerQueue::~AudioServerQueue()
{
    {
        std::lock_guard lock(m_state->mutex);
        m_state->released = true;
    }
    m_state->wake.notify_all();
}

void AudioServerQueue::post(std::function<void()> work)
{
    {
        std::lock_guard lock(m_state->mutex);
        m_state->items.push_back(std::move(work));
    }
    m_state->wake.notify_all();
}

bool AudioServerQueue::isCurrent() const
{
    std::lock_guard lock(m_state->mutex);
    return std::this_thread::get_id() == m_state->threadId;
}

} // namespace zq

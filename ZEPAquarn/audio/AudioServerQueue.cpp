#include "audio/AudioServerQueue.h"

#include <pthread.h>

#include <condition_variable>
#include <deque>
#include <mutex>

namespace zq {

struct AudioServerQueue::State {
    mutable std::mutex mutex;
    mutable std::condition_variable wake; // items, release and the end
    std::deque<std::function<void()>> items;
    bool released = false;
    bool ended = false;
    std::thread::id threadId;

    void run()
    {
        std::unique_lock lock(mutex);
        for (;;) {
            wake.wait(lock, [this] { return released || !items.empty(); });
            if (items.empty())
                break; // released and drained
            std::function<void()> work = std::move(items.front());
            items.pop_front();
            lock.unlock();
            work();
            // The operation and whatever it captured die here, on this thread, before the next item.
            work = nullptr;
            lock.lock();
        }
        ended = true;
        wake.notify_all();
    }
};

AudioServerQueue::AudioServerQueue(QString label) : m_label(std::move(label)), m_state(std::make_unique<State>())
{
    QString shortName = m_label;
    const QString prefix = QStringLiteral("io.quorvane.zepaquarn.");
    if (shortName.startsWith(prefix))
        shortName = shortName.mid(prefix.size());
    const QByteArray threadName = shortName.toUtf8().left(15);
    std::lock_guard lock(m_state->mutex);
    m_thread = std::thread([state = m_state.get(), threadName] {
        pthread_setname_np(pthread_self(), threadName.constData());
        state->run();
    });
    m_state->threadId = m_thread.get_id();
}

AudioServerQueue::~AudioServerQueue()
{
    release();
    m_thread.join();
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

void AudioServerQueue::release()
{
    {
        std::lock_guard lock(m_state->mutex);
        m_state->released = true;
    }
    m_state->wake.notify_all();
}

bool AudioServerQueue::hasEnded() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->ended;
}

void AudioServerQueue::waitUntilEnded() const
{
    std::unique_lock lock(m_state->mutex);
    m_state->wake.wait(lock, [this] { return m_state->ended; });
}

} // namespace zq

#include "audio/DeferredAudioObjectReleasePool.h"

#include "runtime/SerialQueue.h"

#include <map>
#include <mutex>

namespace zq {

struct DeferredAudioObjectReleasePool::State {
    mutable std::mutex mutex;
    std::uint64_t nextKey = 0;
    std::map<std::uint64_t, std::shared_ptr<void>> objects;
};

DeferredAudioObjectReleasePool::DeferredAudioObjectReleasePool(rt::Executor &queue, rt::Nanos delay)
    : m_state(std::make_shared<State>()), m_queue(queue), m_delay(delay)
{}

DeferredAudioObjectReleasePool::~DeferredAudioObjectReleasePool() = default;

void DeferredAudioObjectReleasePool::retire(std::shared_ptr<void> object)
{
    std::uint64_t key;
    {
        std::lock_guard lock(m_state->mutex);
        key = m_state->nextKey++;
        m_state->objects.emplace(key, std::move(object));
    }
    m_queue.postDelayed(m_delay, [weakState = std::weak_ptr<State>(m_state), key] {
        const auto state = weakState.lock();
        if (!state)
            return;
        std::shared_ptr<void> released;
        {
            std::lock_guard lock(state->mutex);
            auto found = state->objects.find(key);
            if (found == state->objects.end())
                return;
            released = std::move(found->second);
            state->objects.erase(found);
        }
        // The last reference (and whatever teardown it triggers) goes here, outside the lock.
        released.reset();
    });
}

std::size_t DeferredAudioObjectReleasePool::retainedCount() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->objects.size();
}

DeferredAudioObjectReleasePool &sharedAudioReleasePool()
{
    static rt::SerialQueue queue(QStringLiteral("io.quorvane.zepaquarn.audio-retirement"));
    static DeferredAudioObjectReleasePool pool(queue);
    return pool;
}

} // namespace zq

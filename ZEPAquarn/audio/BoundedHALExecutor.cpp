#include "audio/BoundedHALExecutor.h"

#include "runtime/Log.h"
#include "runtime/SerialQueue.h"

#include <pthread.h>

#include <condition_variable>
#include <deque>
#include <thread>

namespace zq {

struct HALSerialQueue::State {
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

HALSerialQueue::HALSerialQueue(QString label) : m_label(std::move(label)), m_state(std::make_shared<State>())
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

HALSerialQueue::~HALSerialQueue()
{
    {
        std::lock_guard lock(m_state->mutex);
        m_state->released = true;
    }
    m_state->wake.notify_all();
}

void HALSerialQueue::post(std::function<void()> work)
{
    {
        std::lock_guard lock(m_state->mutex);
        m_state->items.push_back(std::move(work));
    }
    m_state->wake.notify_all();
}

bool HALSerialQueue::isCurrent() const
{
    std::lock_guard lock(m_state->mutex);
    return std::this_thread::get_id() == m_state->threadId;
}

struct BoundedHALExecutor::Core {
    explicit Core(QString label) : label(std::move(label)) {}

    const QString label;
    mutable std::mutex mutex; // guards generation and queue only; never held while work runs
    std::uint64_t generation = 0;
    std::shared_ptr<HALSerialQueue> queue;

    static QString queueLabel(const QString &label, std::uint64_t generation)
    {
        return label + QLatin1Char('.') + QString::number(generation);
    }
};

namespace {

rt::Executor &utilityQueue()
{
    static rt::SerialQueue queue(QStringLiteral("io.quorvane.zepaquarn.utility"));
    return queue;
}

} // namespace

BoundedHALExecutor::BoundedHALExecutor(QString label, rt::Executor *timeouts)
    : m_core(std::make_shared<Core>(std::move(label))), m_timeouts(timeouts ? timeouts : &utilityQueue())
{
    m_core->queue = std::make_shared<HALSerialQueue>(Core::queueLabel(m_core->label, 0));
}

BoundedHALExecutor::~BoundedHALExecutor() = default;

std::pair<std::shared_ptr<HALSerialQueue>, std::uint64_t> BoundedHALExecutor::currentQueue() const
{
    std::lock_guard lock(m_core->mutex);
    return {m_core->queue, m_core->generation};
}

void BoundedHALExecutor::abandonQueue(const std::weak_ptr<Core> &weakCore, std::uint64_t generation)
{
    const auto core = weakCore.lock();
    if (!core)
        return;
    std::shared_ptr<HALSerialQueue> old;
    QString label;
    {
        std::lock_guard lock(core->mutex);
        // Another timeout already replaced this queue, or the call belonged to an older one.
        if (core->generation != generation)
            return;
        core->generation = generation + 1;
        label = Core::queueLabel(core->label, core->generation);
        old = std::exchange(core->queue, std::make_shared<HALSerialQueue>(label));
    }
    qCWarning(lcHal) << "queue" << old->label() << "missed its deadline, abandoned; now on" << label;
}

void BoundedHALExecutor::enqueue(std::function<void()> work)
{
    currentQueue().first->post(std::move(work));
}

const QString &BoundedHALExecutor::label() const
{
    return m_core->label;
}

std::uint64_t BoundedHALExecutor::generation() const
{
    return currentQueue().second;
}

QString BoundedHALExecutor::currentQueueLabel() const
{
    return currentQueue().first->label();
}

BoundedHALExecutor &sharedHALExecutor()
{
    static BoundedHALExecutor executor(QStringLiteral("io.quorvane.zepaquarn.hal"));
    return executor;
}

} // namespace zq

#include "audio/BoundedHALExecutor.h"

#include "runtime/Log.h"
#include "runtime/SerialQueue.h"

namespace zq {

struct BoundedHALExecutor::Core {
    explicit Core(QString label) : label(std::move(label)) {}

    const QString label;
    mutable std::mutex mutex; // guards generation and queue only; never held while work runs
    std::uint64_t generation = 0;
    std::shared_ptr<AudioServerQueue> queue;
    // Queues whose call missed its deadline, kept until their thread comes back and ends.
    std::vector<std::shared_ptr<AudioServerQueue>> abandoned;

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
    m_core->queue = std::make_shared<AudioServerQueue>(Core::queueLabel(m_core->label, 0));
}

BoundedHALExecutor::~BoundedHALExecutor() = default;

std::pair<std::shared_ptr<AudioServerQueue>, std::uint64_t> BoundedHALExecutor::currentQueue() const
{
    std::lock_guard lock(m_core->mutex);
    return {m_core->queue, m_core->generation};
}

void BoundedHALExecutor::abandonQueue(const std::weak_ptr<Core> &weakCore, std::uint64_t generation)
{
    const auto core = weakCore.lock();
    if (!core)
        return;
    std::shared_ptr<AudioServerQueue> old;
    std::vector<std::shared_ptr<AudioServerQueue>> ended; // joined after the lock
    QString label;
    {
        std::lock_guard lock(core->mutex);
        // Another timeout already replaced this queue, or the call belonged to an older one.
        if (core->generation != generation)
            return;
        core->generation = generation + 1;
        label = Core::queueLabel(core->label, core->generation);
        old = std::exchange(core->queue, std::make_shared<AudioServerQueue>(label));
        old->release();
        std::erase_if(core->abandoned, [&ended](std::shared_ptr<AudioServerQueue> &queue) {
            if (!queue->hasEnded())
                return false;
            ended.push_back(std::move(queue));
            return true;
        });
        core->abandoned.push_back(old);
    }
    qCWarning(lcHal) << "queue" << old->label() << "missed its deadline, abandoned; now on" << label;
}

void BoundedHALExecutor::enqueue(std::function<void()> work)
{
    currentQueue().first->post(std::move(work));
}

void BoundedHALExecutor::endQueues()
{
    std::vector<std::shared_ptr<AudioServerQueue>> queues;
    {
        std::lock_guard lock(m_core->mutex);
        queues = m_core->abandoned;
        queues.push_back(m_core->queue);
    }
    for (const auto &queue : queues) {
        queue->release();
        queue->waitUntilEnded();
    }
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

#include "support/VirtualLoop.h"

namespace zq::test {

rt::Nanos VirtualClocks::continuousNow() const
{
    return m_loop.now() + m_sleepOffset + std::chrono::hours(1);
}

rt::Nanos VirtualClocks::uptimeNow() const
{
    return m_loop.now() + std::chrono::hours(1);
}

QDateTime VirtualClocks::wallNow() const
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(m_loop.now() + m_sleepOffset + m_wallShift);
    return m_wallStart.addMSecs(ms.count());
}

VirtualLoop::VirtualLoop() : m_thread(std::this_thread::get_id()) {}

VirtualLoop::~VirtualLoop()
{
    m_workers.stopAll();
}

void VirtualLoop::post(Function fn)
{
    {
        std::lock_guard lock(m_mutex);
        m_items.emplace(std::make_pair(m_now, m_sequence++), std::make_pair(rt::WorkItem::make(), std::move(fn)));
    }
    m_posted.notify_all();
}

rt::WorkItem VirtualLoop::postDelayed(rt::Nanos delay, Function fn)
{
    rt::WorkItem item = rt::WorkItem::make();
    {
        std::lock_guard lock(m_mutex);
        const rt::Nanos due = m_now + (delay < rt::Nanos::zero() ? rt::Nanos::zero() : delay);
        m_items.emplace(std::make_pair(due, m_sequence++), std::make_pair(item, std::move(fn)));
    }
    m_posted.notify_all();
    return item;
}

rt::Nanos VirtualLoop::now() const
{
    std::lock_guard lock(m_mutex);
    return m_now;
}

bool VirtualLoop::isCurrent() const
{
    return std::this_thread::get_id() == m_thread;
}

bool VirtualLoop::runOneDueBy(rt::Nanos limit)
{
    std::unique_lock lock(m_mutex);
    if (m_items.empty())
        return false;
    auto first = m_items.begin();
    if (first->first.first > limit)
        return false;
    if (first->first.first > m_now)
        m_now = first->first.first;
    auto [item, fn] = std::move(first->second);
    m_items.erase(first);
    lock.unlock();
    if (!item.isCancelled())
        fn();
    return true;
}

int VirtualLoop::runUntilIdle()
{
    int count = 0;
    while (runOneDueBy(now()))
        ++count;
    return count;
}

int VirtualLoop::advance(rt::Nanos dt)
{
    const rt::Nanos target = now() + dt;
    int count = 0;
    while (runOneDueBy(target))
        ++count;
    {
        std::lock_guard lock(m_mutex);
        if (m_now < target)
            m_now = target;
    }
    return count;
}

bool VirtualLoop::runUntil(const std::function<bool()> &predicate, std::chrono::milliseconds realTimeout)
{
    const auto deadline = std::chrono::steady_clock::now() + realTimeout;
    for (;;) {
        runUntilIdle();
        if (predicate())
            return true;
        std::unique_lock lock(m_mutex);
        const bool somethingDue = !m_items.empty() && m_items.begin()->first.first <= m_now;
        if (!somethingDue) {
            // Wake in short slices too: the predicate may be changed by a thread that posts nothing.
            const auto slice = std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(5));
            if (m_posted.wait_until(lock, slice) == std::cv_status::timeout &&
                std::chrono::steady_clock::now() >= deadline) {
                lock.unlock();
                runUntilIdle();
                return predicate();
            }
        }
    }
}

int VirtualLoop::pendingCount() const
{
    std::lock_guard lock(m_mutex);
    int count = 0;
    for (const auto &entry : m_items)
        count += entry.second.first.isCancelled() ? 0 : 1;
    return count;
}

} // namespace zq::test

#include "support/FakeGate.h"

namespace zq::test {

void FakeGate::open()
{
    std::lock_guard lock(m_mutex);
    m_open = true;
    m_changed.notify_all();
}

void FakeGate::pass()
{
    std::unique_lock lock(m_mutex);
    m_reached = true;
    m_changed.notify_all();
    m_changed.wait(lock, [this] { return m_open; });
}

bool FakeGate::waitUntilReached(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [this] { return m_reached; });
}

bool FakeGate::isReached() const
{
    std::lock_guard lock(m_mutex);
    return m_reached;
}

} // namespace zq::test

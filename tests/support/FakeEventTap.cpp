#include "support/FakeEventTap.h"

namespace zq::test {

bool FakeEventTap::start(Handlers handlers)
{
    if (m_running)
        return true;
    ++m_startCount;
    if (m_refusesStart)
        return false;
    m_handlers = std::move(handlers);
    m_running = true;
    return true;
}

void FakeEventTap::stop()
{
    m_running = false;
    m_handlers = {};
}

void FakeEventTap::emitEvent(const TriggerEvent &event)
{
    if (m_running && m_handlers.onEvent)
        m_handlers.onEvent(event);
}

void FakeEventTap::emitDisabled(DisabledReason reason)
{
    if (m_running && m_handlers.onDisabled)
        m_handlers.onDisabled(reason);
}

void FakeEventTap::emitRestored(const std::vector<TriggerEvent> &held)
{
    if (m_running && m_handlers.onRestored)
        m_handlers.onRestored(held);
}

} // namespace zq::test

#pragma once

#include "platform/EventTap.h"

namespace zq::test {

// A scriptable event source. emit*() call the handlers at once on the calling thread, as the real
// source does on its own thread.
class FakeEventTap final : public platform::EventTap {
public:
    bool start(Handlers handlers) override;
    void enable() override { ++m_enableCount; }
    void stop() override;
    bool isRunning() const override { return m_running; }

    // Whether the next start() succeeds.
    void setRefusesStart(bool refuses) { m_refusesStart = refuses; }

    // Ignored (as by the real source) while not running.
    void emitEvent(const TriggerEvent &event);
    void emitDisabled(DisabledReason reason);
    void emitRestored(const std::vector<TriggerEvent> &held);

    int startCount() const { return m_startCount; }
    int enableCount() const { return m_enableCount; }

private:
    Handlers m_handlers;
    bool m_running = false;
    bool m_refusesStart = false;
    int m_startCount = 0;
    int m_enableCount = 0;
};

} // namespace zq::test

#pragma once

#include "platform/EventTap.h"

namespace zq {

class TriggerRecordingGate;

// The global event source as the dictation trigger sees it: while a trigger recorder records, the
// presses the user makes are for the recorder, so they are dropped here. Releases and the source's
// notifications (with the presses still in effect after a lost connection) still pass, so a trigger
// that was down when recording began is not left held.
class GatedEventTap final : public platform::EventTap {
public:
    // Both outlive the tap.
    GatedEventTap(platform::EventTap &source, const TriggerRecordingGate &gate);

    bool start(Handlers handlers) override;
    void enable() override { m_source.enable(); }
    void stop() override { m_source.stop(); }
    bool isRunning() const override { return m_source.isRunning(); }

    // Whether the event presses something (a key, a modifier key or a mouse button).
    static bool isPress(const TriggerEvent &event);

private:
    platform::EventTap &m_source;
    const TriggerRecordingGate &m_gate;
};

} // namespace zq

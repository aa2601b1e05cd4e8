#pragma once

#include "pipeline/TriggerBinding.h"
#include "pipeline/TriggerEvent.h"
#include "runtime/Executor.h"

#include <functional>
#include <vector>

namespace zq {

// Decides which of the events seen while the user records a trigger make the new binding. The
// recorder's view hands it every key, modifier and side-button event of the application, translated
// to the logical key space, before the rest of the application sees them; handle() says whether the
// event is used up.
//
// A modifier pressed alone is captured 0.25 s after its press unless a key follows. Keys typed within
// 0.25 s of each other form one binding (a key, a shortcut or a macro), captured 0.25 s after the last
// of them. Both waits share one slot: a new one cancels and replaces the pending one.
//
// Main thread only; the delayed captures are work items on the main loop that never outlive it.
class TriggerBindingCaptureMonitor {
public:
    using CaptureHandler = std::function<void(const TriggerBinding &)>;
    using CancelHandler = std::function<void()>;

    static constexpr rt::Nanos kCaptureDelay = rt::seconds(0.25);

    explicit TriggerBindingCaptureMonitor(rt::MainLoop &loop);
    ~TriggerBindingCaptureMonitor();
    TriggerBindingCaptureMonitor(const TriggerBindingCaptureMonitor &) = delete;
    TriggerBindingCaptureMonitor &operator=(const TriggerBindingCaptureMonitor &) = delete;

    // The wanted state and the callbacks to use from now on (always kept, so the latest ones run).
    // Turning on starts a fresh sequence; turning off runs stopMonitoring().
    void setRecording(bool recording, CaptureHandler onCapture, CancelHandler onCancel);
    // Drops the pending capture and the keys typed so far, and stops looking at events.
    void stopMonitoring();
    bool isRecording() const { return m_isRecording; }

    // True when the event is used up (not to be delivered further); false to pass it on. Passes
    // everything on while not recording.
    bool handle(const TriggerEvent &event);

    // The keys of the sequence being typed, in order.
    const std::vector<TriggerEvent> &keyboardEvents() const { return m_keyboardEvents; }

private:
    void scheduleModifierCapture(TriggerBinding binding);
    void scheduleKeyboardCompletion();
    void completeKeyboardCapture();

    rt::MainLoop &m_loop;
    bool m_isRecording = false;
    std::vector<TriggerEvent> m_keyboardEvents;
    rt::WorkItem m_completionWork;
    CaptureHandler m_onCapture;
    CancelHandler m_onCancel;
    rt::Lifetime m_lifetime;
};

} // namespace zq

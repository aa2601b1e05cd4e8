#pragma once

#include "pipeline/TriggerLogic.h"
#include "pipeline/TriggerTracker.h"
#include "platform/EventTap.h"
#include "runtime/Executor.h"

#include <QString>

#include <cstdint>
#include <functional>

namespace zq {

namespace rt {
class Clocks;
class Settings;
} // namespace rt

// Watches the global key, modifier and side-mouse-button events, runs the trigger logic on each with the
// trigger bindings stored in the settings at that moment, and hands the resulting actions to its owner.
//
// Main thread only. Events arrive from the event source's thread and are handled one main-loop work item
// per event, in order; the actions of an event then reach `onAction` in a work item of their own, back
// to back (a completed macro gives start then lock). Nothing is ever delivered from inside start(), stop()
// or a handler of the source. The tap never consumes or alters an event.
//
// A source that stops delivering is re-enabled and recorded. Its timeout and user-input stops cancel a
// held or locked trigger; a lost display connection cancels nothing (the take is the user's, and a
// display that is gone for good ends the application, which keeps the take). Once the connection is
// back, a held take whose trigger went up meanwhile finishes; a locked one goes on.
class HotkeyTap {
public:
    using ActionHandler = std::function<void(TriggerAction)>;
    // Records "hotkey_tap_disabled" with the reason ("timeout", "user_input", "connection_lost") in the
    // owner's diagnostics; nothing is recorded when empty.
    using DisabledRecorder = std::function<void(const QString &reason)>;

    HotkeyTap(platform::EventTap &source, rt::Settings &settings, rt::MainLoop &loop, rt::Clocks &clocks,
              ActionHandler onAction, DisabledRecorder recordDisabled);
    ~HotkeyTap();
    HotkeyTap(const HotkeyTap &) = delete;
    HotkeyTap &operator=(const HotkeyTap &) = delete;

    // True when the tap runs (already, or from now); false when the session refuses the event source.
    // Nothing is kept after a refusal, and a later call tries again.
    bool start();
    // Stops the event source and forgets the trigger state. Events not yet handled are dropped.
    void stop();
    bool isRunning() const { return m_running; }

    // The controller's return to idle: the state machine goes back to idle; a trigger still down stays.
    void resetToIdle() { m_tracker.resetToIdle(); }

    const TriggerTracker &tracker() const { return m_tracker; }

private:
    void handleEvent(std::uint64_t generation, const TriggerEvent &event);
    void handleDisabled(std::uint64_t generation, platform::EventTap::DisabledReason reason);
    void handleRestored(std::uint64_t generation, const std::vector<TriggerEvent> &held);
    void post(std::vector<TriggerAction> actions);
    void deliver(const std::vector<TriggerAction> &actions);

    platform::EventTap &m_source;
    rt::Settings &m_settings;
    rt::MainLoop &m_loop;
    rt::Clocks &m_clocks;
    const ActionHandler m_onAction;
    const DisabledRecorder m_recordDisabled;
    TriggerTracker m_tracker;
    bool m_running = false;
    // Work items carry the generation they were posted in; a stop makes every older one stale.
    std::uint64_t m_generation = 0;
    rt::Lifetime m_lifetime;
};

} // namespace zq

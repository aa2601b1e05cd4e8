#pragma once

#include "pipeline/TriggerBinding.h"
#include "pipeline/TriggerEvent.h"
#include "pipeline/TriggerLogic.h"

#include <QString>

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace zq {

// Turns the stream of global key, modifier and mouse events into trigger actions. It keeps the trigger
// that is down, the progress through a macro and the hold/tap state machine between events; the event
// tap owns one, feeds it every event with the current trigger list and hands the actions, in order, to
// the controller. Main thread only; no platform code and no clock: times come with the events.
class TriggerTracker {
public:
    static constexpr std::chrono::nanoseconds macroStrokeGap = std::chrono::seconds(1);

    explicit TriggerTracker(std::chrono::nanoseconds lockThreshold = TriggerLogic::defaultLockThreshold);

    // One event against the trigger list (storage strings, primary first; see triggerValues()). A string
    // that does not decode acts as Fn. The result is usually empty or one action, and start then lock
    // when a macro completes from idle.
    std::vector<TriggerAction> handle(const TriggerEvent &event, const std::vector<QString> &triggerValues);

    // Feeds one key-down to the macro matcher for `binding` (kept under `storageValue`); true when it
    // completes the sequence. Strokes more than macroStrokeGap apart start the sequence over.
    bool advanceMacro(const TriggerEvent &event, const TriggerBinding &binding, const QString &storageValue);

    // The controller's return to idle: only the state machine goes back; a trigger still down stays.
    void resetToIdle() { m_logic.reset(); }
    // The event tap stopped: forget everything.
    void stop();
    // The event source lost its display connection: a half-typed macro starts over. The trigger that is
    // down and the take stay (a lost connection is no cancel by the user) until the source is back.
    void sourceLost();
    // The event source is back with `held`, the presses still in effect (see platform::EventTap). A
    // trigger that went up meanwhile is released unseen, which finishes a held take.
    std::vector<TriggerAction> sourceRestored(const std::vector<TriggerEvent> &held);

    const TriggerLogic &logic() const { return m_logic; }
    const std::optional<TriggerBinding> &activeTrigger() const { return m_activeTrigger; }
    std::int64_t macroProgress() const { return m_macroProgress; }
    std::optional<std::chrono::nanoseconds> macroLastEventTime() const { return m_macroLastEventTime; }
    const std::optional<QString> &macroTriggerValue() const { return m_macroTriggerValue; }

private:
    struct Trigger {
        TriggerBinding binding;
        const QString *storageValue;
    };

    std::vector<TriggerAction> handleKeyDown(const TriggerEvent &event, const std::vector<Trigger> &triggers);
    std::vector<TriggerAction> handleKeyUp(const TriggerEvent &event);
    std::vector<TriggerAction> handleFlagsChanged(const TriggerEvent &event, const std::vector<Trigger> &triggers);
    std::vector<TriggerAction> handleMouseDown(const TriggerEvent &event, const std::vector<Trigger> &triggers);
    std::vector<TriggerAction> handleMouseUp(const TriggerEvent &event);
    std::vector<TriggerAction> press(const TriggerBinding &binding, const TriggerEvent &event);
    std::vector<TriggerAction> release(const TriggerEvent &event);
    void clearMacro();

    TriggerLogic m_logic;
    std::optional<TriggerBinding> m_activeTrigger;
    std::int64_t m_macroProgress = 0;
    std::optional<std::chrono::nanoseconds> m_macroLastEventTime;
    std::optional<QString> m_macroTriggerValue;
};

} // namespace zq

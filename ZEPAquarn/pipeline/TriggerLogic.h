#pragma once

#include <chrono>
#include <vector>

namespace zq {

// What the trigger asks of the dictation controller. The trigger code never emits `none`; the controller
// treats it as doing nothing.
enum class TriggerAction { start, finish, cancel, none, lock };

// The hold/tap state machine: hold the trigger to talk and release to finish; release it within the lock
// threshold to lock hands-free dictation, and press it again to finish. Value type; every transition is
// applied by one of the five inputs below. Times are event times on one monotonic clock.
class TriggerLogic {
public:
    enum class StateKind { held, idle, locked, done };

    struct State {
        StateKind kind = StateKind::idle;
        // When the trigger went down; only meaningful while held.
        std::chrono::nanoseconds since{0};

        static State held(std::chrono::nanoseconds since) { return State{StateKind::held, since}; }
        static State idle() { return State{}; }
        static State locked() { return State{StateKind::locked, {}}; }
        static State done() { return State{StateKind::done, {}}; }

        friend bool operator==(const State &, const State &) = default;
    };

    static constexpr std::chrono::nanoseconds defaultLockThreshold = std::chrono::milliseconds(300);

    explicit TriggerLogic(std::chrono::nanoseconds lockThreshold = defaultLockThreshold);

    std::chrono::nanoseconds lockThreshold() const { return m_lockThreshold; }
    const State &state() const { return m_state; }

    // The trigger went down at `time`.
    std::vector<TriggerAction> press(std::chrono::nanoseconds time);
    // The trigger went up at `time`: a release earlier than the lock threshold after the press locks, a
    // release at the threshold or later finishes.
    std::vector<TriggerAction> release(std::chrono::nanoseconds time);
    // The trigger went up while the event source could not see it: a held take finishes, as a release
    // whose moment is unknown cannot lock, and finishing keeps the words.
    std::vector<TriggerAction> releasedUnseen();
    // Escape, or the event source was disabled.
    std::vector<TriggerAction> cancel();
    // A macro sequence was typed to its end: a press and release at the same instant.
    std::vector<TriggerAction> macroCompleted();
    // The controller is back to idle (also while a trigger is still down; its release then does nothing).
    void reset() { m_state = State::idle(); }

private:
    std::chrono::nanoseconds m_lockThreshold;
    State m_state;
};

} // namespace zq

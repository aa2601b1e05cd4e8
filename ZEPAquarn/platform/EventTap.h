#pragma once

#include "pipeline/TriggerEvent.h"

#include <functional>
#include <vector>

namespace zq::platform {

// The session's global keyboard, modifier and side-mouse-button events, listened to without taking
// them: every other application still gets each key. Events come translated into the logical key space
// (pipeline/TriggerKey.h), one TriggerEvent each:
// - a modifier key going down or up is a flags-changed event carrying that key's code and the modifier
//   flags after the change (with the per-key side bits of the keys that are down);
// - any other key is a key-down or key-up; a key-down of a key that is already down is an auto-repeat;
// - mouse buttons other than the primary and secondary ones (middle, back, forward, …) are
//   other-mouse-down/up events numbered from 2;
// - a release of a key or button that is not down is never reported;
// - keys that this process posts itself (KeySynthesizer) are never reported.
//
// Threads: start(), enable() and stop() are called on the main thread. The handlers run on the source's
// own thread, one at a time, in the order the events happened; they must return quickly and must not
// call back into the source. After stop() returns no handler runs any more.
class EventTap {
public:
    // Why the source stopped delivering: the first two are the platform's own timeout and user-input
    // notifications, the last is the connection to the display server breaking.
    enum class DisabledReason { timeout, userInput, connectionLost };

    struct Handlers {
        std::function<void(const TriggerEvent &)> onEvent;
        // The source stopped delivering events. It stays stopped until enable() is called.
        std::function<void(DisabledReason)> onDisabled;
        // A lost connection is back (after enable()), before any event: the presses still in effect,
        // one press event each, as the keys and buttons down at that moment would have been reported.
        // Their releases come later as events; what went up while the connection was lost is not
        // reported at all.
        std::function<void(const std::vector<TriggerEvent> &)> onRestored;
    };

    virtual ~EventTap() = default;

    // Opens the source and starts delivering to `handlers`. True when it runs (already, or from now);
    // false when the session refuses it (no X11 display, the input extension missing, …): the reason is
    // logged, nothing is kept, and a later call tries again.
    virtual bool start(Handlers handlers) = 0;
    // After a disabled notification: resume delivering. A source that cannot reach its display server
    // yet keeps trying on its own until it can, or until stop(). Does nothing while delivering.
    virtual void enable() = 0;
    // Stops delivering and releases the source. Safe to call when not running.
    virtual void stop() = 0;
    virtual bool isRunning() const = 0;
};

} // namespace zq::platform

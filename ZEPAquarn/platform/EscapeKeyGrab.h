#pragma once

namespace zq::platform {

// Keeps Escape from the applications of the desktop while dictation needs it as its cancel key: held,
// a press of Escape (with whatever modifiers are down) reaches no window, and the global EventTap still
// reports it. Released, Escape goes where the keyboard focus is, as before.
//
// Main thread only. setHeld() returns once the display server applied the change, so the next key the
// user types already goes the new way. A session that refuses the grab (no X11 display, or another
// application already holding Escape) logs why and leaves Escape with the windows: nothing fails, and
// nothing else changes. The destructor lets go of a grab still held.
class EscapeKeyGrab {
public:
    virtual ~EscapeKeyGrab() = default;

    // Takes Escape from the windows (true) or gives it back (false); asking for the current state does
    // nothing.
    virtual void setHeld(bool held) = 0;
};

} // namespace zq::platform

#pragma once

#include <cstdint>

namespace zq::platform {

// Posts the paste shortcut (Control+V) into the session as if it were typed, so that the window that has
// the keyboard focus pastes the clipboard.
//
// Main thread only. The keys posted here never reach this process's EventTap. A session that cannot take
// synthetic keys (no X11 display, the XTest extension missing) drops the chord: postPasteChord() returns
// false and logs why once; nothing else fails.
class KeySynthesizer {
public:
    virtual ~KeySynthesizer() = default;

    // The logical modifier flags (ModifierFlag::shift, option, command) of keys the user holds right now
    // that would turn the chord into another shortcut. Control does not count: Control+V stays a paste.
    virtual std::uint64_t heldModifiers() = 0;
    // Posts key-down and key-up of Control+V at once, one right after the other.
    virtual bool postPasteChord() = 0;
};

} // namespace zq::platform

#pragma once

#include <cstdint>

namespace zq::platform {

// The key chords that paste in the applications of the desktop: Control+V in most, Control+Shift+V in
// terminal emulators (where Control+V is a control character), Shift+Insert in the old X terminals that
// paste the primary selection with it.
enum class PasteChord {
    controlV,
    controlShiftV,
    shiftInsert,
};

// Posts a paste chord into the session as if it were typed, so that the window that has the keyboard
// focus pastes.
//
// Main thread only. The keys posted here never reach this process's EventTap. A session that cannot take
// synthetic keys (no X11 display, the XTest extension missing) drops the chord: postPasteChord() returns
// false and logs why once; nothing else fails.
class KeySynthesizer {
public:
    virtual ~KeySynthesizer() = default;

    // The logical modifier flags (ModifierFlag::shift, control, option, command) of the modifier keys the
    // user holds right now; locks (Caps Lock, Num Lock) do not count.
    virtual std::uint64_t heldModifiers() = 0;
    // Posts key-down and key-up of `chord` at once, one right after the other. A modifier of the chord
    // that the user already holds is not pressed again.
    virtual bool postPasteChord(PasteChord chord) = 0;
};

} // namespace zq::platform

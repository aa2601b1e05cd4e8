#pragma once

#include <QByteArrayView>

#include <cstdint>
#include <optional>

namespace zq::platform::x11 {

// The logical key code (pipeline/TriggerKey.h) of a key by its XKB key name ("AC01", "LFSH", "FK05"):
// keys are identified by where they sit on the keyboard, whatever the layout types on them. Nothing for
// a name without an equivalent.
std::optional<std::int64_t> logicalKeyCode(QByteArrayView xkbKeyName);
// The code given to a key without an equivalent: above the logical key space, one per X key code.
constexpr std::int64_t unmappedKeyCode(int xKeyCode)
{
    return 0x1000 + xKeyCode;
}

// The modifier flags, shared and per-key side bits, that a key adds while it is down; 0 for other keys.
std::uint64_t modifierFlagsOfKey(std::int64_t logicalKeyCode);
// Keys reported as flags-changed events: the modifiers, Fn and Caps Lock.
bool isModifierKey(std::int64_t logicalKeyCode);

// The logical number of an X pointer button: the middle button is 2, back and forward are 3 and 4, and
// further buttons follow. Nothing for the primary and secondary buttons and for the scroll wheel.
std::optional<std::int64_t> logicalMouseButton(int xButton);

} // namespace zq::platform::x11

#pragma once

#include "runtime/RawValue.h"

#include <QString>
#include <QStringView>

#include <array>
#include <cstdint>
#include <optional>

namespace zq {

// Modifier flag bits of the logical key space. The platform back-end translates real key events into these;
// everything above it (bindings, storage strings, trigger logic) sees only these values.
namespace ModifierFlag {
inline constexpr std::uint64_t shift = 0x20000;
inline constexpr std::uint64_t control = 0x40000;
inline constexpr std::uint64_t option = 0x80000;
inline constexpr std::uint64_t command = 0x100000;
inline constexpr std::uint64_t function = 0x800000;
// Shift, Control, Option and Command. Every modifier set stored in a binding is masked with it.
inline constexpr std::uint64_t triggerMask = 0x1E0000;

// Per-key bits: which side of a modifier is down. A back-end that can tell the two keys apart sets them
// beside the shared flag; without them the shared flag alone decides.
inline constexpr std::uint64_t leftControlKey = 0x1;
inline constexpr std::uint64_t leftShiftKey = 0x2;
inline constexpr std::uint64_t rightShiftKey = 0x4;
inline constexpr std::uint64_t leftCommandKey = 0x8;
inline constexpr std::uint64_t rightCommandKey = 0x10;
inline constexpr std::uint64_t leftOptionKey = 0x20;
inline constexpr std::uint64_t rightOptionKey = 0x40;
inline constexpr std::uint64_t rightControlKey = 0x2000;
} // namespace ModifierFlag

// Key codes of the logical key space that the trigger code refers to by name.
namespace KeyCode {
inline constexpr std::int64_t escape = 53;
inline constexpr std::int64_t rightCommand = 54;
inline constexpr std::int64_t leftCommand = 55;
inline constexpr std::int64_t leftShift = 56;
inline constexpr std::int64_t capsLock = 57;
inline constexpr std::int64_t leftOption = 58;
inline constexpr std::int64_t leftControl = 59;
inline constexpr std::int64_t rightShift = 60;
inline constexpr std::int64_t rightOption = 61;
inline constexpr std::int64_t rightControl = 62;
inline constexpr std::int64_t function = 63;
} // namespace KeyCode

// The predefined primary triggers, stored in settings by their raw value.
enum class TriggerKey {
    fn,
    rightControl,
    rightOption,
    rightCommand,
    f1,
    f2,
    f3,
    f4,
    f5,
    f6,
    f7,
    f8,
    f9,
    f10,
    f11,
    f12,
    f13,
    f14,
    f15,
    f16,
    f17,
    f18,
    f19,
    f20,
};

// All cases, in declaration order (the order pickers list them and the recorder searches them).
const std::array<TriggerKey, 24> &allTriggerKeys();

// "fn", "right-control", "right-option", "right-command", "f1" … "f20".
const std::array<RawValueName<TriggerKey>, 24> &rawValueNames(TriggerKey);
// The key's code; none for Fn, which is only ever seen as a flag.
std::optional<std::int64_t> keyCode(TriggerKey key);
// The flag that is set while the key is down; none for the function keys.
std::optional<std::uint64_t> heldFlag(TriggerKey key);
QString displayName(TriggerKey key);

} // namespace zq

#include "platform/linux/x11/X11KeyCodes.h"

#include "pipeline/TriggerKey.h"

#include <array>

namespace zq::platform::x11 {

namespace {

struct NamedKey {
    const char *name;
    std::int64_t code;
};

// XKB key names of a PC keyboard and the logical codes of the keys in the same places.
constexpr std::array kNamedKeys = {
    NamedKey{"AC01", 0},   NamedKey{"AC02", 1},   NamedKey{"AC03", 2},   NamedKey{"AC04", 3},   NamedKey{"AC06", 4},
    NamedKey{"AC05", 5},   NamedKey{"AB01", 6},   NamedKey{"AB02", 7},   NamedKey{"AB03", 8},   NamedKey{"AB04", 9},
    NamedKey{"LSGT", 10},  NamedKey{"AB05", 11},  NamedKey{"AD01", 12},  NamedKey{"AD02", 13},  NamedKey{"AD03", 14},
    NamedKey{"AD04", 15},  NamedKey{"AD06", 16},  NamedKey{"AD05", 17},  NamedKey{"AE01", 18},  NamedKey{"AE02", 19},
    NamedKey{"AE03", 20},  NamedKey{"AE04", 21},  NamedKey{"AE06", 22},  NamedKey{"AE05", 23},  NamedKey{"AE12", 24},
    NamedKey{"AE09", 25},  NamedKey{"AE07", 26},  NamedKey{"AE11", 27},  NamedKey{"AE08", 28},  NamedKey{"AE10", 29},
    NamedKey{"AD12", 30},  NamedKey{"AD09", 31},  NamedKey{"AD07", 32},  NamedKey{"AD11", 33},  NamedKey{"AD08", 34},
    NamedKey{"AD10", 35},  NamedKey{"RTRN", 36},  NamedKey{"AC09", 37},  NamedKey{"AC07", 38},  NamedKey{"AC11", 39},
    NamedKey{"AC08", 40},  NamedKey{"AC10", 41},  NamedKey{"BKSL", 42},  NamedKey{"AC12", 42},  NamedKey{"AB08", 43},
    NamedKey{"AB10", 44},  NamedKey{"AB06", 45},  NamedKey{"AB07", 46},  NamedKey{"AB09", 47},  NamedKey{"TAB", 48},
    NamedKey{"SPCE", 49},  NamedKey{"TLDE", 50},  NamedKey{"BKSP", 51},  NamedKey{"ESC", 53},   NamedKey{"RWIN", 54},
    NamedKey{"LWIN", 55},  NamedKey{"LFSH", 56},  NamedKey{"CAPS", 57},  NamedKey{"LALT", 58},  NamedKey{"LCTL", 59},
    NamedKey{"RTSH", 60},  NamedKey{"RALT", 61},  NamedKey{"RCTL", 62},  NamedKey{"FK17", 64},  NamedKey{"KPDL", 65},
    NamedKey{"KPMU", 67},  NamedKey{"KPAD", 69},  NamedKey{"NMLK", 71},  NamedKey{"VOL+", 72},  NamedKey{"VOL-", 73},
    NamedKey{"MUTE", 74},  NamedKey{"KPDV", 75},  NamedKey{"KPEN", 76},  NamedKey{"KPSU", 78},  NamedKey{"FK18", 79},
    NamedKey{"FK19", 80},  NamedKey{"KPEQ", 81},  NamedKey{"KP0", 82},   NamedKey{"KP1", 83},   NamedKey{"KP2", 84},
    NamedKey{"KP3", 85},   NamedKey{"KP4", 86},   NamedKey{"KP5", 87},   NamedKey{"KP6", 88},   NamedKey{"KP7", 89},
    NamedKey{"FK20", 90},  NamedKey{"KP8", 91},   NamedKey{"KP9", 92},   NamedKey{"AE13", 93},  NamedKey{"AB11", 94},
    NamedKey{"KPCO", 95},  NamedKey{"FK05", 96},  NamedKey{"FK06", 97},  NamedKey{"FK07", 98},  NamedKey{"FK03", 99},
    NamedKey{"FK08", 100}, NamedKey{"FK09", 101}, NamedKey{"MUHE", 102}, NamedKey{"FK11", 103}, NamedKey{"HENK", 104},
    NamedKey{"FK13", 105}, NamedKey{"FK16", 106}, NamedKey{"FK14", 107}, NamedKey{"FK10", 109}, NamedKey{"COMP", 110},
    NamedKey{"MENU", 110}, NamedKey{"FK12", 111}, NamedKey{"FK15", 113}, NamedKey{"INS", 114},  NamedKey{"HOME", 115},
    NamedKey{"PGUP", 116}, NamedKey{"DELE", 117}, NamedKey{"FK04", 118}, NamedKey{"END", 119},  NamedKey{"FK02", 120},
    NamedKey{"PGDN", 121}, NamedKey{"FK01", 122}, NamedKey{"LEFT", 123}, NamedKey{"RGHT", 124}, NamedKey{"DOWN", 125},
    NamedKey{"UP", 126},
};

} // namespace

std::optional<std::int64_t> logicalKeyCode(QByteArrayView xkbKeyName)
{
    // XKB names are at most four characters, padded with NULs.
    qsizetype length = 0;
    while (length < xkbKeyName.size() && length < 4 && xkbKeyName[length] != '\0')
        ++length;
    const QByteArrayView name = xkbKeyName.first(length);
    for (const NamedKey &key : kNamedKeys) {
        if (name == QByteArrayView(key.name))
            return key.code;
    }
    return std::nullopt;
}

std::uint64_t modifierFlagsOfKey(std::int64_t logicalKeyCode)
{
    switch (logicalKeyCode) {
    case KeyCode::leftShift:
        return ModifierFlag::shift | ModifierFlag::leftShiftKey;
    case KeyCode::rightShift:
        return ModifierFlag::shift | ModifierFlag::rightShiftKey;
    case KeyCode::leftControl:
        return ModifierFlag::control | ModifierFlag::leftControlKey;
    case KeyCode::rightControl:
        return ModifierFlag::control | ModifierFlag::rightControlKey;
    case KeyCode::leftOption:
        return ModifierFlag::option | ModifierFlag::leftOptionKey;
    case KeyCode::rightOption:
        return ModifierFlag::option | ModifierFlag::rightOptionKey;
    case KeyCode::leftCommand:
        return ModifierFlag::command | ModifierFlag::leftCommandKey;
    case KeyCode::rightCommand:
        return ModifierFlag::command | ModifierFlag::rightCommandKey;
    case KeyCode::function:
        return ModifierFlag::function;
    default:
        return 0;
    }
}

bool isModifierKey(std::int64_t logicalKeyCode)
{
    return modifierFlagsOfKey(logicalKeyCode) != 0 || logicalKeyCode == KeyCode::capsLock;
}

std::optional<std::int64_t> logicalMouseButton(int xButton)
{
    // X numbers the buttons 1 left, 2 middle, 3 right, 4 to 7 the wheel, 8 back, 9 forward, then the rest.
    if (xButton == 2)
        return 2;
    if (xButton >= 8)
        return xButton - 5;
    return std::nullopt;
}

} // namespace zq::platform::x11

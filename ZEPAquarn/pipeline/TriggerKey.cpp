#include "pipeline/TriggerKey.h"

#include <string_view>

namespace zq {

namespace {

constexpr std::int64_t noKeyCode = -1;

struct KeyRow {
    TriggerKey key;
    const char *rawValue;
    std::int64_t keyCode;
    std::uint64_t heldFlag; // 0: none
    std::string_view displayName;
};

// Display names use this desktop's words for the keys: Super for Command, Alt for Option.
constexpr std::array<KeyRow, 24> keyRows{{
    {TriggerKey::fn, "fn", noKeyCode, ModifierFlag::function, "Fn"},
    {TriggerKey::rightControl, "right-control", KeyCode::rightControl, ModifierFlag::control, "Right Control"},
    {TriggerKey::rightOption, "right-option", KeyCode::rightOption, ModifierFlag::option, "Right Alt"},
    {TriggerKey::rightCommand, "right-command", KeyCode::rightCommand, ModifierFlag::command, "Right Super"},
    {TriggerKey::f1, "f1", 122, 0, "F1"},
    {TriggerKey::f2, "f2", 120, 0, "F2"},
    {TriggerKey::f3, "f3", 99, 0, "F3"},
    {TriggerKey::f4, "f4", 118, 0, "F4"},
    {TriggerKey::f5, "f5", 96, 0, "F5"},
    {TriggerKey::f6, "f6", 97, 0, "F6"},
    {TriggerKey::f7, "f7", 98, 0, "F7"},
    {TriggerKey::f8, "f8", 100, 0, "F8"},
    {TriggerKey::f9, "f9", 101, 0, "F9"},
    {TriggerKey::f10, "f10", 109, 0, "F10"},
    {TriggerKey::f11, "f11", 103, 0, "F11"},
    {TriggerKey::f12, "f12", 111, 0, "F12"},
    {TriggerKey::f13, "f13", 105, 0, "F13"},
    {TriggerKey::f14, "f14", 107, 0, "F14"},
    {TriggerKey::f15, "f15", 113, 0, "F15"},
    {TriggerKey::f16, "f16", 106, 0, "F16"},
    {TriggerKey::f17, "f17", 64, 0, "F17"},
    {TriggerKey::f18, "f18", 79, 0, "F18"},
    {TriggerKey::f19, "f19", 80, 0, "F19"},
    {TriggerKey::f20, "f20", 90, 0, "F20"},
}};

const KeyRow &row(TriggerKey key)
{
    return keyRows[static_cast<std::size_t>(key)];
}

QString fromAscii(std::string_view text)
{
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

const std::array<TriggerKey, 24> &allTriggerKeys()
{
    static constexpr std::array<TriggerKey, 24> keys = [] {
        std::array<TriggerKey, 24> all{};
        for (std::size_t i = 0; i < all.size(); ++i)
            all[i] = keyRows[i].key;
        return all;
    }();
    return keys;
}

const std::array<RawValueName<TriggerKey>, 24> &rawValueNames(TriggerKey)
{
    static constexpr std::array<RawValueName<TriggerKey>, 24> names = [] {
        std::array<RawValueName<TriggerKey>, 24> all{};
        for (std::size_t i = 0; i < all.size(); ++i)
            all[i] = {keyRows[i].key, keyRows[i].rawValue};
        return all;
    }();
    return names;
}

std::optional<std::int64_t> keyCode(TriggerKey key)
{
    const std::int64_t code = row(key).keyCode;
    if (code == noKeyCode)
        return std::nullopt;
    return code;
}

std::optional<std::uint64_t> heldFlag(TriggerKey key)
{
    const std::uint64_t flag = row(key).heldFlag;
    if (flag == 0)
        return std::nullopt;
    return flag;
}

QString displayName(TriggerKey key)
{
    return fromAscii(row(key).displayName);
}

} // namespace zq

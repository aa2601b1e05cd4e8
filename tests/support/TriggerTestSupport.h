#pragma once

#include "pipeline/TriggerBinding.h"
#include "pipeline/TriggerLogic.h"

#include <chrono>
#include <ostream>
#include <vector>

// Readable gtest output for the trigger types, and small event builders shared by the trigger tests.
namespace zq {

inline void PrintTo(TriggerAction action, std::ostream *os)
{
    static const char *const names[] = {"start", "finish", "cancel", "none", "lock"};
    *os << names[static_cast<int>(action)];
}

inline void PrintTo(const TriggerLogic::State &state, std::ostream *os)
{
    static const char *const names[] = {"held", "idle", "locked", "done"};
    *os << names[static_cast<int>(state.kind)];
    if (state.kind == TriggerLogic::StateKind::held)
        *os << "(since " << state.since.count() << " ns)";
}

inline void PrintTo(const TriggerBinding &binding, std::ostream *os)
{
    *os << binding.storageValue().toStdString();
}

namespace trigger_test {

using Actions = std::vector<TriggerAction>;
constexpr TriggerAction start = TriggerAction::start;
constexpr TriggerAction finish = TriggerAction::finish;
constexpr TriggerAction cancel = TriggerAction::cancel;
constexpr TriggerAction lock = TriggerAction::lock;

inline std::chrono::nanoseconds seconds(double value)
{
    return std::chrono::nanoseconds(static_cast<std::int64_t>(value * 1e9 + (value >= 0 ? 0.5 : -0.5)));
}

inline TriggerEvent keyDown(std::int64_t code, double at, std::uint64_t flags = 0, bool repeat = false)
{
    return TriggerEvent{TriggerEventType::keyDown, code, flags, repeat, 0, seconds(at), {}};
}

inline TriggerEvent keyUp(std::int64_t code, double at, std::uint64_t flags = 0)
{
    return TriggerEvent{TriggerEventType::keyUp, code, flags, false, 0, seconds(at), {}};
}

inline TriggerEvent flagsChanged(std::int64_t code, std::uint64_t flags, double at)
{
    return TriggerEvent{TriggerEventType::flagsChanged, code, flags, false, 0, seconds(at), {}};
}

inline TriggerEvent mouseDown(std::int64_t button, double at)
{
    return TriggerEvent{TriggerEventType::otherMouseDown, 0, 0, false, button, seconds(at), {}};
}

inline TriggerEvent mouseUp(std::int64_t button, double at)
{
    return TriggerEvent{TriggerEventType::otherMouseUp, 0, 0, false, button, seconds(at), {}};
}

inline TriggerEvent tapDisabled(double at)
{
    return TriggerEvent{TriggerEventType::tapDisabledByTimeout, 0, 0, false, 0, seconds(at), {}};
}

} // namespace trigger_test
} // namespace zq

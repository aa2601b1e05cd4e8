#pragma once

namespace zq {

// Who changed the input: the user in an input picker, or the system (device list, default input).
enum class InputChangeTrigger {
    picker = 0,
    system = 1,
};

} // namespace zq

#pragma once

#include <QString>

#include <chrono>
#include <cstdint>

namespace zq {

// Event kinds as the platform's global event source numbers them. The two tap-disabled kinds are
// notifications from the source, not input.
enum class TriggerEventType : std::uint32_t {
    keyDown = 10,
    keyUp = 11,
    flagsChanged = 12,
    otherMouseDown = 25,
    otherMouseUp = 26,
    tapDisabledByTimeout = 0xFFFFFFFE,
    tapDisabledByUserInput = 0xFFFFFFFF,
};

// One global keyboard, modifier or mouse event in the logical key space (see TriggerKey.h). The back-end
// fills it; the trigger logic and the recorder read it and never look at the platform event.
// A flags-changed event stands for one modifier key going down or up (key repeats of modifiers are not
// reported) and carries that key's code.
struct TriggerEvent {
    TriggerEventType type = TriggerEventType::keyDown;
    std::int64_t keyCode = 0;
    std::uint64_t flags = 0;
    bool isAutoRepeat = false;
    std::int64_t buttonNumber = 0;
    // When the event happened, on a monotonic clock.
    std::chrono::nanoseconds time{0};
    // The key's text ignoring modifiers (empty when the key types nothing); only recording reads it.
    QString characters;
};

} // namespace zq

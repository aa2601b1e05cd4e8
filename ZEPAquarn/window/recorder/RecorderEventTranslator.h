#pragma once

#include "pipeline/TriggerEvent.h"
#include "platform/PermissionProbe.h"

#include <optional>
#include <set>

class QEvent;

namespace zq {

// Turns the recorder window's own key and mouse events into the logical events the recorder reads,
// the way the global trigger sees the same keys: key codes through the display server's keyboard map
// (so the left and right keys of a modifier differ), modifier keys as flags-changed events, side
// buttons by their numbers. Main thread only.
class RecorderEventTranslator {
public:
    explicit RecorderEventTranslator(std::optional<platform::KeyboardMap> keyboard = std::nullopt);

    void setKeyboardMap(std::optional<platform::KeyboardMap> keyboard) { m_keyboard = std::move(keyboard); }
    // Forgets the modifier keys seen down (a new recording starts from what the events say).
    void reset() { m_modifiersDown.clear(); }

    // The logical event, or none for events the recorder does not look at (primary and secondary
    // buttons, a modifier's repeats, repeated releases).
    std::optional<TriggerEvent> translate(const QEvent &event);

    // The logical number of a Qt mouse button: middle 2, back 3, forward 4, further buttons after them;
    // none for the primary and secondary buttons.
    static std::optional<std::int64_t> logicalMouseButton(int qtButton);

private:
    std::uint64_t currentFlags(std::uint64_t qtHeld) const;

    std::optional<platform::KeyboardMap> m_keyboard;
    std::set<std::int64_t> m_modifiersDown;
};

} // namespace zq

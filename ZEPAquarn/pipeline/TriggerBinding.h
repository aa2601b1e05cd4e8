#pragma once

#include "pipeline/TriggerEvent.h"
#include "pipeline/TriggerKey.h"

#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>
#include <span>
#include <variant>
#include <vector>

namespace zq {

// One key with the modifiers held while it goes down (masked with ModifierFlag::triggerMask).
struct TriggerStroke {
    std::int64_t keyCode = 0;
    std::uint64_t modifiers = 0;

    friend bool operator==(const TriggerStroke &, const TriggerStroke &) = default;
};

// What the user presses to dictate. A binding lives in the settings as its storage string
// ("triggerKey", "secondaryTriggerKey"), which outlives versions: decoding any text gives a binding or
// nothing, never an error. Pure value type; usable from any thread.
class TriggerBinding {
public:
    enum class Kind { predefined, modifier, keyboard, shortcut, macro, mouse };

    struct Predefined {
        TriggerKey key = TriggerKey::fn;
        friend bool operator==(const Predefined &, const Predefined &) = default;
    };
    // A single modifier key held alone, such as Left Alt.
    struct Modifier {
        std::int64_t keyCode = 0;
        std::uint64_t flag = 0;
        QString label;
        friend bool operator==(const Modifier &, const Modifier &) = default;
    };
    // An ordinary key without modifiers.
    struct Keyboard {
        std::int64_t keyCode = 0;
        QString label;
        friend bool operator==(const Keyboard &, const Keyboard &) = default;
    };
    // A key pressed with exactly these modifiers.
    struct Shortcut {
        TriggerStroke stroke;
        QString label;
        friend bool operator==(const Shortcut &, const Shortcut &) = default;
    };
    // Strokes typed one after the other; completing the sequence starts a locked take.
    struct Macro {
        std::vector<TriggerStroke> strokes;
        QString label;
        friend bool operator==(const Macro &, const Macro &) = default;
    };
    // An extra mouse button: 2 or more (0 and 1 are the primary and secondary buttons).
    struct Mouse {
        std::int64_t button = 2;
        friend bool operator==(const Mouse &, const Mouse &) = default;
    };

    using Payload = std::variant<Predefined, Modifier, Keyboard, Shortcut, Macro, Mouse>;

    // The makers mask every modifier set with ModifierFlag::triggerMask.
    static TriggerBinding predefined(TriggerKey key);
    static TriggerBinding modifier(std::int64_t keyCode, std::uint64_t flag, QString label);
    static TriggerBinding keyboard(std::int64_t keyCode, QString label);
    static TriggerBinding shortcut(TriggerStroke stroke, QString label);
    static TriggerBinding macro(std::vector<TriggerStroke> strokes, QString label);
    static TriggerBinding mouse(std::int64_t button);

    Kind kind() const { return static_cast<Kind>(m_payload.index()); }
    const Payload &payload() const { return m_payload; }
    // The payload when the binding is of that kind, else null.
    template <typename T>
    const T *as() const
    {
        return std::get_if<T>(&m_payload);
    }
    // True for the predefined key `key`.
    bool is(TriggerKey key) const;

    // The text kept in the settings: "fn", "modifier:58:524288:Left Alt", "key:49:Space",
    // "shortcut:1:1048576:Super+S", "macro:40+1048576,8+1048576:Macro · …", "mouse:3".
    QString storageValue() const;
    // Any text: the binding it stores, or nothing for empty, malformed or unknown text.
    static std::optional<TriggerBinding> fromStorageValue(QStringView text);

    // The user-visible name: the predefined key's name, the stored label, or "Mouse Button N" counted from one.
    QString displayName() const;

    // Tests of a key-down, key-up, flags-changed or other-mouse event against the binding. The Fn key is
    // pressed and released by every event: callers decide it from isHeld.
    bool matchesPress(const TriggerEvent &event) const;
    bool matchesRelease(const TriggerEvent &event) const;
    // Whether the event's flags show the binding's modifier down (false for kinds without one). When the
    // event carries per-key bits for that modifier, the binding's own key must be down: holding the other
    // key of the same modifier does not count.
    bool isHeld(const TriggerEvent &event) const;

    // The binding a recorded event makes: a side mouse button, a modifier key going down, or a key-down
    // (not a repeat, not Escape). Nothing for anything else.
    static std::optional<TriggerBinding> fromEvent(const TriggerEvent &event);
    // The binding a recording makes from its key-downs (repeats and Escape dropped): nothing, the single
    // key's binding, or a macro of two or more strokes.
    static std::optional<TriggerBinding> fromEvents(std::span<const TriggerEvent> events);

    friend bool operator==(const TriggerBinding &, const TriggerBinding &) = default;

private:
    explicit TriggerBinding(Payload payload) : m_payload(std::move(payload)) {}

    Payload m_payload;
};

// The trigger list the event tap runs on, from the values of "triggerKey" and "secondaryTriggerKey" (none
// when a key is missing): the primary always first ("fn" when missing; a value that does not decode acts
// as Fn), then the secondary when it is set and decodes.
std::vector<QString> triggerValues(const std::optional<QString> &triggerKey,
                                   const std::optional<QString> &secondaryTriggerKey);

struct ModifierKeyInfo {
    std::uint64_t flag = 0;
    QString label;
};

// The eight left and right Shift, Control, Alt and Super keys; nothing for any other code (Caps Lock and Fn
// included).
std::optional<ModifierKeyInfo> modifierKeyInfo(std::int64_t keyCode);
// The per-key bit of one of those eight keys (ModifierFlag::leftOptionKey …), 0 for any other code.
std::uint64_t modifierKeySideFlag(std::int64_t keyCode);
// The name of a recorded key-down: a fixed name for keys that type nothing visible, else the typed text in
// upper case, else "Key " and the code.
QString keyDisplayName(const TriggerEvent &event);
// "Super+", "Shift+", "Alt+", "Ctrl+" for the set flags, in that order; empty for none.
QString modifierSymbols(std::uint64_t flags);

} // namespace zq

#include "window/recorder/RecorderEventTranslator.h"

#include "pipeline/TriggerBinding.h"
#include "pipeline/TriggerKey.h"

#include <QKeyEvent>
#include <QMouseEvent>

namespace zq {

namespace {

bool isModifierCode(std::int64_t code)
{
    return modifierKeyInfo(code).has_value() || code == KeyCode::function || code == KeyCode::capsLock;
}

std::uint64_t flagsOfKey(std::int64_t code)
{
    if (code == KeyCode::function)
        return ModifierFlag::function;
    if (const std::optional<ModifierKeyInfo> info = modifierKeyInfo(code))
        return info->flag | modifierKeySideFlag(code);
    return 0;
}

// The key's own text, whatever the modifiers make of it: Qt names printable keys by their character.
QString charactersOf(const QKeyEvent &event)
{
    const int key = event.key();
    if (key > 0x20 && key < 0x01000000)
        return QString::fromUcs4(reinterpret_cast<const char32_t *>(&key), 1).toLower();
    return {};
}

} // namespace

RecorderEventTranslator::RecorderEventTranslator(std::optional<platform::KeyboardMap> keyboard)
    : m_keyboard(std::move(keyboard))
{}

std::uint64_t RecorderEventTranslator::currentFlags(std::uint64_t qtHeld) const
{
    std::uint64_t flags = 0;
    for (const std::int64_t code : m_modifiersDown)
        flags |= flagsOfKey(code);
    // A modifier that was already down when recording began is known only from the event.
    return flags | (qtHeld & ~flags);
}

std::optional<TriggerEvent> RecorderEventTranslator::translate(const QEvent &event)
{
    TriggerEvent out;
    switch (event.type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
        const auto &key = static_cast<const QKeyEvent &>(event);
        const bool press = event.type() == QEvent::KeyPress;
        const std::uint32_t scanCode = key.nativeScanCode();
        const std::int64_t code = m_keyboard ? m_keyboard->logicalCode(scanCode) : 0x1000 + std::int64_t(scanCode);
        std::uint64_t qtHeld = 0;
        const Qt::KeyboardModifiers modifiers = key.modifiers();
        if (modifiers & Qt::ShiftModifier)
            qtHeld |= ModifierFlag::shift;
        if (modifiers & Qt::ControlModifier)
            qtHeld |= ModifierFlag::control;
        if (modifiers & Qt::AltModifier)
            qtHeld |= ModifierFlag::option;
        if (modifiers & Qt::MetaModifier)
            qtHeld |= ModifierFlag::command;
        out.keyCode = code;
        out.time = std::chrono::milliseconds(key.timestamp());
        if (isModifierCode(code)) {
            const bool wasDown = m_modifiersDown.count(code) != 0;
            if (press == wasDown)
                return std::nullopt; // a modifier's repeat, or a release never seen pressed
            if (press)
                m_modifiersDown.insert(code);
            else
                m_modifiersDown.erase(code);
            out.type = TriggerEventType::flagsChanged;
            // Qt reports a modifier's own flag as still set on its release (and not yet on its
            // press): the keys seen down say what holds after the change.
            out.flags = currentFlags(0);
            return out;
        }
        if (!press && key.isAutoRepeat())
            return std::nullopt;
        out.type = press ? TriggerEventType::keyDown : TriggerEventType::keyUp;
        out.isAutoRepeat = press && key.isAutoRepeat();
        out.flags = currentFlags(qtHeld);
        out.characters = charactersOf(key);
        return out;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease: {
        const auto &mouse = static_cast<const QMouseEvent &>(event);
        const std::optional<std::int64_t> button = logicalMouseButton(int(mouse.button()));
        if (!button)
            return std::nullopt;
        out.type = event.type() == QEvent::MouseButtonPress ? TriggerEventType::otherMouseDown
                                                            : TriggerEventType::otherMouseUp;
        out.buttonNumber = *button;
        out.flags = currentFlags(0);
        out.time = std::chrono::milliseconds(mouse.timestamp());
        return out;
    }
    default:
        return std::nullopt;
    }
}

std::optional<std::int64_t> RecorderEventTranslator::logicalMouseButton(int qtButton)
{
    if (qtButton == Qt::MiddleButton)
        return 2;
    // Qt numbers the buttons after the middle one as single bits from BackButton (X button 8) on.
    for (int bit = 0; bit < 24; ++bit) {
        if (qtButton == (int(Qt::BackButton) << bit))
            return 3 + bit;
    }
    return std::nullopt;
}

} // namespace zq

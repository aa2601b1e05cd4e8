#include "pipeline/TriggerBinding.h"

#include <QStringList>

#include <array>
#include <limits>
#include <type_traits>

namespace zq {

namespace {

template <class... Fs>
struct Overloaded : Fs... {
    using Fs::operator()...;
};
template <class... Fs>
Overloaded(Fs...) -> Overloaded<Fs...>;

struct ModifierKeyRow {
    std::int64_t keyCode;
    std::uint64_t flag;
    std::uint64_t sideFlag;
    const char *label;
};

// Names in this desktop's words (Super, Alt), as the predefined keys' names are.
constexpr std::array<ModifierKeyRow, 8> modifierKeyRows{{
    {KeyCode::rightCommand, ModifierFlag::command, ModifierFlag::rightCommandKey, "Right Super"},
    {KeyCode::leftCommand, ModifierFlag::command, ModifierFlag::leftCommandKey, "Left Super"},
    {KeyCode::leftShift, ModifierFlag::shift, ModifierFlag::leftShiftKey, "Left Shift"},
    {KeyCode::leftOption, ModifierFlag::option, ModifierFlag::leftOptionKey, "Left Alt"},
    {KeyCode::leftControl, ModifierFlag::control, ModifierFlag::leftControlKey, "Left Control"},
    {KeyCode::rightShift, ModifierFlag::shift, ModifierFlag::rightShiftKey, "Right Shift"},
    {KeyCode::rightOption, ModifierFlag::option, ModifierFlag::rightOptionKey, "Right Alt"},
    {KeyCode::rightControl, ModifierFlag::control, ModifierFlag::rightControlKey, "Right Control"},
}};

const ModifierKeyRow *modifierKeyRow(std::int64_t keyCode)
{
    for (const ModifierKeyRow &row : modifierKeyRows) {
        if (row.keyCode == keyCode)
            return &row;
    }
    return nullptr;
}

// Whether the modifier key `keyCode`, whose binding watches `flag`, is down according to `flags`.
// Left and right keys share one flag, so with both down the flag alone cannot tell that this key went up.
// The per-key bits can; they are consulted only when the event carries them for this modifier and the
// binding watches exactly its key's own modifier, so bindings and events without them keep the plain
// flag test.
bool modifierKeyDown(std::int64_t keyCode, std::uint64_t flag, std::uint64_t flags)
{
    if ((flags & flag) == 0)
        return false;
    const ModifierKeyRow *row = modifierKeyRow(keyCode);
    if (row == nullptr || row->flag != flag)
        return true;
    std::uint64_t bothSides = 0;
    for (const ModifierKeyRow &other : modifierKeyRows) {
        if (other.flag == row->flag)
            bothSides |= other.sideFlag;
    }
    if ((flags & bothSides) == 0)
        return true;
    return (flags & row->sideFlag) != 0;
}

// The decimal integer parse that stored numbers must pass: an optional sign, one or more ASCII digits,
// nothing else, and a value inside T's range ("-0" is 0 even for unsigned T).
template <typename T>
std::optional<T> parseDecimal(QStringView text)
{
    static_assert(std::is_same_v<T, std::int64_t> || std::is_same_v<T, std::uint64_t>);
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == text.size())
        return std::nullopt;
    constexpr std::uint64_t maxMagnitude = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const std::uint64_t digit = c - u'0';
        if (magnitude > (maxMagnitude - digit) / 10)
            return std::nullopt;
        magnitude = magnitude * 10 + digit;
    }
    if constexpr (std::is_same_v<T, std::uint64_t>) {
        if (negative && magnitude != 0)
            return std::nullopt;
        return magnitude;
    } else {
        constexpr std::uint64_t maxPositive = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
        if (!negative) {
            if (magnitude > maxPositive)
                return std::nullopt;
            return static_cast<std::int64_t>(magnitude);
        }
        if (magnitude > maxPositive + 1)
            return std::nullopt;
        if (magnitude == maxPositive + 1)
            return std::numeric_limits<std::int64_t>::min();
        return -static_cast<std::int64_t>(magnitude);
    }
}

// Splits at `separator` into at most `maxParts` parts; the last part keeps any further separators and
// empty parts are kept.
std::vector<QStringView> splitKeepingEmpty(QStringView text, QChar separator, qsizetype maxParts)
{
    std::vector<QStringView> parts;
    qsizetype start = 0;
    while (static_cast<qsizetype>(parts.size()) + 1 < maxParts) {
        const qsizetype at = text.indexOf(separator, start);
        if (at < 0)
            break;
        parts.push_back(text.sliced(start, at - start));
        start = at + 1;
    }
    parts.push_back(text.sliced(start));
    return parts;
}

// Splits at `separator` dropping empty parts. With `maxParts` > 0 splitting stops once maxParts - 1 parts
// are taken and the rest, when not empty, is the last part (so a stray separator right after the split
// point stays in it).
std::vector<QStringView> splitDroppingEmpty(QStringView text, QChar separator, qsizetype maxParts)
{
    std::vector<QStringView> parts;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (maxParts > 0 && static_cast<qsizetype>(parts.size()) + 1 >= maxParts)
            break;
        if (text[i] != separator)
            continue;
        if (i > start)
            parts.push_back(text.sliced(start, i - start));
        start = i + 1;
    }
    if (start < text.size())
        parts.push_back(text.sliced(start));
    return parts;
}

std::optional<TriggerStroke> decodeStroke(QStringView text)
{
    const qsizetype plus = text.indexOf(u'+');
    if (plus < 0)
        return std::nullopt;
    const QStringView codePart = text.first(plus);
    const QStringView modifiersPart = text.sliced(plus + 1);
    if (codePart.isEmpty() || modifiersPart.isEmpty())
        return std::nullopt;
    const auto code = parseDecimal<std::int64_t>(codePart);
    const auto modifiers = parseDecimal<std::uint64_t>(modifiersPart);
    if (!code || !modifiers)
        return std::nullopt;
    return TriggerStroke{*code, *modifiers & ModifierFlag::triggerMask};
}

bool isTriggerKeyCode(std::int64_t code, TriggerKey &found)
{
    for (TriggerKey key : allTriggerKeys()) {
        if (keyCode(key) == code) {
            found = key;
            return true;
        }
    }
    return false;
}

} // namespace

TriggerBinding TriggerBinding::predefined(TriggerKey key)
{
    return TriggerBinding(Predefined{key});
}

TriggerBinding TriggerBinding::modifier(std::int64_t keyCode, std::uint64_t flag, QString label)
{
    return TriggerBinding(Modifier{keyCode, flag & ModifierFlag::triggerMask, std::move(label)});
}

TriggerBinding TriggerBinding::keyboard(std::int64_t keyCode, QString label)
{
    return TriggerBinding(Keyboard{keyCode, std::move(label)});
}

TriggerBinding TriggerBinding::shortcut(TriggerStroke stroke, QString label)
{
    stroke.modifiers &= ModifierFlag::triggerMask;
    return TriggerBinding(Shortcut{stroke, std::move(label)});
}

TriggerBinding TriggerBinding::macro(std::vector<TriggerStroke> strokes, QString label)
{
    for (TriggerStroke &stroke : strokes)
        stroke.modifiers &= ModifierFlag::triggerMask;
    return TriggerBinding(Macro{std::move(strokes), std::move(label)});
}

TriggerBinding TriggerBinding::mouse(std::int64_t button)
{
    return TriggerBinding(Mouse{button});
}

bool TriggerBinding::is(TriggerKey key) const
{
    const Predefined *predefined = as<Predefined>();
    return predefined != nullptr && predefined->key == key;
}

QString TriggerBinding::storageValue() const
{
    const QString colon = QStringLiteral(":");
    return std::visit(
        Overloaded{
            [](const Predefined &p) { return rawValue(p.key); },
            [&](const Modifier &m) {
                return QStringLiteral("modifier:") + QString::number(m.keyCode) + colon + QString::number(m.flag) +
                       colon + m.label;
            },
            [&](const Keyboard &k) { return QStringLiteral("key:") + QString::number(k.keyCode) + colon + k.label; },
            [&](const Shortcut &s) {
                return QStringLiteral("shortcut:") + QString::number(s.stroke.keyCode) + colon +
                       QString::number(s.stroke.modifiers) + colon + s.label;
            },
            [&](const Macro &m) {
                QStringList strokes;
                strokes.reserve(static_cast<qsizetype>(m.strokes.size()));
                for (const TriggerStroke &stroke : m.strokes)
                    strokes.append(QString::number(stroke.keyCode) + u'+' + QString::number(stroke.modifiers));
                return QStringLiteral("macro:") + strokes.join(u',') + colon + m.label;
            },
            [](const Mouse &m) { return QStringLiteral("mouse:") + QString::number(m.button); },
        },
        m_payload);
}

std::optional<TriggerBinding> TriggerBinding::fromStorageValue(QStringView text)
{
    if (const auto key = fromRawValue<TriggerKey>(text))
        return predefined(*key);

    const std::vector<QStringView> three = splitKeepingEmpty(text, u':', 3);
    if (three.size() == 3 && three[0] == u"key") {
        const auto code = parseDecimal<std::int64_t>(three[1]);
        if (code && !three[2].isEmpty())
            return keyboard(*code, three[2].toString());
    }

    const std::vector<QStringView> four = splitKeepingEmpty(text, u':', 4);
    if (four.size() == 4 && four[0] == u"modifier") {
        const auto code = parseDecimal<std::int64_t>(four[1]);
        const auto flag = parseDecimal<std::uint64_t>(four[2]);
        if (code && flag && (*flag & ModifierFlag::triggerMask) != 0 && !four[3].isEmpty())
            return modifier(*code, *flag, four[3].toString());
    }
    if (four.size() == 4 && four[0] == u"shortcut") {
        const auto code = parseDecimal<std::int64_t>(four[1]);
        const auto modifiers = parseDecimal<std::uint64_t>(four[2]);
        if (code && modifiers && !four[3].isEmpty())
            return shortcut(TriggerStroke{*code, *modifiers}, four[3].toString());
    }

    if (three.size() == 3 && three[0] == u"macro" && !three[2].isEmpty()) {
        // Strokes that do not parse are skipped rather than failing the whole macro.
        std::vector<TriggerStroke> strokes;
        for (QStringView item : splitDroppingEmpty(three[1], u',', 0)) {
            if (const auto stroke = decodeStroke(item))
                strokes.push_back(*stroke);
        }
        if (strokes.size() >= 2)
            return macro(std::move(strokes), three[2].toString());
    }

    const std::vector<QStringView> two = splitDroppingEmpty(text, u':', 2);
    if (two.size() == 2 && two[0] == u"mouse") {
        const auto button = parseDecimal<std::int64_t>(two[1]);
        if (button && *button >= 2)
            return mouse(*button);
    }
    return std::nullopt;
}

QString TriggerBinding::displayName() const
{
    return std::visit(Overloaded{
                          [](const Predefined &p) { return zq::displayName(p.key); },
                          [](const Modifier &m) { return m.label; },
                          [](const Keyboard &k) { return k.label; },
                          [](const Shortcut &s) { return s.label; },
                          [](const Macro &m) { return m.label; },
                          [](const Mouse &m) {
                              // Counted from one; the largest stored button must not overflow.
                              const QString number = m.button < std::numeric_limits<std::int64_t>::max()
                                                         ? QString::number(m.button + 1)
                                                         : QString::number(static_cast<std::uint64_t>(m.button) + 1);
                              return QStringLiteral("Mouse Button ") + number;
                          },
                      },
                      m_payload);
}

bool TriggerBinding::matchesPress(const TriggerEvent &event) const
{
    if (const Shortcut *s = as<Shortcut>()) {
        return event.keyCode == s->stroke.keyCode && (event.flags & ModifierFlag::triggerMask) == s->stroke.modifiers;
    }
    return matchesRelease(event);
}

bool TriggerBinding::matchesRelease(const TriggerEvent &event) const
{
    return std::visit(Overloaded{
                          [&](const Predefined &p) {
                              // Fn has no key code: every event matches and the flag decides.
                              const auto code = keyCode(p.key);
                              return !code || *code == event.keyCode;
                          },
                          [&](const Modifier &m) { return m.keyCode == event.keyCode; },
                          [&](const Keyboard &k) { return k.keyCode == event.keyCode; },
                          [&](const Shortcut &s) { return s.stroke.keyCode == event.keyCode; },
                          [](const Macro &) { return false; },
                          [&](const Mouse &m) { return m.button == event.buttonNumber; },
                      },
                      m_payload);
}

bool TriggerBinding::isHeld(const TriggerEvent &event) const
{
    if (const Modifier *m = as<Modifier>())
        return modifierKeyDown(m->keyCode, m->flag, event.flags);
    if (const Predefined *p = as<Predefined>()) {
        const auto flag = heldFlag(p->key);
        if (!flag)
            return false;
        const auto code = keyCode(p->key);
        if (!code)
            return (event.flags & *flag) != 0;
        return modifierKeyDown(*code, *flag, event.flags);
    }
    return false;
}

std::optional<TriggerBinding> TriggerBinding::fromEvent(const TriggerEvent &event)
{
    switch (event.type) {
    case TriggerEventType::otherMouseDown:
        if (event.buttonNumber >= 2)
            return mouse(event.buttonNumber);
        return std::nullopt;
    case TriggerEventType::flagsChanged:
        if (const ModifierKeyRow *row = modifierKeyRow(event.keyCode)) {
            if (modifierKeyDown(row->keyCode, row->flag, event.flags))
                return modifier(row->keyCode, row->flag, QString::fromUtf8(row->label));
        }
        return std::nullopt;
    case TriggerEventType::keyDown: {
        if (event.isAutoRepeat || event.keyCode == KeyCode::escape)
            return std::nullopt;
        const std::uint64_t modifiers = event.flags & ModifierFlag::triggerMask;
        const QString name = keyDisplayName(event);
        if (modifiers != 0)
            return shortcut(TriggerStroke{event.keyCode, modifiers}, modifierSymbols(modifiers) + name);
        TriggerKey key{};
        if (isTriggerKeyCode(event.keyCode, key))
            return predefined(key);
        return keyboard(event.keyCode, name);
    }
    default:
        return std::nullopt;
    }
}

std::optional<TriggerBinding> TriggerBinding::fromEvents(std::span<const TriggerEvent> events)
{
    std::vector<const TriggerEvent *> kept;
    for (const TriggerEvent &event : events) {
        if (event.type == TriggerEventType::keyDown && !event.isAutoRepeat && event.keyCode != KeyCode::escape)
            kept.push_back(&event);
    }
    if (kept.empty())
        return std::nullopt;
    if (kept.size() == 1)
        return fromEvent(*kept.front());

    std::vector<TriggerStroke> strokes;
    QStringList names;
    for (const TriggerEvent *event : kept) {
        strokes.push_back(TriggerStroke{event->keyCode, event->flags & ModifierFlag::triggerMask});
        names.append(modifierSymbols(event->flags) + keyDisplayName(*event));
    }
    return macro(std::move(strokes), QStringLiteral("Macro · ") + names.join(QStringLiteral(" → ")));
}

std::vector<QString> triggerValues(const std::optional<QString> &triggerKey,
                                   const std::optional<QString> &secondaryTriggerKey)
{
    std::vector<QString> values{triggerKey.value_or(QStringLiteral("fn"))};
    if (secondaryTriggerKey && !secondaryTriggerKey->isEmpty() &&
        TriggerBinding::fromStorageValue(*secondaryTriggerKey))
        values.push_back(*secondaryTriggerKey);
    return values;
}

std::optional<ModifierKeyInfo> modifierKeyInfo(std::int64_t keyCode)
{
    if (const ModifierKeyRow *row = modifierKeyRow(keyCode))
        return ModifierKeyInfo{row->flag, QString::fromUtf8(row->label)};
    return std::nullopt;
}

std::uint64_t modifierKeySideFlag(std::int64_t keyCode)
{
    const ModifierKeyRow *row = modifierKeyRow(keyCode);
    return row != nullptr ? row->sideFlag : 0;
}

QString keyDisplayName(const TriggerEvent &event)
{
    switch (event.keyCode) {
    case 36:
        return QStringLiteral("Return");
    case 48:
        return QStringLiteral("Tab");
    case 49:
        return QStringLiteral("Space");
    case 51:
        return QStringLiteral("Backspace");
    case 115:
        return QStringLiteral("Home");
    case 116:
        return QStringLiteral("Page Up");
    case 117:
        return QStringLiteral("Delete");
    case 119:
        return QStringLiteral("End");
    case 121:
        return QStringLiteral("Page Down");
    case 123:
        return QStringLiteral("Left Arrow");
    case 124:
        return QStringLiteral("Right Arrow");
    case 125:
        return QStringLiteral("Down Arrow");
    case 126:
        return QStringLiteral("Up Arrow");
    default:
        break;
    }
    if (!event.characters.isEmpty())
        return event.characters.toUpper();
    return QStringLiteral("Key ") + QString::number(event.keyCode);
}

QString modifierSymbols(std::uint64_t flags)
{
    // In the order Linux desktops write a shortcut.
    QString symbols;
    if (flags & ModifierFlag::control)
        symbols += QStringLiteral("Ctrl+");
    if (flags & ModifierFlag::option)
        symbols += QStringLiteral("Alt+");
    if (flags & ModifierFlag::shift)
        symbols += QStringLiteral("Shift+");
    if (flags & ModifierFlag::command)
        symbols += QStringLiteral("Super+");
    return symbols;
}

} // namespace zq

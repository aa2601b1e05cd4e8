#include "platform/linux/x11/X11KeySynthesizer.h"

#include "pipeline/TriggerKey.h"
#include "platform/linux/x11/X11Connection.h"
#include "platform/linux/x11/X11SyntheticKeys.h"
#include "runtime/Log.h"

#include <array>
#include <vector>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace zq::platform {

namespace {

// Positions of the chords' keys on evdev keyboards, for layouts that map none of their keysyms.
constexpr int kEvdevLeftControl = 37;
constexpr int kEvdevLeftShift = 50;
constexpr int kEvdevV = 55;
constexpr int kEvdevInsert = 118;

struct ChordKeys {
    bool control = false;
    bool shift = false;
    KeySym key = XK_v;
    int keyFallback = kEvdevV;
};

ChordKeys keysOf(PasteChord chord)
{
    switch (chord) {
    case PasteChord::controlV:
        return {true, false, XK_v, kEvdevV};
    case PasteChord::controlShiftV:
        return {true, true, XK_v, kEvdevV};
    case PasteChord::shiftInsert:
        return {false, true, XK_Insert, kEvdevInsert};
    }
    return {};
}

using KeyMap = std::array<char, 32>;

bool isDown(const KeyMap &keys, int code)
{
    return code >= 0 && code < 256 && (keys[static_cast<std::size_t>(code / 8)] & (1 << (code % 8))) != 0;
}

int keyCodeFor(Display *display, KeySym keysym, int fallback)
{
    if (const ::KeyCode code = XKeysymToKeycode(display, keysym); code != 0)
        return code;
    int minCode = 0;
    int maxCode = 0;
    XDisplayKeycodes(display, &minCode, &maxCode);
    return fallback >= minCode && fallback <= maxCode ? fallback : 0;
}

// Toggles (Caps Lock, Num Lock, …) sit in the modifier map too, but holding them changes no shortcut.
bool isLockKey(Display *display, int code)
{
    const KeySym keysym = XkbKeycodeToKeysym(display, static_cast<::KeyCode>(code), 0, 0);
    return keysym == XK_Caps_Lock || keysym == XK_Shift_Lock || keysym == XK_Num_Lock || keysym == XK_Scroll_Lock;
}

} // namespace

X11KeySynthesizer::X11KeySynthesizer(std::shared_ptr<X11SyntheticKeys> ownKeys, QByteArray displayName)
    : m_ownKeys(std::move(ownKeys)), m_displayName(std::move(displayName))
{}

X11KeySynthesizer::~X11KeySynthesizer() = default;

X11Connection *X11KeySynthesizer::connection()
{
    if (m_connection && !m_connection->isBroken())
        return m_connection.get();
    m_connection.reset();
    QString why;
    if (m_displayName.isEmpty()) {
        why = QStringLiteral("no X11 display");
    } else if (auto opened = X11Connection::open(m_displayName, &why)) {
        int event = 0;
        int error = 0;
        int major = 0;
        int minor = 0;
        if (XTestQueryExtension(opened->display(), &event, &error, &major, &minor)) {
            m_connection = std::move(opened);
            m_reportedFailure = false;
            return m_connection.get();
        }
        why = QStringLiteral("the X server has no XTest extension");
    }
    if (!m_reportedFailure)
        qCWarning(lcPaste) << "paste: cannot post the paste shortcut:" << why;
    m_reportedFailure = true;
    return nullptr;
}

std::uint64_t X11KeySynthesizer::heldModifiers()
{
    X11Connection *x11 = connection();
    if (!x11)
        return 0;
    Display *display = x11->display();
    KeyMap keys{};
    XQueryKeymap(display, keys.data());
    XModifierKeymap *modifiers = XGetModifierMapping(display);
    if (!modifiers)
        return 0;
    std::uint64_t flags = 0;
    for (int index = 0; index < 8; ++index) {
        if (index == LockMapIndex)
            continue;
        for (int slot = 0; slot < modifiers->max_keypermod; ++slot) {
            const int code = modifiers->modifiermap[index * modifiers->max_keypermod + slot];
            if (code == 0 || !isDown(keys, code) || isLockKey(display, code))
                continue;
            // Shift and Control stay themselves, the Super row is Command; Alt, AltGr and the rest count
            // as Option.
            flags |= index == ShiftMapIndex     ? ModifierFlag::shift
                     : index == ControlMapIndex ? ModifierFlag::control
                     : index == Mod4MapIndex    ? ModifierFlag::command
                                                : ModifierFlag::option;
        }
    }
    XFreeModifiermap(modifiers);
    return flags;
}

bool X11KeySynthesizer::postPasteChord(PasteChord chord)
{
    X11Connection *x11 = connection();
    if (!x11)
        return false;
    Display *display = x11->display();
    const ChordKeys wanted = keysOf(chord);
    const int control = wanted.control ? keyCodeFor(display, XK_Control_L, kEvdevLeftControl) : 0;
    const int shift = wanted.shift ? keyCodeFor(display, XK_Shift_L, kEvdevLeftShift) : 0;
    const int key = keyCodeFor(display, wanted.key, wanted.keyFallback);
    if (key == 0 || (wanted.control && control == 0) || (wanted.shift && shift == 0)) {
        qCWarning(lcPaste) << "paste: the keyboard map lacks a key of the paste shortcut";
        return false;
    }
    KeyMap keys{};
    XQueryKeymap(display, keys.data());
    bool controlHeld = false;
    bool shiftHeld = false;
    for (int code = 8; code < 256; ++code) {
        if (!isDown(keys, code))
            continue;
        const KeySym keysym = XkbKeycodeToKeysym(display, static_cast<::KeyCode>(code), 0, 0);
        controlHeld = controlHeld || keysym == XK_Control_L || keysym == XK_Control_R;
        shiftHeld = shiftHeld || keysym == XK_Shift_L || keysym == XK_Shift_R;
    }

    // Modifiers the user already holds stay as they are: pressing them again would change nothing, and
    // letting them go would leave the user's key up under a finger that is still down.
    std::vector<int> modifiers;
    if (wanted.control && !controlHeld)
        modifiers.push_back(control);
    if (wanted.shift && !shiftHeld)
        modifiers.push_back(shift);
    std::vector<X11SyntheticKeys::Transition> transitions;
    for (const int modifier : modifiers)
        transitions.push_back({modifier, true});
    transitions.push_back({key, true});
    transitions.push_back({key, false});
    for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it)
        transitions.push_back({*it, false});
    if (m_ownKeys)
        m_ownKeys->announce(transitions);
    for (const auto &transition : transitions)
        XTestFakeKeyEvent(display, static_cast<unsigned>(transition.xKeyCode), transition.press ? True : False,
                          CurrentTime);
    XSync(display, False);
    return !x11->isBroken();
}

} // namespace zq::platform

#include "platform/linux/X11KeySynthesizer.h"

#include "pipeline/TriggerKey.h"
#include "platform/linux/X11Connection.h"
#include "platform/linux/X11SyntheticKeys.h"
#include "runtime/Log.h"

#include <array>
#include <vector>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace zq::platform {

namespace {

// Positions of Control_L and V on evdev keyboards, for layouts that map neither keysym.
constexpr int kEvdevLeftControl = 37;
constexpr int kEvdevV = 55;

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
        if (index == ControlMapIndex || index == LockMapIndex)
            continue;
        for (int slot = 0; slot < modifiers->max_keypermod; ++slot) {
            const int code = modifiers->modifiermap[index * modifiers->max_keypermod + slot];
            if (code == 0 || !isDown(keys, code) || isLockKey(display, code))
                continue;
            // Shift stays Shift, the Super row is Command; Alt, AltGr and the rest count as Option.
            flags |= index == ShiftMapIndex  ? ModifierFlag::shift
                     : index == Mod4MapIndex ? ModifierFlag::command
                                             : ModifierFlag::option;
        }
    }
    XFreeModifiermap(modifiers);
    return flags;
}

bool X11KeySynthesizer::postPasteChord()
{
    X11Connection *x11 = connection();
    if (!x11)
        return false;
    Display *display = x11->display();
    const int control = keyCodeFor(display, XK_Control_L, kEvdevLeftControl);
    const int v = keyCodeFor(display, XK_v, kEvdevV);
    if (control == 0 || v == 0) {
        qCWarning(lcPaste) << "paste: the keyboard map has no Control or V key";
        return false;
    }
    KeyMap keys{};
    XQueryKeymap(display, keys.data());
    bool controlHeld = false;
    for (int code = 8; code < 256; ++code) {
        if (!isDown(keys, code))
            continue;
        const KeySym keysym = XkbKeycodeToKeysym(display, static_cast<::KeyCode>(code), 0, 0);
        controlHeld = controlHeld || keysym == XK_Control_L || keysym == XK_Control_R;
    }

    std::vector<X11SyntheticKeys::Transition> chord;
    if (!controlHeld)
        chord.push_back({control, true});
    chord.push_back({v, true});
    chord.push_back({v, false});
    if (!controlHeld)
        chord.push_back({control, false});
    if (m_ownKeys)
        m_ownKeys->announce(chord);
    for (const auto &transition : chord)
        XTestFakeKeyEvent(display, static_cast<unsigned>(transition.xKeyCode), transition.press ? True : False,
                          CurrentTime);
    XSync(display, False);
    return !x11->isBroken();
}

} // namespace zq::platform

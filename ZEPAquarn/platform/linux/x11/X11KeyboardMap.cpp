#include "platform/linux/x11/X11KeyboardMap.h"

#include "pipeline/TriggerKey.h"
#include "platform/linux/x11/X11Connection.h"
#include "platform/linux/x11/X11KeyCodes.h"

#include <X11/XKBlib.h>

namespace zq::platform::x11 {

namespace {

// XF86XK_Fn: the keysym of the kernel's KEY_FN (its header's macro does not survive the header).
constexpr KeySym kFnKeysym = 0x10081000 + 0x1D0;

} // namespace

KeyboardMap readKeyboardMap(_XDisplay *display)
{
    KeyboardMap map;
    for (std::size_t code = 0; code < map.logicalCodes.size(); ++code)
        map.logicalCodes[code] = unmappedKeyCode(int(code));
    // The key symbols come fresh from the server: a connection that reads no keyboard events would
    // otherwise answer from a copy Xlib keeps, which does not follow a changed layout.
    XkbDescPtr keyboard = XkbGetMap(display, XkbKeyTypesMask | XkbKeySymsMask, XkbUseCoreKbd);
    if (!keyboard)
        return map;
    if (XkbGetNames(display, XkbKeyNamesMask, keyboard) == Success && keyboard->names && keyboard->names->keys) {
        for (int code = keyboard->min_key_code; code <= keyboard->max_key_code && code < 256; ++code) {
            const char *name = keyboard->names->keys[code].name;
            if (const auto logical = logicalKeyCode(QByteArrayView(name, XkbKeyNameLength)))
                map.logicalCodes[std::size_t(code)] = *logical;
        }
    }
    // Few keyboards give the Fn key to the display server at all; a layout that does maps it here.
    for (int code = keyboard->min_key_code; code <= keyboard->max_key_code && code < 256; ++code) {
        if (XkbKeyNumGroups(keyboard, code) > 0 && XkbKeySymEntry(keyboard, code, 0, 0) == kFnKeysym) {
            map.logicalCodes[std::size_t(code)] = zq::KeyCode::function;
            map.hasFnKey = true;
        }
    }
    XkbFreeKeyboard(keyboard, 0, True);
    return map;
}

std::optional<KeyboardMap> readKeyboardMap(const QByteArray &displayName)
{
    if (displayName.isEmpty())
        return std::nullopt;
    QString why;
    const std::unique_ptr<X11Connection> connection = X11Connection::open(displayName, &why);
    if (!connection)
        return std::nullopt;
    KeyboardMap map = readKeyboardMap(connection->display());
    if (connection->isBroken())
        return std::nullopt;
    return map;
}

} // namespace zq::platform::x11

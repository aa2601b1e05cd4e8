#include "platform/linux/x11/X11EscapeKeyGrab.h"

#include "pipeline/TriggerKey.h"
#include "platform/linux/x11/X11KeyboardMap.h"
#include "runtime/Log.h"

#include <cstdlib>
#include <optional>

#include <xcb/xcb.h>

namespace zq::platform {

namespace {

// Shift, Lock, Control and Mod1 to Mod5: each of their combinations is one grab. The cancel works with
// any of them down (a modifier trigger held, Num Lock on), so the grab has to cover them all; one grab
// of any modifier would fail whole when another client grabbed a single combination.
constexpr std::uint16_t kModifierCombinations = 256;

// Waits for the server's answer to each request; returns how many it refused.
std::size_t refusedCount(xcb_connection_t *connection, const std::vector<xcb_void_cookie_t> &requests)
{
    std::size_t refused = 0;
    for (const xcb_void_cookie_t request : requests) {
        if (xcb_generic_error_t *error = xcb_request_check(connection, request)) {
            ++refused;
            std::free(error);
        }
    }
    return refused;
}

} // namespace

void X11EscapeKeyGrab::Disconnect::operator()(xcb_connection_t *connection) const
{
    xcb_disconnect(connection);
}

X11EscapeKeyGrab::X11EscapeKeyGrab(QByteArray displayName) : m_displayName(std::move(displayName)) {}

X11EscapeKeyGrab::~X11EscapeKeyGrab()
{
    setHeld(false);
}

void X11EscapeKeyGrab::setHeld(bool held)
{
    if (held == m_held)
        return;
    m_held = held;
    if (held) {
        if (xcb_connection_t *x11 = connection())
            grab(x11);
        return;
    }
    // A connection that broke took its grabs along.
    if (xcb_connection_t *x11 = openConnection())
        ungrab(x11);
}

xcb_connection_t *X11EscapeKeyGrab::openConnection()
{
    if (!m_connection)
        return nullptr;
    // Reading first notices a server that went away, before a request is written to its closed socket.
    dropEvents(m_connection.get());
    return xcb_connection_has_error(m_connection.get()) ? nullptr : m_connection.get();
}

xcb_connection_t *X11EscapeKeyGrab::connection()
{
    if (xcb_connection_t *x11 = openConnection())
        return x11;
    m_connection.reset();
    QString why = QStringLiteral("no X11 display");
    if (!m_displayName.isEmpty()) {
        why = QStringLiteral("cannot open the X display \"%1\"").arg(QString::fromLocal8Bit(m_displayName));
        int screenNumber = 0;
        std::unique_ptr<xcb_connection_t, Disconnect> opened(xcb_connect(m_displayName.constData(), &screenNumber));
        std::optional<KeyboardMap> keyboard;
        if (!xcb_connection_has_error(opened.get()))
            keyboard = x11::readKeyboardMap(m_displayName);
        if (keyboard) {
            const xcb_setup_t *setup = xcb_get_setup(opened.get());
            xcb_screen_iterator_t screens = xcb_setup_roots_iterator(setup);
            for (int i = 0; i < screenNumber && screens.rem > 0; ++i)
                xcb_screen_next(&screens);
            // Escape is the key the event tap takes for it: the one at Escape's place, whatever the layout.
            std::vector<std::uint8_t> keyCodes;
            for (int code = setup->min_keycode; code <= setup->max_keycode; ++code) {
                if (keyboard->logicalCode(std::uint32_t(code)) == zq::KeyCode::escape)
                    keyCodes.push_back(std::uint8_t(code));
            }
            why = QStringLiteral("the keyboard has no Escape key");
            if (screens.rem > 0 && !keyCodes.empty()) {
                m_root = screens.data->root;
                m_keyCodes = std::move(keyCodes);
                m_connection = std::move(opened);
                m_reportedFailure = false;
                return m_connection.get();
            }
        }
    }
    if (!m_reportedFailure)
        qCInfo(lcHotkey).noquote() << "escape: Escape stays with the windows during takes:" << why;
    m_reportedFailure = true;
    return nullptr;
}

void X11EscapeKeyGrab::grab(xcb_connection_t *x11)
{
    std::vector<xcb_void_cookie_t> requests;
    for (const std::uint8_t keyCode : m_keyCodes) {
        for (std::uint16_t modifiers = 0; modifiers < kModifierCombinations; ++modifiers)
            requests.push_back(
                xcb_grab_key_checked(x11, 0, m_root, modifiers, keyCode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    }
    const std::size_t refused = refusedCount(x11, requests);
    if (xcb_connection_has_error(x11))
        qCInfo(lcHotkey) << "escape: the display went away; Escape stays with the windows";
    else if (refused > 0)
        qCWarning(lcHotkey) << "escape:" << refused << "of" << requests.size()
                            << "grabs of Escape refused: another application holds those, and Escape with their"
                               " modifiers still reaches it";
}

void X11EscapeKeyGrab::ungrab(xcb_connection_t *x11)
{
    // Any modifier lets go of every combination this connection grabbed, and of no other client's.
    for (const std::uint8_t keyCode : m_keyCodes)
        xcb_ungrab_key(x11, keyCode, m_root, XCB_MOD_MASK_ANY);
    // Sent, not waited for: the server has it before the next key the user types, and a take lets go at
    // its release, where a round trip would hold up the recogniser's end of input.
    xcb_flush(x11);
}

void X11EscapeKeyGrab::dropEvents(xcb_connection_t *x11)
{
    while (xcb_generic_event_t *event = xcb_poll_for_event(x11))
        std::free(event);
}

} // namespace zq::platform

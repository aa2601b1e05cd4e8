#pragma once

#include "platform/EscapeKeyGrab.h"

#include <QByteArray>

#include <cstdint>
#include <memory>
#include <vector>

struct xcb_connection_t;

namespace zq::platform {

// Escape grabbed on the root window of an X11 display, on a connection of its own, opened at the first
// hold and again after the display went away. The key is the one the event tap knows as Escape: the key
// at Escape's place on the keyboard. Every combination of modifiers is a grab of its own, so that one
// combination another client grabbed costs only that combination; a grab that is refused is logged.
//
// Grabbed presses come to this connection, which only drops them: the event tap, listening to raw
// events, still sees them.
class X11EscapeKeyGrab final : public EscapeKeyGrab {
public:
    explicit X11EscapeKeyGrab(QByteArray displayName = qgetenv("DISPLAY"));
    ~X11EscapeKeyGrab() override;
    X11EscapeKeyGrab(const X11EscapeKeyGrab &) = delete;
    X11EscapeKeyGrab &operator=(const X11EscapeKeyGrab &) = delete;

    void setHeld(bool held) override;

private:
    struct Disconnect {
        void operator()(xcb_connection_t *connection) const;
    };

    // The connection, opened or reopened when needed; null when the display cannot be reached.
    xcb_connection_t *connection();
    // The connection as it is, when it is open and unbroken; null otherwise.
    xcb_connection_t *openConnection();
    void grab(xcb_connection_t *connection);
    void ungrab(xcb_connection_t *connection);
    // Drops what the grab delivered to this connection (the grabbed key events, notices to every client).
    void dropEvents(xcb_connection_t *connection);

    QByteArray m_displayName;
    std::unique_ptr<xcb_connection_t, Disconnect> m_connection;
    std::uint32_t m_root = 0;
    // Escape's X key codes on this connection's keyboard, read when it connects.
    std::vector<std::uint8_t> m_keyCodes;
    bool m_held = false;
    bool m_reportedFailure = false;
};

} // namespace zq::platform

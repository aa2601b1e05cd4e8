#pragma once

#include "platform/FrontWindow.h"

#include <QByteArray>

#include <chrono>
#include <memory>
#include <optional>

namespace zq::platform {

class X11Connection;

// The window in front on an X11 display: the keyboard focus, climbed up to the top-level window that
// carries WM_CLASS (the focus often sits on a child of it). When the focus names no such window (the
// root, or a window manager's frame), the window manager's _NET_ACTIVE_WINDOW on the root is asked. Its
// client is that window's resource base; a ping is _NET_WM_PING, sent where the window's WM_PROTOCOLS
// list it, whose answer comes back through the root window.
class X11FrontWindow final : public FrontWindow {
public:
    explicit X11FrontWindow(QByteArray displayName = qgetenv("DISPLAY"));
    ~X11FrontWindow() override;

    WindowClass windowClass() override;
    std::uint32_t client() override;
    Identity identity() override;
    bool ping() override;
    bool pingAnswered() override;

private:
    struct Found {
        unsigned long window = 0;
        WindowClass windowClass;
    };

    X11Connection *connection();
    // The window in front that carries the class; nothing when there is none or no display.
    std::optional<Found> find();
    // Takes the events of the root window in, noting the answer to the latest ping; stops listening once
    // it came or is too old to matter.
    void readPingAnswers();

    QByteArray m_displayName;
    std::unique_ptr<X11Connection> m_connection;
    bool m_reportedFailure = false;
    unsigned long m_pinged = 0; // the window a ping went to, while its answer is awaited
    long m_pingToken = 0;
    bool m_answered = false;
    std::chrono::steady_clock::time_point m_pingedAt;
};

} // namespace zq::platform

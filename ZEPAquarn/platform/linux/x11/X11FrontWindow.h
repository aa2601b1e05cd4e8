#pragma once

#include "platform/FrontWindow.h"

#include <QByteArray>

#include <memory>

namespace zq::platform {

class X11Connection;

// The window in front on an X11 display: the keyboard focus, climbed up to the top-level window that
// carries WM_CLASS (the focus often sits on a child of it). When the focus names no such window (the
// root, or a window manager's frame), the window manager's _NET_ACTIVE_WINDOW on the root is asked.
class X11FrontWindow final : public FrontWindow {
public:
    explicit X11FrontWindow(QByteArray displayName = qgetenv("DISPLAY"));
    ~X11FrontWindow() override;

    WindowClass windowClass() override;

private:
    X11Connection *connection();

    QByteArray m_displayName;
    std::unique_ptr<X11Connection> m_connection;
    bool m_reportedFailure = false;
};

} // namespace zq::platform

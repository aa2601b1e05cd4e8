#pragma once

#include <QString>

namespace zq::platform {

// The class of a window as the desktop names it (on X11 the two strings of WM_CLASS): which application
// it belongs to, whatever its title says.
struct WindowClass {
    QString instance; // "xterm", "gnome-terminal-server"
    QString name;     // "XTerm", "Gnome-terminal"

    friend bool operator==(const WindowClass &, const WindowClass &) = default;
};

// The window in front: the one that has the keyboard focus, where typed (and pasted) input goes.
//
// Main thread only; asks the display server each time, so the answer is that of the moment. With no
// display, or no window in front, the class is empty; nothing fails.
class FrontWindow {
public:
    virtual ~FrontWindow() = default;

    virtual WindowClass windowClass() = 0;
};

} // namespace zq::platform

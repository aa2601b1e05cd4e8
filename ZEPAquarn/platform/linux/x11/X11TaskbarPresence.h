#pragma once

class QWindow;

namespace zq::platform {

// Shows a top-level window in the taskbar and window switcher, or keeps it out of both, through the
// window's _NET_WM_STATE skip-taskbar and skip-pager hints. A running window manager is asked with
// a client message; the hint is also written on the window, so a window mapped later (or a session
// without a window manager) carries it too. Does nothing outside X11. Main thread.
void setX11TaskbarPresence(QWindow &window, bool shown);

// Whether the window carries the skip-taskbar hint now (tests).
bool hasX11SkipTaskbarHint(QWindow &window);

} // namespace zq::platform

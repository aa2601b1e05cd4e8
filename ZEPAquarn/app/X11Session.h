#pragma once

#include <QString>

#include <functional>

struct _XDisplay;

namespace zq {

// What the application needs of the desktop session before its GUI starts: an X11 display (also
// XWayland), because the global trigger keys, the synthetic paste and the pill all need X11.
// The toolkit aborts when it cannot open its display, so main() checks first and, without one,
// tells the user and exits instead.
namespace X11Session {

// The start-up check's connection to the display that DISPLAY names, held open until the toolkit
// has connected too. A server that resets when its last client leaves (Xvfb without -noreset, a
// display manager's server) would otherwise reset between the check and the toolkit's connection,
// and the toolkit would fail to connect.
class DisplayHold {
public:
    // Opens the display; not open when DISPLAY is unset or the display cannot be opened.
    DisplayHold();
    ~DisplayHold();
    DisplayHold(const DisplayHold &) = delete;
    DisplayHold &operator=(const DisplayHold &) = delete;

    bool isOpen() const { return m_display != nullptr; }
    // The connection, for what the launch reads before the toolkit connects; null once released.
    _XDisplay *display() const { return m_display; }
    // Closes the connection (once the toolkit holds its own).
    void release();

private:
    _XDisplay *m_display = nullptr;
};

// While one lives, a toolkit that cannot start (it could not connect to the display after all)
// ends the process with unavailableMessage() on stderr and status 1, instead of aborting with
// the toolkit's own advice. Messages that are not fatal pass on to the handler before it.
// Make one just before the QApplication and drop it once the QApplication exists.
class ToolkitStartGuard {
public:
    ToolkitStartGuard();
    ~ToolkitStartGuard();
    ToolkitStartGuard(const ToolkitStartGuard &) = delete;
    ToolkitStartGuard &operator=(const ToolkitStartGuard &) = delete;
};

// The toolkit ends the process with exit() when its display connection breaks (the X server died
// or the session ended) rather than returning from its event loop. While one lives, such an exit
// on the thread that made it first runs `action` once, so that what the application holds is not
// lost. Drop it before the application's normal teardown. At most one may exist at a time.
class DisplayLossHandler {
public:
    explicit DisplayLossHandler(std::function<void()> action);
    ~DisplayLossHandler();
    DisplayLossHandler(const DisplayLossHandler &) = delete;
    DisplayLossHandler &operator=(const DisplayLossHandler &) = delete;
};
// Makes the toolkit use X11 even when a Wayland display is present as well.
void preferX11();

// The sentence for stderr when there is no usable display.
QString unavailableMessage();
// Tells the user through the desktop's notification service on the session bus, waiting at most
// a few seconds for it to answer. Needs a QCoreApplication. False when nobody took the notice.
bool notifyUnavailable();

inline const QString notificationTitle = QStringLiteral("ZEPA QUARN needs X11");
inline const QString notificationBody =
    QStringLiteral("The trigger key, paste and the pill need an X11 session (or XWayland). "
                   "Log in to an X11 session to dictate.");

} // namespace X11Session

} // namespace zq

#pragma once

struct _XDisplay;

namespace zq::platform::x11 {

// The start-up check's connection to the display that DISPLAY names, held open until the toolkit
// has connected too. A server that resets when its last client leaves (Xvfb without -noreset, a
// display manager's server) would otherwise reset between the check and the toolkit's connection,
// and the toolkit would fail to connect. Made before the toolkit's application exists.
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

// Makes the toolkit use X11 even when a Wayland display is present as well. Call it before the
// toolkit's application exists.
void preferX11();

} // namespace zq::platform::x11

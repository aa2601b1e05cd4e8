#pragma once

#include <QString>

#include <cstdint>

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
    // The client of the display that the window in front belongs to (on X11 the resource base its window
    // ids share), as PasteboardFetch::client names the one that fetched the clipboard; 0 when it cannot be
    // told.
    virtual std::uint32_t client() { return 0; }
    // Both of the same window, asked in one go: between two separate questions the focus may move.
    struct Identity {
        WindowClass windowClass;
        std::uint32_t client = 0;
    };
    virtual Identity identity() { return {windowClass(), client()}; }
    // Sends the window in front a round trip that it answers once it has handled the input sent to it
    // before (on X11 _NET_WM_PING); false when it takes none or there is no window. pingAnswered() tells
    // whether the latest one has come back.
    virtual bool ping() { return false; }
    virtual bool pingAnswered() { return false; }
};

} // namespace zq::platform

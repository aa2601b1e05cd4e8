#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>

struct _XDisplay;

namespace zq::platform {

// One Xlib connection of our own, which survives the display server going away.
//
// Xlib's default reaction to a broken connection is to end the process, and its error handlers are
// process-wide. The first connection installs handlers that leave our own connections alone (they are
// marked broken instead, and every later call on them does nothing) and pass everything else on to the
// handlers that were there before, Qt's included. Create connections after the QGuiApplication, whose
// X11 integration installs its handlers when it connects.
//
// A connection is used from one thread at a time; it may be created on one thread and used on another.
class X11Connection {
public:
    // Opens `displayName` (":0"). Nothing, with `error` set, when the display cannot be reached.
    static std::unique_ptr<X11Connection> open(const QByteArray &displayName, QString *error);
    ~X11Connection();
    X11Connection(const X11Connection &) = delete;
    X11Connection &operator=(const X11Connection &) = delete;

    _XDisplay *display() const { return m_display; }
    int fileDescriptor() const;
    // The client of the display that made `window`: the resource base that every id it makes shares, the
    // same for all of one application's windows and different for every other connection.
    std::uint32_t clientOf(unsigned long window) const;
    // True once the connection has broken (the server went away or the socket failed).
    bool isBroken() const { return m_broken.load(); }

private:
    explicit X11Connection(_XDisplay *display);
    static void markBroken(_XDisplay *display, void *self);

    _XDisplay *m_display;
    std::atomic<bool> m_broken{false};
};

// Whether the toolkit's own display connection has reached its end: the X server went away or the
// connection was shut. Looks at the connection's socket only, with no X request, so it is safe at
// any moment after the QGuiApplication exists; false without an X11 toolkit.
bool isToolkitDisplayGone();

} // namespace zq::platform

#include "platform/linux/x11/X11Connection.h"

#include "runtime/Log.h"

#include <QGuiApplication>

#include <cerrno>
#include <mutex>
#include <set>

#include <X11/Xlib.h>
#include <X11/Xlibint.h>
#include <sys/socket.h>

namespace zq::platform {

namespace {

// Xlib's handlers are process-wide, so the set of our connections has to be as well.
std::mutex s_mutex;
std::multiset<Display *> s_ours; // a count each: a closed display's address can come back
XIOErrorHandler s_previousIOErrorHandler = nullptr;
XErrorHandler s_previousErrorHandler = nullptr;

bool isOurs(Display *display)
{
    const std::lock_guard lock(s_mutex);
    return s_ours.count(display) != 0;
}

int handleIOError(Display *display)
{
    // Returning lets Xlib go on to the connection's exit handler, which marks it broken.
    if (isOurs(display))
        return 0;
    return s_previousIOErrorHandler ? s_previousIOErrorHandler(display) : 0;
}

int handleError(Display *display, XErrorEvent *event)
{
    if (isOurs(display)) {
        qCDebug(lcHotkey) << "x11: request failed with error" << event->error_code << "opcode" << event->request_code;
        return 0;
    }
    return s_previousErrorHandler ? s_previousErrorHandler(display, event) : 0;
}

void installHandlers()
{
    static std::once_flag once;
    std::call_once(once, [] {
        XInitThreads();
        s_previousIOErrorHandler = XSetIOErrorHandler(handleIOError);
        s_previousErrorHandler = XSetErrorHandler(handleError);
    });
}

} // namespace

std::unique_ptr<X11Connection> X11Connection::open(const QByteArray &displayName, QString *error)
{
    installHandlers();
    Display *display = XOpenDisplay(displayName.isEmpty() ? nullptr : displayName.constData());
    if (!display) {
        if (error)
            *error = QStringLiteral("cannot open the X display \"%1\"").arg(QString::fromLocal8Bit(displayName));
        return nullptr;
    }
    {
        const std::lock_guard lock(s_mutex);
        s_ours.insert(display);
    }
    std::unique_ptr<X11Connection> connection(new X11Connection(display));
    XSetIOErrorExitHandler(display, &X11Connection::markBroken, connection.get());
    return connection;
}

X11Connection::X11Connection(_XDisplay *display) : m_display(display) {}

X11Connection::~X11Connection()
{
    XCloseDisplay(m_display);
    const std::lock_guard lock(s_mutex);
    s_ours.erase(s_ours.find(m_display));
}

int X11Connection::fileDescriptor() const
{
    return ConnectionNumber(m_display);
}

bool isToolkitDisplayGone()
{
    const auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    Display *display = x11 ? x11->display() : nullptr;
    if (!display)
        return false;
    // A live server either has bytes waiting or none yet; an ended one gives end of file or an error.
    char byte = 0;
    ssize_t got;
    do {
        got = ::recv(ConnectionNumber(display), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    } while (got < 0 && errno == EINTR);
    return got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

std::uint32_t X11Connection::clientOf(unsigned long window) const
{
    // The server hands every client the same mask; only the base differs.
    return std::uint32_t(window & ~m_display->resource_mask);
}

void X11Connection::markBroken(_XDisplay *, void *self)
{
    static_cast<X11Connection *>(self)->m_broken.store(true);
}

} // namespace zq::platform

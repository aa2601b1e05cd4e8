#include "platform/linux/x11/X11FrontWindow.h"

#include "platform/linux/x11/X11Connection.h"
#include "runtime/Log.h"

#include <algorithm>
#include <optional>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace zq::platform {

namespace {

std::optional<WindowClass> classOf(Display *display, Window window)
{
    XClassHint hint{nullptr, nullptr};
    if (!XGetClassHint(display, window, &hint))
        return std::nullopt;
    WindowClass result{QString::fromLocal8Bit(hint.res_name), QString::fromLocal8Bit(hint.res_class)};
    if (hint.res_name)
        XFree(hint.res_name);
    if (hint.res_class)
        XFree(hint.res_class);
    return result;
}

struct ClassedWindow {
    Window window = 0;
    WindowClass windowClass;
};

// `window` or the nearest ancestor that has a class, with it; the root has none.
std::optional<ClassedWindow> climbToClass(Display *display, Window window)
{
    const Window root = DefaultRootWindow(display);
    // Bounded: a window destroyed meanwhile answers nothing, and nesting is never this deep.
    for (int depth = 0; depth < 32 && window != 0 && window != root; ++depth) {
        if (std::optional<WindowClass> found = classOf(display, window))
            return ClassedWindow{window, std::move(*found)};
        Window rootReturn = 0;
        Window parent = 0;
        Window *children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display, window, &rootReturn, &parent, &children, &count))
            return std::nullopt;
        if (children)
            XFree(children);
        window = parent;
    }
    return std::nullopt;
}

Window activeWindow(Display *display)
{
    const Atom property = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char *data = nullptr;
    Window window = 0;
    if (XGetWindowProperty(display, DefaultRootWindow(display), property, 0, 1, False, XA_WINDOW, &type, &format,
                           &count, &remaining, &data) == Success &&
        data) {
        if (type == XA_WINDOW && format == 32 && count == 1)
            window = *reinterpret_cast<const Window *>(data);
        XFree(data);
    }
    return window;
}

} // namespace

X11FrontWindow::X11FrontWindow(QByteArray displayName) : m_displayName(std::move(displayName)) {}

X11FrontWindow::~X11FrontWindow() = default;

X11Connection *X11FrontWindow::connection()
{
    if (m_connection && !m_connection->isBroken())
        return m_connection.get();
    m_connection.reset();
    QString why = QStringLiteral("no X11 display");
    if (!m_displayName.isEmpty())
        m_connection = X11Connection::open(m_displayName, &why);
    if (m_connection) {
        m_reportedFailure = false;
        return m_connection.get();
    }
    if (!m_reportedFailure)
        qCInfo(lcPaste) << "paste: cannot tell the window in front:" << why;
    m_reportedFailure = true;
    return nullptr;
}

std::optional<X11FrontWindow::Found> X11FrontWindow::find()
{
    X11Connection *x11 = connection();
    if (!x11)
        return std::nullopt;
    readPingAnswers();
    Display *display = x11->display();
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    // None and PointerRoot (1) name no window of an application.
    std::optional<ClassedWindow> found = focus > 1 ? climbToClass(display, focus) : std::nullopt;
    if (!found)
        found = climbToClass(display, activeWindow(display));
    if (x11->isBroken() || !found)
        return std::nullopt;
    return Found{found->window, std::move(found->windowClass)};
}

WindowClass X11FrontWindow::windowClass()
{
    std::optional<Found> found = find();
    return found ? std::move(found->windowClass) : WindowClass{};
}

std::uint32_t X11FrontWindow::client()
{
    return identity().client;
}

FrontWindow::Identity X11FrontWindow::identity()
{
    std::optional<Found> found = find();
    return found ? Identity{std::move(found->windowClass), m_connection->clientOf(found->window)} : Identity{};
}

bool X11FrontWindow::ping()
{
    // An answer still awaited is of no interest any more: read as too old, it stops the listening.
    m_pingedAt = {};
    readPingAnswers();
    m_pinged = 0;
    m_answered = false;
    const std::optional<Found> found = find();
    if (!found)
        return false;
    Display *display = m_connection->display();
    const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    const Atom ping = XInternAtom(display, "_NET_WM_PING", False);
    Atom *listed = nullptr;
    int count = 0;
    bool takesPings = false;
    if (XGetWMProtocols(display, found->window, &listed, &count)) {
        takesPings = std::find(listed, listed + count, ping) != listed + count;
        XFree(listed);
    }
    if (!takesPings)
        return false;
    // The answer goes to the root window, to whoever listens there for its changes or its children's (toolkits
    // differ).
    XSelectInput(display, DefaultRootWindow(display), StructureNotifyMask | SubstructureNotifyMask);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = found->window;
    event.xclient.message_type = protocols;
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(ping);
    event.xclient.data.l[1] = long(++m_pingToken); // echoed back, so that an older answer is told apart
    event.xclient.data.l[2] = long(found->window);
    XSendEvent(display, found->window, False, NoEventMask, &event);
    XFlush(display);
    if (m_connection->isBroken())
        return false;
    m_pinged = found->window;
    m_pingedAt = std::chrono::steady_clock::now();
    return true;
}

bool X11FrontWindow::pingAnswered()
{
    readPingAnswers();
    return m_answered;
}

void X11FrontWindow::readPingAnswers()
{
    if (m_pinged == 0 || !m_connection || m_connection->isBroken())
        return;
    Display *display = m_connection->display();
    const Atom ping = XInternAtom(display, "_NET_WM_PING", False);
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == ClientMessage && event.xclient.format == 32 && Atom(event.xclient.data.l[0]) == ping &&
            event.xclient.data.l[1] == long(m_pingToken) && Window(event.xclient.data.l[2]) == m_pinged)
            m_answered = true;
    }
    // The root's other changes are of no interest: they would only pile up once nobody asks any more.
    if (m_answered || std::chrono::steady_clock::now() - m_pingedAt > std::chrono::seconds(10)) {
        XSelectInput(display, DefaultRootWindow(display), NoEventMask);
        m_pinged = 0;
    }
}

} // namespace zq::platform

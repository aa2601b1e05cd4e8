#include "platform/linux/x11/X11FrontWindow.h"

#include "platform/linux/x11/X11Connection.h"
#include "runtime/Log.h"

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

// The class of `window` or of the nearest ancestor that has one; the root has none.
std::optional<WindowClass> climbToClass(Display *display, Window window)
{
    const Window root = DefaultRootWindow(display);
    // Bounded: a window destroyed meanwhile answers nothing, and nesting is never this deep.
    for (int depth = 0; depth < 32 && window != 0 && window != root; ++depth) {
        if (std::optional<WindowClass> found = classOf(display, window))
            return found;
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

WindowClass X11FrontWindow::windowClass()
{
    X11Connection *x11 = connection();
    if (!x11)
        return {};
    Display *display = x11->display();
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    // None and PointerRoot (1) name no window of an application.
    std::optional<WindowClass> found = focus > 1 ? climbToClass(display, focus) : std::nullopt;
    if (!found)
        found = climbToClass(display, activeWindow(display));
    if (x11->isBroken())
        return {};
    return found.value_or(WindowClass{});
}

} // namespace zq::platform

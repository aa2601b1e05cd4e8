#include "platform/linux/x11/X11TaskbarPresence.h"

#include <QGuiApplication>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <algorithm>
#include <vector>

// X11 headers last: they define None, Bool and Status.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace zq::platform {

namespace {

Display *x11Display()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->display() : nullptr;
}

std::vector<Atom> readStates(Display *display, ::Window window, Atom property)
{
    std::vector<Atom> states;
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(display, window, property, 0, 64, False, XA_ATOM, &type, &format, &count, &remaining,
                           &data) == Success &&
        data) {
        if (type == XA_ATOM && format == 32) {
            const auto *atoms = reinterpret_cast<const long *>(data);
            for (unsigned long i = 0; i < count; ++i)
                states.push_back(Atom(atoms[i]));
        }
        XFree(data);
    }
    return states;
}

} // namespace

void setX11TaskbarPresence(QWindow &widget, bool shown)
{
    Display *display = x11Display();
    if (!display)
        return;
    const ::Window window = ::Window(widget.winId());
    const Atom netWmState = XInternAtom(display, "_NET_WM_STATE", False);
    const Atom skipTaskbar = XInternAtom(display, "_NET_WM_STATE_SKIP_TASKBAR", False);
    const Atom skipPager = XInternAtom(display, "_NET_WM_STATE_SKIP_PAGER", False);

    std::vector<Atom> states = readStates(display, window, netWmState);
    std::erase_if(states, [&](Atom atom) { return atom == skipTaskbar || atom == skipPager; });
    if (!shown) {
        states.push_back(skipTaskbar);
        states.push_back(skipPager);
    }
    std::vector<long> values(states.begin(), states.end());
    XChangeProperty(display, window, netWmState, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(values.data()), int(values.size()));

    if (widget.isVisible()) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = netWmState;
        event.xclient.format = 32;
        event.xclient.data.l[0] = shown ? 0 : 1; // remove, add
        event.xclient.data.l[1] = long(skipTaskbar);
        event.xclient.data.l[2] = long(skipPager);
        event.xclient.data.l[3] = 1; // from an application
        XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask,
                   &event);
    }
    XFlush(display);
}

bool hasX11SkipTaskbarHint(QWindow &widget)
{
    Display *display = x11Display();
    if (!display)
        return false;
    const Atom skipTaskbar = XInternAtom(display, "_NET_WM_STATE_SKIP_TASKBAR", False);
    const auto states = readStates(display, ::Window(widget.winId()), XInternAtom(display, "_NET_WM_STATE", False));
    return std::find(states.begin(), states.end(), skipTaskbar) != states.end();
}

} // namespace zq::platform

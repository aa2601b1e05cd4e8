#include "platform/linux/x11/X11WindowCompositing.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

// X11 last: its macros (None, Bool, Status) must not reach the Qt headers.
#include <X11/Xlib.h>

namespace zq::platform {

// A compositing manager owns the _NET_WM_CM_S<screen> selection while it runs.
std::optional<bool> X11WindowCompositing::isActive() const
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return std::nullopt;
    const auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    Display *display = x11 ? x11->display() : nullptr;
    if (!display)
        return false;
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(DefaultScreen(display));
    const Atom selection = XInternAtom(display, name.constData(), False);
    return XGetSelectionOwner(display, selection) != 0;
}

} // namespace zq::platform

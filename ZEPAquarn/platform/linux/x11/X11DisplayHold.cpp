#include "platform/linux/x11/X11DisplayHold.h"

#include <QByteArray>
#include <QtGlobal>

#include <X11/Xlib.h>

namespace zq::platform::x11 {

DisplayHold::DisplayHold()
{
    const QByteArray name = qgetenv("DISPLAY");
    if (!name.isEmpty())
        m_display = XOpenDisplay(name.constData());
}

DisplayHold::~DisplayHold()
{
    release();
}

void DisplayHold::release()
{
    if (m_display)
        XCloseDisplay(m_display);
    m_display = nullptr;
}

void preferX11()
{
    qputenv("QT_QPA_PLATFORM", "xcb");
}

} // namespace zq::platform::x11

#include "app/X11Session.h"

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

#include <X11/Xlib.h>

namespace zq::X11Session {

bool displayIsUsable()
{
    const QByteArray name = qgetenv("DISPLAY");
    if (name.isEmpty())
        return false;
    Display *display = XOpenDisplay(name.constData());
    if (!display)
        return false;
    XCloseDisplay(display);
    return true;
}

void preferX11()
{
    qputenv("QT_QPA_PLATFORM", "xcb");
}

QString unavailableMessage()
{
    const QByteArray name = qgetenv("DISPLAY");
    const QString why = name.isEmpty()
                            ? QStringLiteral("no X11 display is set (DISPLAY is empty)")
                            : QStringLiteral("the X11 display “%1” cannot be opened").arg(QString::fromLocal8Bit(name));
    return QStringLiteral("ZEPA QUARN needs an X11 session (or XWayland): the trigger key, paste and the pill "
                          "work only there, and %1. Log in to an X11 session to dictate.")
        .arg(why);
}

bool notifyUnavailable()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage call =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
                                       QStringLiteral("/org/freedesktop/Notifications"),
                                       QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(1));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("zepaquarn"));
    call << QStringLiteral("ZEPA QUARN") << uint(0) << QString() << notificationTitle << notificationBody
         << QStringList() << hints << int(-1);
    const QDBusMessage reply = bus.call(call, QDBus::Block, 3000);
    return reply.type() == QDBusMessage::ReplyMessage;
}

} // namespace zq::X11Session

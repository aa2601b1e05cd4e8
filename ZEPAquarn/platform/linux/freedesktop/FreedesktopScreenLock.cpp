#include "platform/linux/freedesktop/FreedesktopScreenLock.h"

#include "runtime/Log.h"

#include <QDBusConnection>
#include <QDBusMessage>

namespace zq::platform {

namespace {

QDBusMessage askActive(QDBusConnection &bus, const QString &path)
{
    const QDBusMessage call =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.ScreenSaver"), path,
                                       QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("GetActive"));
    return bus.call(call, QDBus::Block, static_cast<int>(FreedesktopScreenLock::callTimeout.count()));
}

} // namespace

bool FreedesktopScreenLock::isLocked()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    // Desktops publish the interface at one of two paths.
    QDBusMessage reply = askActive(bus, QStringLiteral("/org/freedesktop/ScreenSaver"));
    if (reply.type() == QDBusMessage::ErrorMessage &&
        reply.errorName() != QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown"))
        reply = askActive(bus, QStringLiteral("/ScreenSaver"));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        if (!m_reportedFailure)
            qCInfo(lcPaste) << "paste: no screen-locker state on the session bus:" << reply.errorName();
        m_reportedFailure = true;
        return false;
    }
    return reply.arguments().constFirst().toBool();
}

} // namespace zq::platform

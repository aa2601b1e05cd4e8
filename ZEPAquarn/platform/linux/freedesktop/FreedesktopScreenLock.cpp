#include "platform/linux/freedesktop/FreedesktopScreenLock.h"

#include "runtime/Log.h"

#include <QDBusConnection>
#include <QDBusMessage>

namespace zq::platform {

namespace {

const QString kInterface = QStringLiteral("org.freedesktop.ScreenSaver");

QDBusMessage askActive(QDBusConnection &bus, const QString &path)
{
    const QDBusMessage call = QDBusMessage::createMethodCall(kInterface, path, kInterface, QStringLiteral("GetActive"));
    return bus.call(call, QDBus::Block, static_cast<int>(FreedesktopScreenLock::callTimeout.count()));
}

} // namespace

bool FreedesktopScreenLock::isLocked()
{
    if (m_locked)
        return *m_locked;
    if (!m_bus.isConnected())
        return false;
    // Heard before asking, so a change meanwhile is not lost; from any sender and path, so a locker
    // that starts later is heard too.
    const bool watching = m_bus.connect(QString(), QString(), kInterface, QStringLiteral("ActiveChanged"), this,
                                        SLOT(onActiveChanged(bool)));
    // Desktops publish the interface at one of two paths.
    QDBusMessage reply = askActive(m_bus, QStringLiteral("/org/freedesktop/ScreenSaver"));
    if (reply.type() == QDBusMessage::ErrorMessage &&
        reply.errorName() != QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown"))
        reply = askActive(m_bus, QStringLiteral("/ScreenSaver"));
    const bool answered = reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty();
    if (!answered && !m_reportedFailure)
        qCInfo(lcPaste) << "paste: no screen-locker state on the session bus:" << reply.errorName();
    m_reportedFailure = m_reportedFailure || !answered;
    const bool locked = answered && reply.arguments().constFirst().toBool();
    // A change signalled meanwhile is delivered after this, and replaces the answer.
    if (watching)
        m_locked = locked;
    return locked;
}

} // namespace zq::platform

#include "platform/linux/freedesktop/FreedesktopScreenLock.h"

#include "runtime/Log.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusServiceWatcher>

namespace zq::platform {

namespace {

const QString kInterface = QStringLiteral("org.freedesktop.ScreenSaver");

QDBusMessage askActive(QDBusConnection &bus, const QString &path)
{
    const QDBusMessage call = QDBusMessage::createMethodCall(kInterface, path, kInterface, QStringLiteral("GetActive"));
    return bus.call(call, QDBus::Block, static_cast<int>(FreedesktopScreenLock::callTimeout.count()));
}

} // namespace

// Heard before asking, so a change meanwhile is not lost; signals from any sender and path, so a
// locker that starts later, or publishes at the other path, is heard too.
bool FreedesktopScreenLock::watch()
{
    if (!m_lockerWatch) {
        m_lockerWatch = new QDBusServiceWatcher(kInterface, m_bus, QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(m_lockerWatch, &QDBusServiceWatcher::serviceOwnerChanged, this,
                &FreedesktopScreenLock::onLockerChanged);
    }
    // Once only: the bus refuses a second connection of the same slot.
    if (!m_watching)
        m_watching = m_bus.connect(QString(), QString(), kInterface, QStringLiteral("ActiveChanged"), this,
                                   SLOT(onActiveChanged(bool)));
    return m_watching;
}

// A locker that dies, or is replaced, while locked sends no ActiveChanged(false): without this, every
// later paste would be refused until a restart.
void FreedesktopScreenLock::onLockerChanged(const QString &, const QString &, const QString &newOwner)
{
    if (!m_watching)
        return;
    if (newOwner.isEmpty())
        m_locked = false;
    else
        m_locked.reset();
}

bool FreedesktopScreenLock::isLocked()
{
    if (m_locked)
        return *m_locked;
    if (!m_bus.isConnected())
        return false;
    const bool watching = watch();
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

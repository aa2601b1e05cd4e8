#include "support/BusServiceHost.h"

#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusReply>
#include <QMetaObject>
#include <QUuid>

#include <utility>

namespace zq::test {

BusServiceHost::BusServiceHost(QString threadName)
{
    m_thread.setObjectName(std::move(threadName));
}

BusServiceHost::~BusServiceHost()
{
    stop();
}

bool BusServiceHost::start(const QString &busAddress, QObject *handler, const QString &serviceName,
                           const QString &objectPath, QDBusConnection::RegisterOptions options)
{
    if (m_handler) {
        delete handler;
        m_error = QStringLiteral("%1 was already started").arg(serviceName);
        return false;
    }
    m_handler = handler;
    m_serviceName = serviceName;
    m_objectPath = objectPath;
    m_connectionName = m_thread.objectName() + QLatin1Char('-') + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QDBusConnection connection = QDBusConnection::connectToBus(busAddress, m_connectionName);
    if (!connection.isConnected()) {
        m_error = QStringLiteral("cannot connect to the bus %1: %2").arg(busAddress, connection.lastError().message());
        stop();
        return false;
    }
    m_thread.start();
    m_handler->moveToThread(&m_thread);
    // Registered from the handler's own thread: QtDBus parents a relay object to it, and calls are
    // then delivered in that thread.
    bool registered = false;
    QMetaObject::invokeMethod(
        m_handler, [&] { registered = connection.registerObject(m_objectPath, m_handler, options); },
        Qt::BlockingQueuedConnection);
    if (!registered) {
        m_error = QStringLiteral("cannot register %1 on the bus").arg(m_objectPath);
        stop();
        return false;
    }
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = connection.interface()->registerService(
        m_serviceName, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        m_error =
            QStringLiteral("cannot own %1: %2")
                .arg(m_serviceName, reply.isValid() ? QStringLiteral("the name is taken") : reply.error().message());
        stop();
        return false;
    }
    return true;
}

void BusServiceHost::stop()
{
    if (!m_connectionName.isEmpty()) {
        QDBusConnection connection(m_connectionName);
        if (connection.isConnected() && m_thread.isRunning()) {
            connection.interface()->unregisterService(m_serviceName);
            QMetaObject::invokeMethod(
                m_handler, [&] { connection.unregisterObject(m_objectPath); }, Qt::BlockingQueuedConnection);
        }
        QDBusConnection::disconnectFromBus(m_connectionName);
        m_connectionName.clear();
    }
    if (m_thread.isRunning()) {
        // Deleted on its own thread: QtDBus relays the handler's signals, its last (destroyed) included,
        // only from there, and warns about any other.
        if (QObject *handler = std::exchange(m_handler, nullptr)) {
            QMetaObject::invokeMethod(
                handler, [handler] { delete handler; }, Qt::BlockingQueuedConnection);
        }
        m_thread.quit();
        m_thread.wait();
    }
    delete m_handler;
    m_handler = nullptr;
}

} // namespace zq::test

#include "support/NotificationServer.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QMetaObject>
#include <QUuid>

namespace zq::test {

namespace {

// The reason code for "closed by a call to CloseNotification".
constexpr uint kClosedByCall = 3;

} // namespace

std::optional<int> ReceivedNotification::urgency() const
{
    const auto found = hints.find(QStringLiteral("urgency"));
    if (found == hints.end())
        return std::nullopt;
    bool ok = false;
    const int value = found->toInt(&ok);
    return ok ? std::optional<int>(value) : std::nullopt;
}

NotificationServer::NotificationServer()
{
    m_thread.setObjectName(QStringLiteral("zq-notifications"));
}

NotificationServer::~NotificationServer()
{
    stop();
}

bool NotificationServer::start(const QString &busAddress)
{
    if (m_handler) {
        m_error = QStringLiteral("the notification server was already started");
        return false;
    }
    m_connectionName = QStringLiteral("zq-notifications-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QDBusConnection connection = QDBusConnection::connectToBus(busAddress, m_connectionName);
    if (!connection.isConnected()) {
        m_error = QStringLiteral("cannot connect to the bus %1: %2").arg(busAddress, connection.lastError().message());
        QDBusConnection::disconnectFromBus(m_connectionName);
        return false;
    }
    m_thread.start();
    m_handler = new NotificationHandler(*this);
    m_handler->moveToThread(&m_thread);
    // Registered from the handler's own thread: QtDBus parents a relay object to it. Calls are
    // then delivered in that thread.
    bool registered = false;
    QMetaObject::invokeMethod(
        m_handler,
        [&] {
            registered = connection.registerObject(QLatin1String(kObjectPath), m_handler,
                                                   QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals);
        },
        Qt::BlockingQueuedConnection);
    if (!registered) {
        m_error = QStringLiteral("cannot register %1 on the bus").arg(QLatin1String(kObjectPath));
        stop();
        return false;
    }
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        connection.interface()->registerService(QLatin1String(kServiceName), QDBusConnectionInterface::DontQueueService,
                                                QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        m_error = QStringLiteral("cannot own %1: %2")
                      .arg(QLatin1String(kServiceName),
                           reply.isValid() ? QStringLiteral("the name is taken") : reply.error().message());
        stop();
        return false;
    }
    return true;
}

void NotificationServer::stop()
{
    if (!m_connectionName.isEmpty()) {
        QDBusConnection connection(m_connectionName);
        if (connection.isConnected()) {
            connection.interface()->unregisterService(QLatin1String(kServiceName));
            if (m_handler && m_thread.isRunning())
                QMetaObject::invokeMethod(
                    m_handler, [&] { connection.unregisterObject(QLatin1String(kObjectPath)); },
                    Qt::BlockingQueuedConnection);
        }
        QDBusConnection::disconnectFromBus(m_connectionName);
        m_connectionName.clear();
    }
    if (m_thread.isRunning()) {
        m_thread.quit();
        m_thread.wait();
    }
    delete m_handler;
    m_handler = nullptr;
}

std::vector<ReceivedNotification> NotificationServer::notifications() const
{
    std::lock_guard lock(m_mutex);
    return m_notifications;
}

bool NotificationServer::waitForNotifications(size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_arrived.wait_for(lock, timeout, [&] { return m_notifications.size() >= count; });
}

std::vector<uint32_t> NotificationServer::closedIds() const
{
    std::lock_guard lock(m_mutex);
    return m_closedIds;
}

void NotificationServer::invokeAction(uint32_t id, const QString &actionKey)
{
    if (!m_handler)
        return;
    QMetaObject::invokeMethod(
        m_handler, [handler = m_handler, id, actionKey] { emit handler->ActionInvoked(id, actionKey); },
        Qt::BlockingQueuedConnection);
}

uint32_t NotificationServer::record(ReceivedNotification notification)
{
    std::lock_guard lock(m_mutex);
    const bool replaces = notification.replacesId != 0 && notification.replacesId <= m_lastId;
    notification.id = replaces ? notification.replacesId : ++m_lastId;
    m_notifications.push_back(std::move(notification));
    m_arrived.notify_all();
    return m_notifications.back().id;
}

void NotificationServer::recordClose(uint32_t id)
{
    std::lock_guard lock(m_mutex);
    m_closedIds.push_back(id);
    m_arrived.notify_all();
}

uint NotificationHandler::Notify(const QString &app_name, uint replaces_id, const QString &app_icon,
                                 const QString &summary, const QString &body, const QStringList &actions,
                                 const QVariantMap &hints, int expire_timeout)
{
    return m_server.record(
        ReceivedNotification{0, app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout});
}

QStringList NotificationHandler::GetCapabilities()
{
    return {QStringLiteral("actions"), QStringLiteral("body")};
}

QString NotificationHandler::GetServerInformation(QString &vendor, QString &version, QString &spec_version)
{
    vendor = QStringLiteral("ZEPA QUARN tests");
    version = QStringLiteral("1.0");
    spec_version = QStringLiteral("1.2");
    return QStringLiteral("zq-notification-server");
}

void NotificationHandler::CloseNotification(uint id)
{
    m_server.recordClose(id);
    emit NotificationClosed(id, kClosedByCall);
}

} // namespace zq::test

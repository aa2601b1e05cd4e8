#include "support/NotificationServer.h"

#include <QMetaObject>

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

NotificationServer::NotificationServer() : m_service(QStringLiteral("zq-notifications")) {}

NotificationServer::~NotificationServer()
{
    stop();
}

bool NotificationServer::start(const QString &busAddress)
{
    return m_service.start(busAddress, new NotificationHandler(*this), QLatin1String(kServiceName),
                           QLatin1String(kObjectPath),
                           QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals);
}

void NotificationServer::stop()
{
    m_service.stop();
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
    NotificationHandler *handler = m_service.handler<NotificationHandler>();
    if (!handler)
        return;
    QMetaObject::invokeMethod(
        handler, [handler, id, actionKey] { emit handler->ActionInvoked(id, actionKey); },
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

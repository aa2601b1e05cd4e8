#pragma once

#include "support/BusServiceHost.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace zq::test {

// One Notify call as the server received it.
struct ReceivedNotification {
    uint32_t id = 0;
    QString appName;
    uint32_t replacesId = 0;
    QString appIcon;
    QString summary;
    QString body;
    QStringList actions;
    QVariantMap hints;
    int32_t expireTimeoutMs = -1;

    // The "urgency" hint (0 low, 1 normal, 2 critical), if sent.
    std::optional<int> urgency() const;
};

class NotificationHandler;

// A minimal org.freedesktop.Notifications server on a given bus that records every Notify call.
// It answers on a thread of its own, so a client that blocks the main thread on a call still
// gets its reply. The accessors are thread-safe. The destructor releases the name.
class NotificationServer {
public:
    static constexpr auto kServiceName = "org.freedesktop.Notifications";
    static constexpr auto kObjectPath = "/org/freedesktop/Notifications";

    NotificationServer();
    ~NotificationServer();
    NotificationServer(const NotificationServer &) = delete;
    NotificationServer &operator=(const NotificationServer &) = delete;

    // Connects to the bus at `busAddress` and takes the service name. Returns false with
    // errorString() set (e.g. the name is already owned).
    bool start(const QString &busAddress);
    void stop();
    QString errorString() const { return m_service.errorString(); }

    std::vector<ReceivedNotification> notifications() const;
    // Waits until at least `count` notifications arrived; false on timeout.
    bool waitForNotifications(size_t count, std::chrono::milliseconds timeout) const;
    // Ids passed to CloseNotification, in order.
    std::vector<uint32_t> closedIds() const;
    // Emits ActionInvoked(id, actionKey), as when the user clicks an action.
    void invokeAction(uint32_t id, const QString &actionKey);

private:
    friend class NotificationHandler;
    uint32_t record(ReceivedNotification notification);
    void recordClose(uint32_t id);

    BusServiceHost m_service;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_arrived;
    std::vector<ReceivedNotification> m_notifications;
    std::vector<uint32_t> m_closedIds;
    uint32_t m_lastId = 0;
};

// The D-Bus facing object; lives on the server's thread.
class NotificationHandler : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    explicit NotificationHandler(NotificationServer &server) : m_server(server) {}

public slots:
    uint Notify(const QString &app_name, uint replaces_id, const QString &app_icon, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &hints, int expire_timeout);
    QStringList GetCapabilities();
    QString GetServerInformation(QString &vendor, QString &version, QString &spec_version);
    void CloseNotification(uint id);

signals:
    void NotificationClosed(uint id, uint reason);
    void ActionInvoked(uint id, const QString &action_key);

private:
    NotificationServer &m_server;
};

} // namespace zq::test

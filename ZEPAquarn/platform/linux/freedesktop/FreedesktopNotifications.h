#pragma once

#include "platform/UserNotifications.h"

#include <QDBusConnection>
#include <QHash>
#include <QObject>

#include <optional>

namespace zq::platform {

// Notifications through the desktop's org.freedesktop.Notifications service on the session bus.
// Authorization is granted when the service answers (the desktop has no per-application grant).
// Every notice goes out with normal urgency and the server's own timeout, time-sensitive ones too:
// they show at once all the same, while critical ones would stay until dismissed. The default sound
// is the sound theme's "message-new-instant" (every other notice asks for no sound). Each notice
// names `appIcon` (an icon name or a file URI; empty: none) as its application's icon. Calls are
// asynchronous and the completion of requestAuthorization() runs on the main thread.
class FreedesktopNotifications final : public QObject, public UserNotifications {
    Q_OBJECT
public:
    static constexpr auto kService = "org.freedesktop.Notifications";
    static constexpr auto kPath = "/org/freedesktop/Notifications";
    static constexpr auto kInterface = "org.freedesktop.Notifications";

    explicit FreedesktopNotifications(QDBusConnection connection = QDBusConnection::sessionBus(), QString appIcon = {},
                                      QObject *parent = nullptr);

    void requestAuthorization(std::function<void(bool granted)> completion) override;
    void add(const QString &identifier, const UserNotificationContent &content) override;
    void remove(const QString &identifier) override;

private:
    void close(uint id);

    QDBusConnection m_connection;
    QString m_appIcon;
    // The server's id of each recent notice, by identifier: 0 until the server answers (its ids start at
    // 1), and none once taken back. A few are kept, since only a recent notice is taken back.
    QHash<QString, std::optional<uint>> m_shown;
};

} // namespace zq::platform

#pragma once

#include <QString>

#include <functional>

namespace zq::platform {

// What one notification shows.
struct UserNotificationContent {
    enum class InterruptionLevel { normal, timeSensitive };

    QString title;
    QString body;
    // A time-sensitive notice matters now (a refused paste): shown at once, it still goes away like any
    // other rather than staying until dismissed.
    InterruptionLevel interruptionLevel = InterruptionLevel::normal;
    // The desktop's default notification sound; silent otherwise.
    bool playsDefaultSound = false;

    friend bool operator==(const UserNotificationContent &, const UserNotificationContent &) = default;
};

// The desktop's notification service, for notices shown outside the application.
//
// Called on the main thread. requestAuthorization() returns at once; `completion` runs once,
// later, with whether notifications may be shown (false when the service is missing or refuses),
// on the main thread or a thread of the service. add() shows a new notification at once and
// never replaces an earlier one; `identifier` names it for this process only. Failures are
// logged, never reported: a notice that cannot be shown is simply not shown.
class UserNotifications {
public:
    virtual ~UserNotifications() = default;

    virtual void requestAuthorization(std::function<void(bool granted)> completion) = 0;
    virtual void add(const QString &identifier, const UserNotificationContent &content) = 0;
    // Takes back the notification added under `identifier` where it still shows (it told something that
    // is no longer true); nothing when it is gone or was never shown.
    virtual void remove(const QString &identifier) { (void)identifier; }
};

} // namespace zq::platform

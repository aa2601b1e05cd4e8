#pragma once

#include "runtime/Settings.h"

#include <QDateTime>
#include <QString>

#include <functional>

namespace zq {

namespace rt {
class Clocks;
class MainLoop;
} // namespace rt
namespace platform {
class UserNotifications;
} // namespace platform

// A tray application has no window in front of the user: a found update that waits is announced by
// one desktop notification, at most once per version per day ("updateReminderVersion",
// "updateReminderDate"). Main thread only.
class UpdateReminder {
public:
    static constexpr auto kNotificationIdentifier = "io.quorvane.zepaquarn.update-reminder";
    static constexpr std::chrono::seconds kNotificationDelay{30};

    UpdateReminder(rt::Settings &settings, std::function<QDateTime()> now, std::function<void(QString)> schedule,
                   std::function<void()> cancelScheduled);

    // The application's reminder: the wall clock, and a notification shown 30 s after it is scheduled
    // unless it is withdrawn first. The notification service and the loop must outlive the reminder.
    static UpdateReminder live(rt::Settings &settings, rt::Clocks &clocks, rt::MainLoop &loop,
                               platform::UserNotifications &notifications);

    void remindIfNeeded(const QString &version);
    // Withdraws a reminder that has not been shown yet; one already shown stays.
    void cancelScheduled();

private:
    rt::Settings *m_settings;
    std::function<QDateTime()> m_now;
    std::function<void(QString)> m_schedule;
    std::function<void()> m_cancelScheduled;
};

} // namespace zq

#include "rewards/updates/UpdateReminder.h"

#include "pipeline/SettingsDefaults.h"
#include "platform/UserNotifications.h"
#include "runtime/Clocks.h"
#include "runtime/Executor.h"

#include <memory>

namespace zq {

namespace {

constexpr double kOneDaySeconds = 86400.0;

// The notification waiting for its delay. The generation moves on every schedule and cancel, so an
// authorization answer that arrives after a cancel schedules nothing.
struct PendingReminder {
    rt::WorkItem item;
    quint64 generation = 0;
};

} // namespace

UpdateReminder::UpdateReminder(rt::Settings &settings, std::function<QDateTime()> now,
                               std::function<void(QString)> schedule, std::function<void()> cancelScheduled)
    : m_settings(&settings), m_now(std::move(now)), m_schedule(std::move(schedule)),
      m_cancelScheduled(std::move(cancelScheduled))
{}

UpdateReminder UpdateReminder::live(rt::Settings &settings, rt::Clocks &clocks, rt::MainLoop &loop,
                                    platform::UserNotifications &notifications)
{
    auto pending = std::make_shared<PendingReminder>();
    auto post = [pending, &loop, &notifications](QString version) {
        const quint64 generation = ++pending->generation;
        notifications.requestAuthorization([pending, generation, version, &loop, &notifications](bool granted) {
            if (!granted)
                return;
            // The answer may come on a thread of the notification service.
            loop.post([pending, generation, version, &loop, &notifications] {
                if (pending->generation != generation)
                    return;
                pending->item.cancel();
                pending->item = loop.postDelayed(kNotificationDelay, [version, &notifications] {
                    notifications.add(QString::fromLatin1(kNotificationIdentifier),
                                      {QStringLiteral("ZEPA QUARN update ready"),
                                       QStringLiteral("Version ") + version +
                                           QStringLiteral(" is waiting. Open the tray icon when you have a moment."),
                                       platform::UserNotificationContent::InterruptionLevel::normal, false});
                });
            });
        });
    };
    auto cancel = [pending] {
        ++pending->generation;
        pending->item.cancel();
    };
    return UpdateReminder(
        settings, [&clocks] { return clocks.wallNow(); }, std::move(post), std::move(cancel));
}

void UpdateReminder::remindIfNeeded(const QString &version)
{
    const QDateTime now = m_now();
    const QString storedVersion = m_settings->stringValue(keys::updateReminderVersion);
    const double storedDate = m_settings->doubleValue(keys::updateReminderDate);
    if (!storedVersion.isEmpty() && storedVersion == version && storedDate > 0) {
        const double elapsed = static_cast<double>(now.toMSecsSinceEpoch()) / 1000.0 - storedDate;
        // A stored date in the future (the clock went back) also counts as less than a day.
        if (elapsed < kOneDaySeconds)
            return;
    }
    // Recorded before the notification is asked for: a refused notification still counts as sent.
    m_settings->setValue(keys::updateReminderVersion, version);
    m_settings->setValue(keys::updateReminderDate, static_cast<double>(now.toMSecsSinceEpoch()) / 1000.0);
    if (m_schedule)
        m_schedule(version);
}

void UpdateReminder::cancelScheduled()
{
    if (m_cancelScheduled)
        m_cancelScheduled();
}

} // namespace zq

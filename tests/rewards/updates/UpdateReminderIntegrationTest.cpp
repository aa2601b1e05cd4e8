// The update reminder through the desktop's notification service on a private bus: one
// notification 30 s (virtual time) after the reminder, none once withdrawn, none twice a day.

#include "pipeline/SettingsDefaults.h"
#include "platform/linux/freedesktop/FreedesktopNotifications.h"
#include "rewards/updates/UpdateReminder.h"
#include "support/DBusSession.h"
#include "support/NotificationServer.h"
#include "support/Polling.h"
#include "support/ServiceEnvironment.h"
#include "support/VirtualLoop.h"

#include <QCoreApplication>
#include <QDBusConnection>

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

class UpdateReminderIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        zq::registerDefaults(settings);
        const bool busStarted = bus.start();
        ASSERT_TRUE(zq::test::requireService(busStarted, bus.errorString()));
        const bool serverStarted = server.start(bus.address());
        ASSERT_TRUE(zq::test::requireService(serverStarted, server.errorString()));
        connection = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(bus.address(), QStringLiteral("zq-update-reminder-test")));
        notifications = std::make_unique<zq::platform::FreedesktopNotifications>(*connection);
        reminder = std::make_unique<zq::UpdateReminder>(
            zq::UpdateReminder::live(settings, loop.clocks(), loop, *notifications));
    }

    void TearDown() override
    {
        reminder.reset();
        notifications.reset();
        if (connection)
            QDBusConnection::disconnectFromBus(connection->name());
    }

    // The authorization answer comes over the bus; then the notification waits on virtual time.
    bool remindAndAwaitSchedule(const QString &version)
    {
        reminder->remindIfNeeded(version);
        return zq::test::waitFor([&] {
            QCoreApplication::processEvents();
            loop.runUntilIdle();
            return loop.pendingCount() == 1;
        });
    }
    bool awaitNotifications(size_t count)
    {
        return zq::test::waitFor([&] {
            QCoreApplication::processEvents();
            return server.notifications().size() >= count;
        });
    }

    zq::test::VirtualLoop loop;
    zq::rt::Settings settings{QString()};
    zq::test::DBusSession bus;
    zq::test::NotificationServer server;
    std::unique_ptr<QDBusConnection> connection;
    std::unique_ptr<zq::platform::FreedesktopNotifications> notifications;
    std::unique_ptr<zq::UpdateReminder> reminder;
};

} // namespace

TEST_F(UpdateReminderIntegrationTest, OneNotificationAfterThirtySecondsAndNotAgainThatDay)
{
    ASSERT_TRUE(remindAndAwaitSchedule("1.3.0"));
    loop.advance(29s);
    QCoreApplication::processEvents();
    EXPECT_TRUE(server.notifications().empty());
    loop.advance(1s);
    ASSERT_TRUE(awaitNotifications(1));
    const auto shown = server.notifications().front();
    EXPECT_EQ(shown.summary, "ZEPA QUARN update ready");
    EXPECT_EQ(shown.body, "Version 1.3.0 is waiting. Open the tray icon when you have a moment.");

    reminder->remindIfNeeded("1.3.0");
    loop.advance(1h);
    EXPECT_EQ(loop.pendingCount(), 0) << "nothing scheduled the second time the same day";

    // A later reminder of another version still arrives, and it is the second one: nothing else
    // was sent in between.
    ASSERT_TRUE(remindAndAwaitSchedule("1.3.1"));
    loop.advance(30s);
    ASSERT_TRUE(awaitNotifications(2));
    EXPECT_EQ(server.notifications().size(), 2u);
    EXPECT_TRUE(server.notifications().back().body.contains("1.3.1"));
}

TEST_F(UpdateReminderIntegrationTest, AReminderWithdrawnBeforeThirtySecondsNeverShows)
{
    ASSERT_TRUE(remindAndAwaitSchedule("1.3.0"));
    loop.advance(20s);
    reminder->cancelScheduled();
    loop.advance(1min);

    ASSERT_TRUE(remindAndAwaitSchedule("1.4.0"));
    loop.advance(30s);
    ASSERT_TRUE(awaitNotifications(1));
    EXPECT_EQ(server.notifications().size(), 1u);
    EXPECT_TRUE(server.notifications().front().body.contains("1.4.0")) << "the withdrawn one never came";
}

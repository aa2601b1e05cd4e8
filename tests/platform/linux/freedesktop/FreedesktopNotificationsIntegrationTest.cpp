// Notices through the desktop's notification service on a private bus, as the server receives them.
#include "platform/linux/freedesktop/FreedesktopNotifications.h"
#include "support/DBusSession.h"
#include "support/NotificationServer.h"
#include "support/Polling.h"
#include "support/ServiceEnvironment.h"

#include <QCoreApplication>
#include <QDBusConnection>

#include <gtest/gtest.h>

#include <optional>

using namespace std::chrono_literals;
using zq::platform::UserNotificationContent;

namespace {

class FreedesktopNotificationsIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const bool busStarted = bus.start();
        ASSERT_TRUE(zq::test::requireService(busStarted, bus.errorString()));
        const bool serverStarted = server.start(bus.address());
        ASSERT_TRUE(zq::test::requireService(serverStarted, server.errorString()));
        connection = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(bus.address(), QStringLiteral("zq-notifications-test")));
        notifications = std::make_unique<zq::platform::FreedesktopNotifications>(*connection);
    }

    void TearDown() override
    {
        notifications.reset();
        if (connection)
            QDBusConnection::disconnectFromBus(connection->name());
    }

    std::optional<bool> authorize()
    {
        std::optional<bool> answer;
        notifications->requestAuthorization([&](bool granted) { answer = granted; });
        zq::test::waitFor(
            [&] {
                QCoreApplication::processEvents();
                return answer.has_value();
            },
            zq::test::kLoadedMachineTimeout);
        return answer;
    }

    zq::test::DBusSession bus;
    zq::test::NotificationServer server;
    std::unique_ptr<QDBusConnection> connection;
    std::unique_ptr<zq::platform::FreedesktopNotifications> notifications;
};

// A time-sensitive notice (the refused paste) must not be critical: servers keep critical notices
// until the user dismisses them, so each take's "Transcript copied" piled up over the desktop.
TEST_F(FreedesktopNotificationsIntegrationTest, EveryNoticeIsNormalAndLeavesWithTheServersTimeout)
{
    ASSERT_EQ(authorize(), true);
    const struct {
        UserNotificationContent content;
        bool sound;
    } cases[] = {
        {{QStringLiteral("Microphone unavailable"), QStringLiteral("No input <b>here</b>."),
          UserNotificationContent::InterruptionLevel::normal, false},
         false},
        {{QStringLiteral("Transcript copied"), QStringLiteral("Press Ctrl+V to insert it."),
          UserNotificationContent::InterruptionLevel::timeSensitive, true},
         true},
    };
    for (const auto &c : cases)
        notifications->add(c.content.title, c.content);
    ASSERT_TRUE(zq::test::waitFor([&] {
        QCoreApplication::processEvents();
        return server.notifications().size() == std::size(cases);
    }));

    const std::vector<zq::test::ReceivedNotification> received = server.notifications();
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].content.title.toStdString());
        const zq::test::ReceivedNotification &shown = received[i];
        EXPECT_EQ(shown.appName, QStringLiteral("ZEPA QUARN"));
        EXPECT_EQ(shown.summary, cases[i].content.title);
        EXPECT_EQ(shown.urgency(), 1) << "normal urgency, never critical";
        EXPECT_EQ(shown.expireTimeoutMs, -1) << "the server's own timeout";
        EXPECT_EQ(shown.replacesId, 0u) << "a new notice, never one that replaces an earlier one";
        EXPECT_EQ(shown.hints.contains(QStringLiteral("sound-name")), cases[i].sound);
        EXPECT_EQ(shown.hints.contains(QStringLiteral("suppress-sound")), !cases[i].sound);
    }
    EXPECT_EQ(received[0].body, QStringLiteral("No input &lt;b&gt;here&lt;/b&gt;.")) << "plain text, not markup";
    EXPECT_NE(received[0].id, received[1].id);
}

TEST_F(FreedesktopNotificationsIntegrationTest, WithoutAServerNothingIsGranted)
{
    server.stop();
    EXPECT_EQ(authorize(), false);
}

} // namespace

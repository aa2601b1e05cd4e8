// The update reminder: once per version per day, recorded before it is asked for, shown 30 s later
// unless withdrawn.

#include "rewards/updates/UpdateReminder.h"
#include "pipeline/SettingsDefaults.h"
#include "support/FakeUserNotifications.h"
#include "support/VirtualLoop.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using zq::UpdateReminder;

namespace {

struct ReminderRig {
    ReminderRig() { zq::registerDefaults(settings); }

    double storedDate() const { return settings.doubleValue("updateReminderDate"); }
    double nowSeconds() { return loop.clocks().wallNow().toMSecsSinceEpoch() / 1000.0; }

    zq::test::VirtualLoop loop;
    zq::rt::Settings settings{QString()};
    zq::test::FakeUserNotifications notifications;
    UpdateReminder reminder = UpdateReminder::live(settings, loop.clocks(), loop, notifications);
};

} // namespace

TEST(UpdateReminderTest, OneNotificationThirtySecondsAfterTheFirstReminderOfAVersion)
{
    ReminderRig rig;
    rig.reminder.remindIfNeeded("1.3.0");
    EXPECT_EQ(rig.settings.stringValue("updateReminderVersion"), "1.3.0");
    EXPECT_DOUBLE_EQ(rig.storedDate(), rig.nowSeconds());

    rig.loop.advance(29s);
    EXPECT_TRUE(rig.notifications.posted().empty());
    rig.loop.advance(1s);
    ASSERT_EQ(rig.notifications.posted().size(), 1u);
    const auto &posted = rig.notifications.posted().front();
    EXPECT_EQ(posted.identifier, "io.quorvane.zepaquarn.update-reminder");
    EXPECT_EQ(posted.content.title, "ZEPA QUARN update ready");
    EXPECT_EQ(posted.content.body, "Version 1.3.0 is waiting. Open the tray icon when you have a moment.");
    EXPECT_FALSE(posted.content.playsDefaultSound);
}

TEST(UpdateReminderTest, OncePerVersionPerDayAcrossLaunches)
{
    ReminderRig rig;
    rig.reminder.remindIfNeeded("1.3.0");
    const double first = rig.storedDate();
    rig.loop.advance(1h);
    rig.reminder.remindIfNeeded("1.3.0");
    EXPECT_DOUBLE_EQ(rig.storedDate(), first) << "nothing written the second time";

    // A new launch over the same settings keeps the rule.
    UpdateReminder relaunched = UpdateReminder::live(rig.settings, rig.loop.clocks(), rig.loop, rig.notifications);
    relaunched.remindIfNeeded("1.3.0");
    rig.loop.advance(1min);
    EXPECT_EQ(rig.notifications.posted().size(), 1u);

    rig.reminder.remindIfNeeded("1.3.1");
    rig.loop.advance(30s);
    EXPECT_EQ(rig.notifications.posted().size(), 2u) << "another version is reminded at once";
    EXPECT_EQ(rig.settings.stringValue("updateReminderVersion"), "1.3.1");

    rig.loop.advance(24h);
    rig.reminder.remindIfNeeded("1.3.1");
    rig.loop.advance(30s);
    EXPECT_EQ(rig.notifications.posted().size(), 3u) << "a day later the same version is reminded again";
}

TEST(UpdateReminderTest, StoredRecordEdgeCases)
{
    ReminderRig rig;
    rig.settings.setValue("updateReminderVersion", QStringLiteral("1.3.0"));
    rig.settings.setValue("updateReminderDate", 0.0);
    rig.reminder.remindIfNeeded("1.3.0");
    EXPECT_GT(rig.storedDate(), 0.0) << "a date of 0 means no reminder yet";

    // The clock went back: the stored date lies in the future. No reminder until a day after it.
    const double future = rig.nowSeconds() + 3600;
    rig.settings.setValue("updateReminderDate", future);
    rig.reminder.remindIfNeeded("1.3.0");
    EXPECT_DOUBLE_EQ(rig.storedDate(), future);
    rig.loop.clocks().shiftWall(std::chrono::duration_cast<zq::rt::Nanos>(25h));
    rig.reminder.remindIfNeeded("1.3.0");
    EXPECT_DOUBLE_EQ(rig.storedDate(), rig.nowSeconds());
}

TEST(UpdateReminderTest, RefusedNotificationsStillCountAsSent)
{
    ReminderRig rig;
    rig.notifications.granted = false;
    rig.reminder.remindIfNeeded("1.3.0");
    rig.loop.advance(1min);
    EXPECT_TRUE(rig.notifications.posted().empty());
    EXPECT_EQ(rig.settings.stringValue("updateReminderVersion"), "1.3.0");

    rig.notifications.granted = true;
    rig.reminder.remindIfNeeded("1.3.0");
    rig.loop.advance(1min);
    EXPECT_TRUE(rig.notifications.posted().empty()) << "the next attempt for that version waits a day";
}

TEST(UpdateReminderTest, CancelWithdrawsOnlyTheReminderNotYetShown)
{
    ReminderRig rig;
    rig.reminder.remindIfNeeded("1.3.0");
    rig.loop.advance(10s);
    rig.reminder.cancelScheduled();
    rig.loop.advance(1min);
    EXPECT_TRUE(rig.notifications.posted().empty());

    // A cancel that lands while the authorization is still being asked for also holds.
    rig.notifications.deferAuthorization = true;
    rig.reminder.remindIfNeeded("1.4.0");
    rig.reminder.cancelScheduled();
    rig.notifications.answerPending();
    rig.loop.advance(1min);
    EXPECT_TRUE(rig.notifications.posted().empty());

    // A new reminder replaces the pending one: still one notification.
    rig.notifications.deferAuthorization = false;
    rig.reminder.remindIfNeeded("1.5.0");
    rig.loop.advance(10s);
    rig.reminder.remindIfNeeded("1.6.0");
    rig.loop.advance(1min);
    ASSERT_EQ(rig.notifications.posted().size(), 1u);
    EXPECT_TRUE(rig.notifications.posted().front().content.body.contains("1.6.0"));
}

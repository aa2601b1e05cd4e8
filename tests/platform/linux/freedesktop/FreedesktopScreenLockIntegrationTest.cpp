#include "platform/linux/freedesktop/FreedesktopScreenLock.h"
#include "support/DBusSession.h"
#include "support/ServiceEnvironment.h"

#include <QDBusMessage>
#include <QTest>

#include <gtest/gtest.h>

// A locker that starts after the first question: nobody answers GetActive, so only following its
// signals, and not asking again, can tell the lock.
TEST(FreedesktopScreenLockTest, ALockerIsFollowedThroughItsSignalsWithoutBeingAskedAgain)
{
    zq::test::DBusSession bus;
    const bool started = bus.start();
    ZQ_REQUIRE_SERVICE(started, bus.errorString());
    const QString client = QStringLiteral("screen-lock-client");
    const QString locker = QStringLiteral("screen-locker");
    {
        zq::platform::FreedesktopScreenLock lock(QDBusConnection::connectToBus(bus.address(), client));
        EXPECT_FALSE(lock.isLocked()) << "no locker on the bus";
        QDBusConnection lockerBus = QDBusConnection::connectToBus(bus.address(), locker);
        for (const bool active : {true, false}) {
            QDBusMessage changed = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/ScreenSaver"),
                                                              QStringLiteral("org.freedesktop.ScreenSaver"),
                                                              QStringLiteral("ActiveChanged"));
            changed << active;
            ASSERT_TRUE(lockerBus.send(changed));
            EXPECT_TRUE(QTest::qWaitFor([&] { return lock.isLocked() == active; }, 20000)) << active;
        }
    }
    QDBusConnection::disconnectFromBus(client);
    QDBusConnection::disconnectFromBus(locker);
}

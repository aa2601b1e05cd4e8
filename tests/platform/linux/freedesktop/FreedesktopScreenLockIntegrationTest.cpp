#include "platform/linux/freedesktop/FreedesktopScreenLock.h"
#include "support/DBusSession.h"
#include "support/FakeScreenLocker.h"
#include "support/ServiceEnvironment.h"

#include <QDBusMessage>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

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

// Desktops publish the locker at one of two paths. At either, it is asked, then followed through its
// signals; one that dies while locked leaves the screen unlocked, and one that takes its place, locked
// without a word, is asked again.
TEST(FreedesktopScreenLockTest, ALockerAtEitherPathIsFollowedThroughItsSignalsItsEndAndItsSuccessor)
{
    zq::test::DBusSession bus;
    const bool started = bus.start();
    ZQ_REQUIRE_SERVICE(started, bus.errorString());
    for (const QString path : {QStringLiteral("/org/freedesktop/ScreenSaver"), QStringLiteral("/ScreenSaver")}) {
        const QString client = QStringLiteral("screen-lock-client") + QString(path).replace(u'/', u'-');
        {
            zq::platform::FreedesktopScreenLock lock(QDBusConnection::connectToBus(bus.address(), client));
            auto locker = std::make_unique<zq::test::FakeScreenLocker>();
            ASSERT_TRUE(locker->start(bus.address(), path, true)) << qPrintable(locker->errorString());
            EXPECT_TRUE(lock.isLocked()) << qPrintable(path);
            for (const bool active : {false, true}) {
                locker->setActive(active);
                EXPECT_TRUE(QTest::qWaitFor([&] { return lock.isLocked() == active; }, 20000))
                    << qPrintable(path) << " " << active;
            }
            locker.reset();
            EXPECT_TRUE(QTest::qWaitFor([&] { return !lock.isLocked(); }, 20000)) << qPrintable(path) << ": gone";
            locker = std::make_unique<zq::test::FakeScreenLocker>();
            ASSERT_TRUE(locker->start(bus.address(), path, true)) << qPrintable(locker->errorString());
            EXPECT_TRUE(QTest::qWaitFor([&] { return lock.isLocked(); }, 20000)) << qPrintable(path) << ": successor";
        }
        QDBusConnection::disconnectFromBus(client);
    }
}

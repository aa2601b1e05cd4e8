#include "platform/linux/freedesktop/FreedesktopScreenLock.h"
#include "support/BusServiceHost.h"
#include "support/DBusSession.h"
#include "support/ServiceEnvironment.h"

#include <QTest>

#include <gtest/gtest.h>

#include <atomic>

namespace {

// A screen locker on the private bus, served from a thread of its own.
class FakeLocker : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    std::atomic<int> asked{0};
    std::atomic<bool> active{false};

    void change(bool now)
    {
        active = now;
        QMetaObject::invokeMethod(this, [this, now] { emit ActiveChanged(now); });
    }

public slots:
    bool GetActive()
    {
        ++asked;
        return active;
    }

signals:
    void ActiveChanged(bool active);
};

TEST(FreedesktopScreenLockTest, TheLockerIsAskedOnceThenFollowedEvenWhenItStartsLater)
{
    zq::test::DBusSession bus;
    const bool started = bus.start();
    ZQ_REQUIRE_SERVICE(started, bus.errorString());
    const QString name = QStringLiteral("screen-lock-client");
    zq::platform::FreedesktopScreenLock lock(QDBusConnection::connectToBus(bus.address(), name));
    EXPECT_FALSE(lock.isLocked()) << "no locker on the bus";

    zq::test::BusServiceHost host(QStringLiteral("fake-locker"));
    ASSERT_TRUE(host.start(bus.address(), new FakeLocker, QStringLiteral("org.freedesktop.ScreenSaver"),
                           QStringLiteral("/org/freedesktop/ScreenSaver"),
                           QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals))
        << host.errorString().toStdString();
    auto *locker = host.handler<FakeLocker>();
    locker->change(true);
    EXPECT_TRUE(QTest::qWaitFor([&] { return lock.isLocked(); }, 20000)) << "a locker that starts later is heard";
    locker->change(false);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !lock.isLocked(); }, 20000));
    EXPECT_EQ(locker->asked, 0) << "a paste waited on the locker's answer";

    locker->active = true;
    zq::platform::FreedesktopScreenLock another{QDBusConnection(name)};
    EXPECT_TRUE(another.isLocked()) << "the locker's own answer";
    EXPECT_TRUE(another.isLocked());
    EXPECT_EQ(locker->asked, 1);
    QDBusConnection::disconnectFromBus(name);
}

} // namespace

#include "FreedesktopScreenLockIntegrationTest.moc"

#include "platform/linux/freedesktop/FreedesktopScreenLock.h"
#include "support/BusServiceHost.h"
#include "support/DBusSession.h"
#include "support/ServiceEnvironment.h"

#include <QDBusMessage>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// A screen locker's answer to GetActive, from a thread of its own: the client asks with its thread blocked.
class ScreenLocker : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    explicit ScreenLocker(bool active) : active(active) {}
    const bool active;

public slots:
    bool GetActive() const { return active; }
};

} // namespace

// At either of the two paths desktops use: a locker that starts after the first question is heard through
// its signals alone (it answers "not locked"); one that dies while locked leaves the screen unlocked, and
// its successor, locked without a word, is asked again.
TEST(FreedesktopScreenLockTest, ALockerAtEitherPathIsFollowedThroughItsSignalsItsEndAndItsSuccessor)
{
    zq::test::DBusSession bus;
    const bool started = bus.start();
    ZQ_REQUIRE_SERVICE(started, bus.errorString());
    const QString service = QStringLiteral("org.freedesktop.ScreenSaver");
    const QString signaller = QStringLiteral("screen-lock-signaller");
    QDBusConnection signalling = QDBusConnection::connectToBus(bus.address(), signaller);
    for (const QString &path : {QStringLiteral("/org/freedesktop/ScreenSaver"), QStringLiteral("/ScreenSaver")}) {
        const QString client = QStringLiteral("screen-lock-client") + path;
        {
            zq::platform::FreedesktopScreenLock lock(QDBusConnection::connectToBus(bus.address(), client));
            EXPECT_FALSE(lock.isLocked()) << "no locker on the bus";
            zq::test::BusServiceHost locker(QStringLiteral("screen-locker"));
            const auto serve = [&](bool active) {
                return locker.start(bus.address(), new ScreenLocker(active), service, path,
                                    QDBusConnection::ExportAllSlots);
            };
            ASSERT_TRUE(serve(false)) << qPrintable(locker.errorString());
            for (const bool active : {true, false, true}) {
                QDBusMessage changed = QDBusMessage::createSignal(path, service, QStringLiteral("ActiveChanged"));
                changed << active;
                ASSERT_TRUE(signalling.send(changed));
                EXPECT_TRUE(QTest::qWaitFor([&] { return lock.isLocked() == active; }, 20000))
                    << qPrintable(path) << " " << active;
            }
            locker.stop();
            EXPECT_TRUE(QTest::qWaitFor([&] { return !lock.isLocked(); }, 20000)) << qPrintable(path) << ": gone";
            ASSERT_TRUE(serve(true)) << qPrintable(locker.errorString());
            EXPECT_TRUE(QTest::qWaitFor([&] { return lock.isLocked(); }, 20000)) << qPrintable(path) << ": successor";
        }
        QDBusConnection::disconnectFromBus(client);
    }
    QDBusConnection::disconnectFromBus(signaller);
}

#include "FreedesktopScreenLockIntegrationTest.moc"

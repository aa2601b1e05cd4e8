#include "platform/linux/freedesktop/PortalDesktopAppearance.h"
#include "support/DBusSession.h"
#include "support/ServiceEnvironment.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <mutex>

using zq::ColorScheme;
using zq::platform::PortalDesktopAppearance;

namespace {

// A settings portal of our own on the private bus, served from its own thread, that may take its time
// to answer.
class FakeSettingsPortal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public:
    void set(const QString &nameSpace, const QString &key, const QVariant &value)
    {
        std::lock_guard lock(m_mutex);
        m_values[nameSpace + QLatin1Char('/') + key] = value;
    }

public slots:
    QDBusVariant Read(const QString &nameSpace, const QString &key, const QDBusMessage &message)
    {
        std::unique_lock lock(m_mutex);
        m_opened.wait(lock, [this] { return m_answering; });
        const auto found = m_values.find(nameSpace + QLatin1Char('/') + key);
        if (found == m_values.end()) {
            message.setDelayedReply(true);
            QDBusConnection(m_connectionName)
                .send(message.createErrorReply(QStringLiteral("org.freedesktop.portal.Error.NotFound"),
                                               QStringLiteral("no such setting")));
            return {};
        }
        // The portal's Read answers a variant inside a variant.
        return QDBusVariant(QVariant::fromValue(QDBusVariant(found->second)));
    }

public:
    // Holds every answer back until answer() (a portal still starting with the session).
    void holdAnswers()
    {
        std::lock_guard lock(m_mutex);
        m_answering = false;
    }
    void answer()
    {
        {
            std::lock_guard lock(m_mutex);
            m_answering = true;
        }
        m_opened.notify_all();
    }

    QString m_connectionName;

private:
    std::mutex m_mutex;
    std::condition_variable m_opened;
    bool m_answering = true;
    std::map<QString, QVariant> m_values;
};

struct PortalDesktopAppearanceTest : testing::Test {
    zq::test::DBusSession bus;
    QThread portalThread;
    FakeSettingsPortal *portal = nullptr;
    QString portalConnection = QStringLiteral("fake-portal");

    void SetUp() override
    {
        const bool started = bus.start();
        ZQ_REQUIRE_SERVICE(started, bus.errorString());
    }
    void TearDown() override
    {
        if (portal) {
            portal->answer();
            QMetaObject::invokeMethod(
                portal, [this] { QDBusConnection::disconnectFromBus(portalConnection); }, Qt::BlockingQueuedConnection);
            portalThread.quit();
            portalThread.wait();
            delete portal;
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
    }

    // Starts the portal with these values, owning the portal's name on the bus.
    void startPortal(std::map<std::pair<QString, QString>, QVariant> values)
    {
        portal = new FakeSettingsPortal;
        portal->m_connectionName = portalConnection;
        for (const auto &[where, value] : values)
            portal->set(where.first, where.second, value);
        portal->moveToThread(&portalThread);
        portalThread.start();
        bool registered = false;
        QMetaObject::invokeMethod(
            portal,
            [&] {
                QDBusConnection connection = QDBusConnection::connectToBus(bus.address(), portalConnection);
                registered = connection.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), portal,
                                                       QDBusConnection::ExportAllSlots) &&
                             connection.registerService(QStringLiteral("org.freedesktop.portal.Desktop"));
            },
            Qt::BlockingQueuedConnection);
        ASSERT_TRUE(registered);
    }

    void emitChange(const QString &nameSpace, const QString &key, const QVariant &value)
    {
        portal->set(nameSpace, key, value);
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/portal/desktop"),
                                                         QStringLiteral("org.freedesktop.portal.Settings"),
                                                         QStringLiteral("SettingChanged"));
        signal << nameSpace << key << QVariant::fromValue(QDBusVariant(value));
        ASSERT_TRUE(QDBusConnection(portalConnection).send(signal));
    }

    QDBusConnection client() { return QDBusConnection::connectToBus(bus.address(), QStringLiteral("client")); }
};

// Returns once the reads sent at construction have been answered (or refused) and handled: a read of
// our own on the same connection, after them, is answered after them.
void letReadsAnswer(QDBusConnection connection)
{
    QDBusMessage read = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.portal.Desktop"), QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.Settings"), QStringLiteral("Read"));
    read << QStringLiteral("zq.test") << QStringLiteral("round-trip");
    QDBusPendingCallWatcher watcher(connection.asyncCall(read));
    bool finished = false;
    QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, [&] { finished = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return finished; }, 60000));
}

const QString kAppearance = QStringLiteral("org.freedesktop.appearance");
const QString kScheme = QStringLiteral("color-scheme");
const QString kGnome = QStringLiteral("org.gnome.desktop.interface");
const QString kAnimations = QStringLiteral("enable-animations");

} // namespace

TEST_F(PortalDesktopAppearanceTest, WithoutAPortalTheStartPaletteDecidesAtOnce)
{
    PortalDesktopAppearance desktop(client(), ColorScheme::dark);
    EXPECT_EQ(desktop.colorScheme(), ColorScheme::dark);
    QSignalSpy changed(&desktop, &zq::platform::DesktopAppearance::changed);
    letReadsAnswer(client());
    EXPECT_FALSE(desktop.portalAvailable());
    EXPECT_EQ(desktop.colorScheme(), ColorScheme::dark);
    EXPECT_FALSE(desktop.reduceMotion());
    EXPECT_EQ(changed.count(), 0);
}

TEST_F(PortalDesktopAppearanceTest, NoBusAtAllIsNoPortal)
{
    PortalDesktopAppearance desktop(QDBusConnection(QStringLiteral("never-connected")), ColorScheme::light);
    EXPECT_EQ(desktop.colorScheme(), ColorScheme::light);
}

TEST_F(PortalDesktopAppearanceTest, ReadsThePortalAtStartAndFollowsItsChanges)
{
    startPortal({{{kAppearance, kScheme}, QVariant::fromValue(uint(1))}, {{kGnome, kAnimations}, QVariant(false)}});
    // A portal slow to answer (still starting with the session) holds nothing up: the palette decides
    // until its answers come as changes. A construction that waited for them would time its reads out.
    portal->holdAnswers();
    PortalDesktopAppearance desktop(client(), ColorScheme::light);
    EXPECT_EQ(desktop.colorScheme(), ColorScheme::light);
    EXPECT_FALSE(desktop.portalAvailable());
    QSignalSpy answered(&desktop, &zq::platform::DesktopAppearance::changed);
    portal->answer();
    ASSERT_TRUE(QTest::qWaitFor([&] { return answered.count() == 2; }, 60000));
    EXPECT_TRUE(desktop.portalAvailable());
    EXPECT_EQ(desktop.colorScheme(), ColorScheme::dark);
    EXPECT_TRUE(desktop.reduceMotion());

    QSignalSpy changed(&desktop, &zq::platform::DesktopAppearance::changed);
    emitChange(kAppearance, kScheme, QVariant::fromValue(uint(2)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return changed.count() == 1; }, 60000));
    EXPECT_EQ(desktop.colorScheme(), ColorScheme::light);

    emitChange(kGnome, kAnimations, QVariant(true));
    ASSERT_TRUE(QTest::qWaitFor([&] { return changed.count() == 2; }, 60000));
    EXPECT_FALSE(desktop.reduceMotion());

    // No preference falls back to the start palette; a key we do not read changes nothing.
    emitChange(QStringLiteral("org.gnome.desktop.interface"), QStringLiteral("font-name"),
               QVariant(QStringLiteral("x")));
    emitChange(kAppearance, kScheme, QVariant::fromValue(uint(0)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return changed.count() == 3; }, 60000));
    EXPECT_EQ(desktop.colorScheme(), ColorScheme::light);
}

TEST_F(PortalDesktopAppearanceTest, APortalWithoutTheKeysLeavesTheDefaults)
{
    startPortal({});
    PortalDesktopAppearance desktop(client(), ColorScheme::dark);
    letReadsAnswer(client());
    EXPECT_FALSE(desktop.portalAvailable());
    EXPECT_EQ(desktop.colorScheme(), ColorScheme::dark);
    EXPECT_FALSE(desktop.reduceMotion());
}

#include "PortalDesktopAppearanceIntegrationTest.moc"

#include "support/DBusSession.h"
#include "support/NotificationServer.h"
#include "support/Polling.h"
#include "support/ServiceEnvironment.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QUuid>

#include <gtest/gtest.h>

using namespace zq::test;
using namespace std::chrono_literals;

namespace {

// A client connection of its own, closed when the test ends.
class BusClient {
public:
    explicit BusClient(const QString &address)
        : m_name(QStringLiteral("zq-test-client-") + QUuid::createUuid().toString(QUuid::WithoutBraces)),
          m_connection(QDBusConnection::connectToBus(address, m_name))
    {}
    ~BusClient() { QDBusConnection::disconnectFromBus(m_name); }
    QDBusMessage call(const QString &method, const QVariantList &arguments = {})
    {
        QDBusMessage message = QDBusMessage::createMethodCall(QLatin1String(NotificationServer::kServiceName),
                                                              QLatin1String(NotificationServer::kObjectPath),
                                                              QStringLiteral("org.freedesktop.Notifications"), method);
        message.setArguments(arguments);
        return m_connection.call(message, QDBus::Block, 5000);
    }
    bool isConnected() const { return m_connection.isConnected(); }

private:
    QString m_name;
    QDBusConnection m_connection;
};

} // namespace

TEST(DBusSession, KeyringOnThePrivateBusStoresAndLooksUpSecrets)
{
    DBusSession bus;
    ZQ_REQUIRE_SERVICE(bus.start(), bus.errorString());
    EXPECT_TRUE(bus.address().startsWith(QStringLiteral("unix:path=")));
    ZQ_REQUIRE_SERVICE(bus.startKeyring(), bus.errorString());
    EXPECT_TRUE(bus.hasOwner(QStringLiteral("org.freedesktop.secrets")));

    const QStringList attributes{QStringLiteral("service"), QStringLiteral("zq-harness"), QStringLiteral("account"),
                                 QStringLiteral("smoke")};
    const ToolResult stored =
        runTool(QStringLiteral("secret-tool"),
                QStringList{QStringLiteral("store"), QStringLiteral("--label=zq smoke")} + attributes,
                bus.clientEnvironment(), QByteArray("s3cret \xc3\xa9"));
    ASSERT_TRUE(stored.succeeded()) << stored.describe().toStdString();
    const ToolResult found = runTool(QStringLiteral("secret-tool"), QStringList{QStringLiteral("lookup")} + attributes,
                                     bus.clientEnvironment());
    ASSERT_TRUE(found.succeeded()) << found.describe().toStdString();
    EXPECT_EQ(found.standardOutput, QByteArray("s3cret \xc3\xa9"));

    bus.stop();
    EXPECT_FALSE(bus.isRunning());
    EXPECT_FALSE(bus.hasOwner(QStringLiteral("org.freedesktop.secrets")));
}

TEST(DBusSession, TwoSessionsAreSeparateBuses)
{
    DBusSession first;
    DBusSession second;
    ZQ_REQUIRE_SERVICE(first.start(), first.errorString());
    ZQ_REQUIRE_SERVICE(second.start(), second.errorString());
    EXPECT_NE(first.address(), second.address());
    NotificationServer server;
    ASSERT_TRUE(server.start(first.address())) << server.errorString().toStdString();
    EXPECT_TRUE(first.hasOwner(QLatin1String(NotificationServer::kServiceName)));
    EXPECT_FALSE(second.hasOwner(QLatin1String(NotificationServer::kServiceName)));
}

TEST(NotificationServer, RecordsNotifyCallsFromQtDBusAndNotifySend)
{
    DBusSession bus;
    ZQ_REQUIRE_SERVICE(bus.start(), bus.errorString());
    NotificationServer server;
    ASSERT_TRUE(server.start(bus.address())) << server.errorString().toStdString();

    BusClient client(bus.address());
    ASSERT_TRUE(client.isConnected());
    const QDBusMessage information = client.call(QStringLiteral("GetServerInformation"));
    ASSERT_EQ(information.type(), QDBusMessage::ReplyMessage) << information.errorMessage().toStdString();
    EXPECT_EQ(information.arguments().size(), 4);
    const QDBusMessage capabilities = client.call(QStringLiteral("GetCapabilities"));
    EXPECT_TRUE(capabilities.arguments().value(0).toStringList().contains(QStringLiteral("body")));

    QVariantMap hints{{QStringLiteral("urgency"), QVariant::fromValue(uchar(2))}};
    const QDBusMessage reply = client.call(
        QStringLiteral("Notify"),
        {QStringLiteral("ZEPA QUARN"), 0u, QString(), QStringLiteral("Summary <b>"), QStringLiteral("Body & more"),
         QStringList{QStringLiteral("default"), QStringLiteral("Open")}, hints, 5000});
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    const uint id = reply.arguments().value(0).toUInt();
    EXPECT_GT(id, 0u);

    const ToolResult sent = runTool(QStringLiteral("notify-send"),
                                    {QStringLiteral("--app-name=zq-smoke"), QStringLiteral("--urgency=low"),
                                     QStringLiteral("From notify-send"), QStringLiteral("Second body")},
                                    bus.clientEnvironment());
    ASSERT_TRUE(sent.succeeded()) << sent.describe().toStdString();
    ASSERT_TRUE(server.waitForNotifications(2, zq::test::kLoadedMachineTimeout));

    const std::vector<ReceivedNotification> received = server.notifications();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].id, id);
    EXPECT_EQ(received[0].appName, QStringLiteral("ZEPA QUARN"));
    EXPECT_EQ(received[0].summary, QStringLiteral("Summary <b>"));
    EXPECT_EQ(received[0].body, QStringLiteral("Body & more"));
    EXPECT_EQ(received[0].actions, (QStringList{QStringLiteral("default"), QStringLiteral("Open")}));
    EXPECT_EQ(received[0].urgency(), 2);
    EXPECT_EQ(received[0].expireTimeoutMs, 5000);
    EXPECT_EQ(received[1].appName, QStringLiteral("zq-smoke"));
    EXPECT_EQ(received[1].summary, QStringLiteral("From notify-send"));
    EXPECT_EQ(received[1].urgency(), 0);
    EXPECT_NE(received[1].id, id);

    client.call(QStringLiteral("CloseNotification"), {id});
    EXPECT_EQ(server.closedIds(), std::vector<uint32_t>{id});

    NotificationServer rival;
    EXPECT_FALSE(rival.start(bus.address())) << "a second server must not steal the name";
}

#include "support/ServiceEnvironment.h"
#include "support/XvfbServer.h"

#include <QGuiApplication>

#include <gtest/gtest.h>

using namespace zq::test;
using namespace std::chrono_literals;

namespace {

ToolResult queryExtensions(const QString &display)
{
    return runTool(QStringLiteral("xdpyinfo"),
                   {QStringLiteral("-display"), display, QStringLiteral("-queryExtensions")});
}

} // namespace

TEST(XvfbServer, ParallelServersGetTheirOwnDisplaysWithXInput)
{
    XvfbServer first;
    XvfbServer second;
    ZQ_REQUIRE_SERVICE(first.start(), first.errorString());
    ZQ_REQUIRE_SERVICE(second.start(), second.errorString());
    EXPECT_TRUE(first.display().startsWith(QLatin1Char(':')));
    EXPECT_NE(first.display(), second.display());
    EXPECT_EQ(qgetenv("DISPLAY"), sharedDisplay().toLocal8Bit()) << "starting a server must not change DISPLAY";

    const ToolResult info = queryExtensions(first.display());
    ASSERT_TRUE(info.succeeded()) << info.describe().toStdString();
    EXPECT_TRUE(info.standardOutput.contains("XInputExtension"));
    EXPECT_TRUE(info.standardOutput.contains("XTEST"));
}

TEST(XvfbServer, StoppingTheServerDisconnectsItsClients)
{
    XvfbServer server;
    ZQ_REQUIRE_SERVICE(server.start(), server.errorString());
    // A client that stays connected until the server goes away. (Probing the display number
    // after stop() would race with parallel tests, which may get the same number at once.)
    ChildProcess client;
    ChildSpec spec;
    spec.program = QStringLiteral("xprop");
    spec.arguments = {QStringLiteral("-display"), server.display(), QStringLiteral("-root"), QStringLiteral("-spy")};
    spec.standardOutput = ChildStream::Pipe;
    ASSERT_TRUE(client.start(spec)) << client.errorString().toStdString();
    ASSERT_TRUE(client.readLine(ChildProcess::Channel::StandardOutput, QDeadlineTimer(5s)).has_value())
        << "xprop did not connect";

    server.stop();
    EXPECT_FALSE(server.isRunning());
    EXPECT_TRUE(server.display().isEmpty());
    // xprop exits on the broken connection, or dies of SIGPIPE when it writes to it first: either way
    // it ends by itself, long before the deadline.
    client.waitForExit(QDeadlineTimer(5s));
    EXPECT_FALSE(client.wasKilledAtDeadline()) << "the client is still connected: the server outlived stop()";
}

TEST(XvfbServer, TheServerKeepsItsStateWhenItsOnlyClientLeaves)
{
    // The application checks the display with a connection of its own and closes it; a server
    // that reset then would drop what is on it and refuse the next client while it resets.
    XvfbServer server;
    ZQ_REQUIRE_SERVICE(server.start(), server.errorString());
    const auto xprop = [&](QStringList arguments) {
        return runTool(QStringLiteral("xprop"),
                       QStringList{QStringLiteral("-display"), server.display(), QStringLiteral("-root")} + arguments);
    };
    const ToolResult set = xprop({QStringLiteral("-f"), QStringLiteral("ZQ_MARK"), QStringLiteral("8s"),
                                  QStringLiteral("-set"), QStringLiteral("ZQ_MARK"), QStringLiteral("kept")});
    ASSERT_TRUE(set.succeeded()) << set.describe().toStdString();
    const ToolResult read = xprop({QStringLiteral("ZQ_MARK")});
    ASSERT_TRUE(read.succeeded()) << read.describe().toStdString();
    EXPECT_TRUE(read.standardOutput.contains("\"kept\"")) << read.standardOutput.toStdString();
}

TEST(XvfbServer, IntegrationBinariesRunTheApplicationOnTheSharedDisplay)
{
    ZQ_REQUIRE_SERVICE(!sharedDisplay().isEmpty(), sharedDisplayError());
    EXPECT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    EXPECT_EQ(qgetenv("DISPLAY"), sharedDisplay().toLocal8Bit());
    EXPECT_NE(qgetenv("DBUS_SESSION_BUS_ADDRESS"), QByteArray()) << "a bus address must always be set";
    EXPECT_FALSE(qgetenv("HOME").isEmpty());
    EXPECT_NE(qgetenv("HOME"), QByteArray("/root")) << "tests run with a private HOME";
}

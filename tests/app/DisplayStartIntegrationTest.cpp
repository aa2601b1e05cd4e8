// The real application starting on X servers that make its own display check dangerous: one that
// resets whenever its last client leaves, and one that lets only the check in.
#include "support/ChildProcess.h"
#include "support/ServiceEnvironment.h"
#include "support/XDisplayProxy.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

using namespace std::chrono_literals;
using zq::test::ChildProcess;
using zq::test::ChildSpec;
using zq::test::ChildStream;
using zq::test::XDisplayProxy;

namespace {

class DisplayStartIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_home.isValid());
        QDir(m_home.path()).mkpath(QStringLiteral("run"));
        QFile::setPermissions(m_home.filePath(QStringLiteral("run")),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    ChildSpec appSpec(const QString &display) const
    {
        ChildSpec spec;
        spec.program = QStringLiteral(ZQ_APP_BINARY);
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_home.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.filePath(QStringLiteral("run")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_home.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_STATE_HOME"), m_home.filePath(QStringLiteral("state")));
        env.insert(QStringLiteral("DISPLAY"), display);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
        env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("io.quorvane.*=true"));
        // The proxy passes bytes, not the shared-memory descriptors the toolkit would hand over.
        env.insert(QStringLiteral("QT_XCB_NO_MITSHM"), QStringLiteral("1"));
        spec.environment = env;
        spec.standardOutput = ChildStream::Null;
        spec.standardError = ChildStream::Pipe;
        return spec;
    }

    // Starts the application and reads its log until it has launched. Nothing when it ended
    // first; `log` gets what it wrote.
    static bool launches(ChildProcess &app, QByteArray *log)
    {
        const QDeadlineTimer deadline(30s);
        while (auto line = app.readLine(ChildProcess::Channel::StandardError, deadline)) {
            *log += *line + '\n';
            if (line->contains("app: launched"))
                return true;
        }
        return false;
    }

    // Quits it as a logout would; its exit status.
    static std::optional<int> quit(ChildProcess &app)
    {
        ::kill(app.pid(), SIGTERM);
        return app.waitForExit(QDeadlineTimer(15s));
    }

    QTemporaryDir m_home;
};

TEST_F(DisplayStartIntegrationTest, StartsEveryTimeOnAServerThatResetsWhenItsLastClientLeaves)
{
    // No -noreset: the server resets each time its last client goes, as display managers' do.
    QTemporaryDir serverDir;
    ChildProcess server;
    ChildSpec serverSpec;
    serverSpec.program = QStringLiteral("Xvfb");
    serverSpec.arguments = {QStringLiteral("-displayfd"), QStringLiteral("3"),          QStringLiteral("-screen"),
                            QStringLiteral("0"),          QStringLiteral("640x480x24"), QStringLiteral("-nolisten"),
                            QStringLiteral("tcp")};
    serverSpec.pipeOnFd3 = true;
    serverSpec.logPath = serverDir.filePath(QStringLiteral("xvfb.log"));
    const bool started = server.start(serverSpec);
    ZQ_REQUIRE_SERVICE(started, server.errorString());
    const auto number = server.readLine(ChildProcess::Channel::Fd3, QDeadlineTimer(10s));
    ZQ_REQUIRE_SERVICE(number.has_value(), QStringLiteral("Xvfb reported no display"));
    const QString display = QLatin1Char(':') + QString::fromLatin1(number->trimmed());

    // Without the proxy: the real socket, where the toolkit shares memory with the server as usual.
    ChildSpec spec = appSpec(display);
    spec.environment.remove(QStringLiteral("QT_XCB_NO_MITSHM"));
    constexpr int kStarts = 30;
    for (int i = 0; i < kStarts; ++i) {
        ChildProcess app;
        ASSERT_TRUE(app.start(spec));
        QByteArray log;
        const bool launched = launches(app, &log);
        const auto status = launched ? quit(app) : app.waitForExit(QDeadlineTimer(15s));
        ASSERT_TRUE(launched) << "start " << i + 1 << " of " << kStarts << " ended with "
                              << (status ? QByteArray::number(*status) : QByteArray("a signal")).constData()
                              << "; its log:\n"
                              << log.constData();
        ASSERT_EQ(status, 0) << "start " << i + 1 << " was quit and did not exit by itself within 15 s with status 0;"
                             << " its log after the launch:\n"
                             << app.collected(ChildProcess::Channel::StandardError).constData();
        // The server resets now that its only client has gone; the next start comes once it has.
        QThread::msleep(200);
    }
}

TEST_F(DisplayStartIntegrationTest, TheDisplayCheckHoldsItsConnectionUntilTheToolkitHasItsOwn)
{
    const bool hasDisplay = !zq::test::sharedDisplay().isEmpty();
    ZQ_REQUIRE_SERVICE(hasDisplay, zq::test::sharedDisplayError());
    XDisplayProxy proxy;
    ASSERT_TRUE(proxy.start(zq::test::sharedDisplay())) << proxy.errorString().toStdString();

    ChildProcess app;
    ASSERT_TRUE(app.start(appSpec(proxy.display())));
    QByteArray log;
    ASSERT_TRUE(launches(app, &log)) << log.constData();
    EXPECT_EQ(quit(app), 0);

    // The first client is the check, the second the toolkit: had the check left first, a server
    // that resets with its last client would have reset right there.
    const auto connections = proxy.connections();
    ASSERT_GE(connections.size(), 2u);
    EXPECT_FALSE(connections[0].refused);
    EXPECT_LT(connections[1].openedAt, connections[0].closedAt)
        << "the check's connection closed before the toolkit connected";
}

TEST_F(DisplayStartIntegrationTest, WhenTheToolkitCannotConnectItSaysSoAndExitsWithStatusOne)
{
    const bool hasDisplay = !zq::test::sharedDisplay().isEmpty();
    ZQ_REQUIRE_SERVICE(hasDisplay, zq::test::sharedDisplayError());
    // The check gets in; every client after it is turned away, as by a server gone in between:
    // before it answers, or right after, so that the toolkit's next write finds the connection
    // closed. The second breaks the toolkit's own connection, so its library has the last word.
    const struct {
        const char *name;
        XDisplayProxy::Refusal refusal;
        const char *says;
    } cases[] = {
        {"closed at once", XDisplayProxy::Refusal::AtOnce, "ZEPA QUARN needs an X11 session"},
        {"closed after its answer", XDisplayProxy::Refusal::AfterGreeting, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        XDisplayProxy proxy;
        ASSERT_TRUE(proxy.start(zq::test::sharedDisplay(), 1, c.refusal)) << proxy.errorString().toStdString();

        ChildProcess app;
        ASSERT_TRUE(app.start(appSpec(proxy.display())));
        const auto status = app.waitForExit(QDeadlineTimer(30s));
        const QByteArray log = app.collected(ChildProcess::Channel::StandardError);
        ASSERT_TRUE(status.has_value()) << "it must exit, not die from a signal; log:\n" << log.constData();
        EXPECT_EQ(*status, 1) << log.constData();
        EXPECT_TRUE(log.contains(proxy.display().toLatin1())) << "it names the display; log:\n" << log.constData();
        if (c.says) {
            EXPECT_TRUE(log.contains(c.says)) << log.constData();
        }
        EXPECT_FALSE(log.contains("Reinstalling")) << log.constData();
        EXPECT_FALSE(QFileInfo::exists(m_home.filePath(QStringLiteral("data/ZEPAquarn"))))
            << "it stops before it touches any data";
        EXPECT_GE(proxy.connections().size(), 2u) << "the toolkit did try";
    }
}

} // namespace

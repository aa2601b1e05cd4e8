// The main() of every test binary: a sandboxed environment, the right Qt platform, then gtest.
#include "support/DBusSession.h"
#include "support/ServiceEnvironment.h"
#include "support/XvfbServer.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>

#ifndef ZQ_TEST_LABEL
#error "ZQ_TEST_LABEL must name the binary's label (unit, integration or e2e)"
#endif

namespace {

// Points HOME and the XDG folders at a folder of this process, so that no test writes settings,
// records, keyrings or caches into the real user's home.
std::unique_ptr<QTemporaryDir> sandboxHome()
{
    auto home = zq::test::makeServiceDir(QStringLiteral("zq-test-home"));
    if (!home->isValid()) {
        std::fprintf(stderr, "TestMain: cannot create a private HOME: %s\n", qPrintable(home->errorString()));
        return home;
    }
    qputenv("HOME", QFile::encodeName(home->path()));
    const struct {
        const char *variable;
        const char *folder;
    } folders[] = {{"XDG_CONFIG_HOME", ".config"},
                   {"XDG_DATA_HOME", ".local/share"},
                   {"XDG_STATE_HOME", ".local/state"},
                   {"XDG_CACHE_HOME", ".cache"},
                   {"XDG_RUNTIME_DIR", "runtime"}};
    for (const auto &entry : folders) {
        const QString path = home->filePath(QLatin1String(entry.folder));
        QDir().mkpath(path);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv(entry.variable, QFile::encodeName(path));
    }
    return home;
}

// No test, and no application a test starts, reaches the product's own hosts or the transcription
// service: each points at a closed loopback port unless the test names a server of its own.
void keepOutsideServicesOnLoopback()
{
    const struct {
        const char *variable;
        const char *value;
    } defaults[] = {
        {"ZQ_OPENAI_BASE_URL_FOR_TESTS", "http://127.0.0.1:9"},
        {"ZQ_INVITE_BASE_URL_FOR_TESTS", "http://127.0.0.1:9"},
        {"ZQ_UPDATE_FEED_URL_FOR_TESTS", "https://127.0.0.1:9/appcast.xml"},
        // The feed is used only together with a key; 32 zero bytes verify no real signature.
        {"ZQ_UPDATE_PUBLIC_KEY_FOR_TESTS", "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA="},
    };
    for (const auto &entry : defaults) {
        if (!qEnvironmentVariableIsSet(entry.variable))
            qputenv(entry.variable, entry.value);
    }
}

} // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Listing tests (CTest's discovery) needs no services.
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();

    // Without a bus address Qt would look for a session bus (and could start a stray one).
    if (!qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS"))
        qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    const std::unique_ptr<QTemporaryDir> home = sandboxHome();
    keepOutsideServicesOnLoopback();
    const bool unit = std::strcmp(ZQ_TEST_LABEL, "unit") == 0;

    // Integration and e2e tests share one private session bus for the whole process, never the
    // user's: what connects to the session bus in this process keeps the first one it reaches.
    zq::test::DBusSession bus;
    if (!unit) {
        if (bus.start()) {
            qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address().toUtf8());
            zq::test::setProcessSessionBus(&bus, {});
        } else {
            const QString why = QStringLiteral("cannot start a session bus: ") + bus.errorString();
            std::fprintf(stderr, "TestMain: %s\n", qPrintable(why));
            if (zq::test::isContinuousIntegration())
                return 1;
            qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
            zq::test::setProcessSessionBus(nullptr, why);
        }
    }

    // Declared before the application so that it outlives the application's X connection.
    zq::test::XvfbServer xvfb;
    if (unit) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    } else if (xvfb.start()) {
        qputenv("DISPLAY", xvfb.display().toLocal8Bit());
        qputenv("QT_QPA_PLATFORM", "xcb");
        qunsetenv("WAYLAND_DISPLAY");
        zq::test::setSharedDisplay(xvfb.display(), {});
    } else {
        const QString why = QStringLiteral("cannot start Xvfb: ") + xvfb.errorString();
        std::fprintf(stderr, "TestMain: %s\n", qPrintable(why));
        if (zq::test::isContinuousIntegration())
            return 1;
        // Tests that need the display skip through requireService(sharedDisplay() ...).
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qunsetenv("DISPLAY");
        zq::test::setSharedDisplay({}, why);
    }

    int result;
    {
        QApplication application(argc, argv);
        result = RUN_ALL_TESTS();
    }
    xvfb.stop();
    zq::test::setProcessSessionBus(nullptr, QStringLiteral("the tests have ended"));
    return result;
}

#pragma once

#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <source_location>

namespace zq::test {

// True when the environment variable CI is set to something other than "", "0" or "false".
bool isContinuousIntegration();

// For a private service a test needs. When `ok` is false: on CI the test fails (a fatal failure,
// so a fixture's SetUp stops the test), elsewhere it is skipped with `why` printed.
// Returns `ok`. Evaluate `ok` before `why` (`bool ok = server.start();` first): argument order
// is unspecified. In a test body use ZQ_REQUIRE_SERVICE, which does so and returns from the test.
bool requireService(bool ok, const QString &why, std::source_location where = std::source_location::current());

#define ZQ_REQUIRE_SERVICE(ok, why)                                                                                    \
    if (const bool zqServiceOk = (ok);                                                                                 \
        !::zq::test::requireService(zqServiceOk, zqServiceOk ? QString() : QString(why)))                              \
    return

// A fresh private folder (mode 0700) for one service, short enough for unix socket paths
// (108 bytes): under $TMPDIR when that is short, else under /tmp. Removed when destroyed.
std::unique_ptr<QTemporaryDir> makeServiceDir(const QString &prefix);

// The X display that TestMain started for this integration/e2e test process (":N"), or empty
// with the reason in sharedDisplayError(). TestMain also exports it as DISPLAY.
QString sharedDisplay();
QString sharedDisplayError();
void setSharedDisplay(const QString &display, const QString &error);

} // namespace zq::test

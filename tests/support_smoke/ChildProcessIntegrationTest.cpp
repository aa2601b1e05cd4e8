#include "support/ChildProcess.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>

#include <gtest/gtest.h>

#include <csignal>

using namespace zq::test;
using namespace std::chrono_literals;

namespace {

// Gone, or a zombie waiting for init: either way it no longer runs.
bool hasStopped(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray text = stat.readAll();
    const qsizetype afterName = text.lastIndexOf(')');
    return afterName < 0 || text.mid(afterName + 2, 1) == "Z";
}

bool waitUntilStopped(pid_t pid)
{
    const QDeadlineTimer deadline(5s);
    while (!hasStopped(pid) && !deadline.hasExpired())
        usleep(10 * 1000);
    return hasStopped(pid);
}

} // namespace

TEST(ChildProcess, StoppingKillsTheWholeProcessGroupIncludingGrandchildren)
{
    pid_t leader = -1;
    pid_t grandchild = -1;
    {
        ChildProcess child;
        ChildSpec spec;
        spec.program = QStringLiteral("sh");
        // The shell ignores SIGTERM, so only the SIGKILL after the grace period ends it.
        spec.arguments = {QStringLiteral("-c"), QStringLiteral("trap '' TERM; sleep 30 & echo $!; wait")};
        spec.standardOutput = ChildStream::Pipe;
        ASSERT_TRUE(child.start(spec)) << child.errorString().toStdString();
        const std::optional<QByteArray> line =
            child.readLine(ChildProcess::Channel::StandardOutput, QDeadlineTimer(5s));
        ASSERT_TRUE(line.has_value());
        leader = child.pid();
        grandchild = pid_t(line->toInt());
        ASSERT_GT(grandchild, 0);
        EXPECT_TRUE(child.isRunning());
        child.stop(200ms);
        EXPECT_FALSE(child.isRunning());
    }
    EXPECT_TRUE(waitUntilStopped(leader)) << "the leader survived stop()";
    EXPECT_TRUE(waitUntilStopped(grandchild)) << "a grandchild in the group survived stop()";
}

TEST(ChildProcess, ToolRunsReportOutputTimeoutsAndMissingPrograms)
{
    const ToolResult echoed =
        runTool(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("cat; echo oops >&2; exit 3")},
                QProcessEnvironment::systemEnvironment(), QByteArray("from stdin"));
    EXPECT_EQ(echoed.exitCode, 3);
    EXPECT_EQ(echoed.standardOutput, "from stdin");
    EXPECT_EQ(echoed.standardError.trimmed(), "oops");
    EXPECT_FALSE(echoed.succeeded());

    QElapsedTimer elapsed;
    elapsed.start();
    const ToolResult hung = runTool(QStringLiteral("sleep"), {QStringLiteral("30")},
                                    QProcessEnvironment::systemEnvironment(), std::nullopt, 200ms);
    EXPECT_FALSE(hung.exitCode.has_value()) << "a tool killed at its deadline has no exit code";
    EXPECT_LT(elapsed.elapsed(), 5000) << "the timeout must bound the wait";
    EXPECT_TRUE(hung.error.contains(QStringLiteral("did not finish"))) << hung.error.toStdString();

    const ToolResult missing = runTool(QStringLiteral("zq-no-such-program"), {});
    EXPECT_FALSE(missing.exitCode.has_value());
    EXPECT_TRUE(missing.error.contains(QStringLiteral("not installed"))) << missing.error.toStdString();

    // A child that exits before reading its stdin must not take the test down with SIGPIPE.
    const ToolResult deaf =
        runTool(QStringLiteral("true"), {}, QProcessEnvironment::systemEnvironment(), QByteArray(1 << 20, 'x'));
    EXPECT_EQ(deaf.exitCode, 0);
}

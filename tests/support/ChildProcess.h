#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>
#include <sys/types.h>

namespace zq::test {

// What a child's output stream is connected to.
enum class ChildStream {
    Null, // /dev/null
    Log,  // appended to ChildSpec::logPath (or /dev/null when that is empty)
    Pipe, // readable by the parent through ChildProcess::read*/readLine
};

struct ChildSpec {
    QString program; // a name looked up on PATH, or a path
    QStringList arguments;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // Written to the child's stdin before anything is read, then closed: keep it small (a pipe
    // buffer, 64 KiB), or a child that answers before reading all of it blocks. Without a value
    // stdin is /dev/null.
    std::optional<QByteArray> standardInput;
    ChildStream standardOutput = ChildStream::Log;
    ChildStream standardError = ChildStream::Log;
    QString logPath;
    // Gives the child a pipe on fd 3 (for `Xvfb -displayfd 3`).
    bool pipeOnFd3 = false;
};

// A child process in a process group of its own, for test services and tools.
//
// Not thread-safe: use one ChildProcess from one thread. The child is started with
// PR_SET_PDEATHSIG, so it gets SIGTERM when the thread that started it exits (a crashed or
// killed test process leaves no service behind): start long-lived services on a thread that
// outlives them, in practice the test's main thread.
// The destructor stops the whole process group (SIGTERM, then SIGKILL after a bounded grace).
class ChildProcess {
public:
    enum class Channel { StandardOutput, StandardError, Fd3 };

    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // Returns false with errorString() set when the program cannot be found or started. Starts again
    // once the earlier run has ended and was waited for.
    bool start(const ChildSpec &spec);
    QString errorString() const { return m_error; }

    pid_t pid() const { return m_pid; }
    // True while the child has not exited (a zombie counts as exited).
    bool isRunning() const;

    // Reads one line (without its '\n') from a piped channel; nullopt at EOF or when the
    // deadline passes first.
    std::optional<QByteArray> readLine(Channel channel, QDeadlineTimer deadline);
    // Reads until `count` bytes arrived, EOF, or the deadline: returns what arrived.
    QByteArray readBytes(Channel channel, qsizetype count, QDeadlineTimer deadline);

    // Waits for the child to exit by itself while draining piped output; kills the group at the
    // deadline. Returns the exit code, or nullopt when it was killed or died from a signal.
    std::optional<int> waitForExit(QDeadlineTimer deadline);
    // Output collected by waitForExit.
    QByteArray collected(Channel channel) const;
    // How the child ended, for test messages: its exit status, the signal it died of, or that it
    // was still running (and killed) at waitForExit's deadline.
    QString howItEnded() const;
    // Whether waitForExit found the child still running at its deadline (and killed it).
    bool wasKilledAtDeadline() const { return m_killedAtDeadline; }

    // Stops the process group: SIGTERM, up to `grace` for the leader to exit, then SIGKILL for
    // everything left in the group. Safe to call more than once.
    void stop(std::chrono::milliseconds grace = std::chrono::milliseconds(3000));

    // The last lines of the log file, for error messages.
    QString logTail(int maxLines = 15) const;

private:
    struct Pipe {
        int fd = -1;
        QByteArray buffer;
        bool eof = false;
    };
    Pipe &pipeFor(Channel channel);
    const Pipe &pipeFor(Channel channel) const;
    // Reads what is available from one pipe, waiting at most until the deadline.
    bool fill(Pipe &pipe, QDeadlineTimer deadline);
    void closePipes();
    bool reap(int options);

    pid_t m_pid = -1;
    bool m_reaped = false;
    std::optional<int> m_exitCode;
    std::optional<int> m_signal;
    bool m_killedAtDeadline = false;
    QString m_error;
    QString m_logPath;
    Pipe m_stdout;
    Pipe m_stderr;
    Pipe m_fd3;
};

struct ToolResult {
    std::optional<int> exitCode; // nullopt: did not start, timed out or died from a signal
    QByteArray standardOutput;
    QByteArray standardError;
    QString error; // why it failed to start or finish

    bool succeeded() const { return exitCode == 0; }
    // A one-line account for test messages: error, exit code and stderr.
    QString describe() const;
};

// Runs a short-lived tool to completion (killed after `timeout`).
ToolResult runTool(const QString &program, const QStringList &arguments,
                   const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment(),
                   std::optional<QByteArray> standardInput = std::nullopt,
                   std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));

// Runs xdotool on the test's display (keys typed as a user types them); a failure fails the test.
void xdotool(const QStringList &arguments);

} // namespace zq::test

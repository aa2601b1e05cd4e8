#include "support/ChildProcess.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace zq::test {

namespace {

// Every fd handed to the child sits at or above this number before fork, so the dup2 calls in the
// child can never overwrite a source that is still needed.
constexpr int kFirstHighFd = 10;

int toHighFd(int fd)
{
    if (fd < 0)
        return fd;
    const int high = fcntl(fd, F_DUPFD_CLOEXEC, kFirstHighFd);
    close(fd);
    return high;
}

void closeFd(int &fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

// Writes everything to a pipe whose reader may already be gone, without letting SIGPIPE kill us.
void writeIgnoringSigpipe(int fd, const QByteArray &data)
{
    sigset_t pipeSet;
    sigset_t oldSet;
    sigemptyset(&pipeSet);
    sigaddset(&pipeSet, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSet, &oldSet);
    qsizetype written = 0;
    while (written < data.size()) {
        const ssize_t n = write(fd, data.constData() + written, size_t(data.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        written += n;
    }
    // Consume a SIGPIPE this write raised, so unblocking it does not deliver it.
    const timespec zero{};
    while (sigtimedwait(&pipeSet, nullptr, &zero) > 0) {
    }
    pthread_sigmask(SIG_SETMASK, &oldSet, nullptr);
}

int pollTimeoutMs(const QDeadlineTimer &deadline)
{
    if (deadline.isForever())
        return -1;
    return int(std::max<qint64>(0, deadline.remainingTime()));
}

} // namespace

ChildProcess::~ChildProcess()
{
    stop();
}

bool ChildProcess::start(const ChildSpec &spec)
{
    if (m_pid > 0 && !m_reaped) {
        m_error = QStringLiteral("%1 was already started").arg(spec.program);
        return false;
    }
    if (m_pid > 0) {
        // The earlier run ended and was waited for: this one starts afresh.
        closePipes();
        m_stdout = {};
        m_stderr = {};
        m_fd3 = {};
        m_pid = -1;
        m_reaped = false;
        m_exitCode.reset();
        m_signal.reset();
        m_killedAtDeadline = false;
    }
    m_error.clear();
    m_logPath = spec.logPath;

    QString executable = spec.program;
    if (!executable.contains(QLatin1Char('/'))) {
        const QStringList path = spec.environment.value(QStringLiteral("PATH"), QString::fromLocal8Bit(qgetenv("PATH")))
                                     .split(QLatin1Char(':'), Qt::SkipEmptyParts);
        executable = QStandardPaths::findExecutable(spec.program, path);
    }
    if (executable.isEmpty()) {
        m_error = QStringLiteral("%1 is not installed (not found on PATH)").arg(spec.program);
        return false;
    }

    // Everything the child needs is built before fork: after it only async-signal-safe calls.
    std::vector<QByteArray> argStorage;
    argStorage.push_back(QFile::encodeName(executable));
    for (const QString &argument : spec.arguments)
        argStorage.push_back(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &argument : argStorage)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<QByteArray> envStorage;
    for (const QString &entry : spec.environment.toStringList())
        envStorage.push_back(entry.toLocal8Bit());
    std::vector<char *> envp;
    for (QByteArray &entry : envStorage)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    int devNull = toHighFd(open("/dev/null", O_RDWR | O_CLOEXEC));
    int logFd = -1;
    if (!spec.logPath.isEmpty())
        logFd = toHighFd(
            open(QFile::encodeName(spec.logPath).constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
    if (devNull < 0 || (!spec.logPath.isEmpty() && logFd < 0)) {
        m_error = QStringLiteral("cannot open /dev/null or the log %1: %2").arg(spec.logPath, qt_error_string(errno));
        closeFd(devNull);
        closeFd(logFd);
        return false;
    }
    if (logFd < 0)
        logFd = devNull;

    struct PipePair {
        int read = -1;
        int write = -1;
        bool open()
        {
            int fds[2];
            if (pipe2(fds, O_CLOEXEC) != 0)
                return false;
            read = toHighFd(fds[0]);
            write = toHighFd(fds[1]);
            return read >= 0 && write >= 0;
        }
    };
    PipePair in, out, err, fd3, execStatus;
    bool pipesOk = execStatus.open();
    if (spec.standardInput)
        pipesOk = pipesOk && in.open();
    if (spec.standardOutput == ChildStream::Pipe)
        pipesOk = pipesOk && out.open();
    if (spec.standardError == ChildStream::Pipe)
        pipesOk = pipesOk && err.open();
    if (spec.pipeOnFd3)
        pipesOk = pipesOk && fd3.open();

    auto streamFd = [&](ChildStream stream, const PipePair &pipe) {
        switch (stream) {
        case ChildStream::Null:
            return devNull;
        case ChildStream::Log:
            return logFd;
        case ChildStream::Pipe:
            return pipe.write;
        }
        return devNull;
    };
    const std::array<int, 4> childFds{spec.standardInput ? in.read : devNull, streamFd(spec.standardOutput, out),
                                      streamFd(spec.standardError, err), spec.pipeOnFd3 ? fd3.write : -1};

    const pid_t parentPid = getpid();
    const pid_t pid = pipesOk ? fork() : -1;
    if (pid == 0) {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parentPid)
            _exit(127);
        sigset_t none;
        sigemptyset(&none);
        pthread_sigmask(SIG_SETMASK, &none, nullptr);
        struct sigaction defaultAction {};
        defaultAction.sa_handler = SIG_DFL;
        for (int signal : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD})
            sigaction(signal, &defaultAction, nullptr);
        for (int target = 0; target < int(childFds.size()); ++target) {
            if (childFds[size_t(target)] >= 0)
                dup2(childFds[size_t(target)], target);
        }
        const unsigned firstInherited = spec.pipeOnFd3 ? 4 : 3;
        close_range(firstInherited, ~0U, CLOSE_RANGE_CLOEXEC);
        execve(argv[0], argv.data(), envp.data());
        const int error = errno;
        [[maybe_unused]] const ssize_t ignored = write(execStatus.write, &error, sizeof error);
        _exit(127);
    }

    const int forkErrno = errno;
    for (int *fd : {&in.read, &out.write, &err.write, &fd3.write, &execStatus.write})
        closeFd(*fd);
    if (logFd != devNull)
        closeFd(logFd);
    closeFd(devNull);

    if (pid < 0) {
        m_error = QStringLiteral("cannot start %1: %2").arg(spec.program, qt_error_string(forkErrno));
        for (int *fd : {&in.write, &out.read, &err.read, &fd3.read, &execStatus.read})
            closeFd(*fd);
        return false;
    }
    // Also set the group here, so that stop() right after start() reaches it.
    setpgid(pid, pid);
    m_pid = pid;
    m_reaped = false;
    m_exitCode.reset();
    m_signal.reset();
    m_killedAtDeadline = false;

    int execErrno = 0;
    ssize_t got;
    do {
        got = read(execStatus.read, &execErrno, sizeof execErrno);
    } while (got < 0 && errno == EINTR);
    closeFd(execStatus.read);
    if (got == ssize_t(sizeof execErrno)) {
        for (int *fd : {&in.write, &out.read, &err.read, &fd3.read})
            closeFd(*fd);
        reap(0);
        m_pid = -1;
        m_error = QStringLiteral("cannot execute %1: %2").arg(executable, qt_error_string(execErrno));
        return false;
    }

    m_stdout = Pipe{out.read, {}, out.read < 0};
    m_stderr = Pipe{err.read, {}, err.read < 0};
    m_fd3 = Pipe{fd3.read, {}, fd3.read < 0};
    for (Pipe *pipe : {&m_stdout, &m_stderr, &m_fd3}) {
        if (pipe->fd >= 0)
            fcntl(pipe->fd, F_SETFL, fcntl(pipe->fd, F_GETFL) | O_NONBLOCK);
    }
    if (spec.standardInput) {
        writeIgnoringSigpipe(in.write, *spec.standardInput);
        closeFd(in.write);
    }
    return true;
}

bool ChildProcess::isRunning() const
{
    if (m_pid <= 0 || m_reaped)
        return false;
    siginfo_t info{};
    if (waitid(P_PID, id_t(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
        return false;
    return info.si_pid == 0;
}

bool ChildProcess::reap(int options)
{
    if (m_pid <= 0 || m_reaped)
        return m_reaped;
    int status = 0;
    pid_t result;
    do {
        result = waitpid(m_pid, &status, options);
    } while (result < 0 && errno == EINTR);
    if (result == m_pid || (result < 0 && errno == ECHILD)) {
        m_reaped = true;
        if (result == m_pid && WIFEXITED(status))
            m_exitCode = WEXITSTATUS(status);
        if (result == m_pid && WIFSIGNALED(status))
            m_signal = WTERMSIG(status);
    }
    return m_reaped;
}

ChildProcess::Pipe &ChildProcess::pipeFor(Channel channel)
{
    switch (channel) {
    case Channel::StandardOutput:
        return m_stdout;
    case Channel::StandardError:
        return m_stderr;
    case Channel::Fd3:
        return m_fd3;
    }
    return m_stdout;
}

const ChildProcess::Pipe &ChildProcess::pipeFor(Channel channel) const
{
    return const_cast<ChildProcess *>(this)->pipeFor(channel);
}

bool ChildProcess::fill(Pipe &pipe, QDeadlineTimer deadline)
{
    if (pipe.fd < 0 || pipe.eof)
        return false;
    pollfd pfd{pipe.fd, POLLIN, 0};
    int ready;
    do {
        ready = poll(&pfd, 1, pollTimeoutMs(deadline));
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0)
        return false;
    char chunk[8192];
    const ssize_t n = read(pipe.fd, chunk, sizeof chunk);
    if (n > 0)
        pipe.buffer.append(chunk, n);
    else if (n == 0 || (errno != EAGAIN && errno != EINTR))
        pipe.eof = true;
    return true;
}

std::optional<QByteArray> ChildProcess::readLine(Channel channel, QDeadlineTimer deadline)
{
    Pipe &pipe = pipeFor(channel);
    for (;;) {
        const qsizetype newline = pipe.buffer.indexOf('\n');
        if (newline >= 0) {
            QByteArray line = pipe.buffer.left(newline);
            pipe.buffer.remove(0, newline + 1);
            return line;
        }
        if (pipe.eof || !fill(pipe, deadline))
            return std::nullopt;
    }
}

QByteArray ChildProcess::readBytes(Channel channel, qsizetype count, QDeadlineTimer deadline)
{
    Pipe &pipe = pipeFor(channel);
    while (pipe.buffer.size() < count && !pipe.eof && fill(pipe, deadline)) {
    }
    QByteArray bytes = pipe.buffer.left(count);
    pipe.buffer.remove(0, bytes.size());
    return bytes;
}

std::optional<int> ChildProcess::waitForExit(QDeadlineTimer deadline)
{
    if (m_pid <= 0)
        return m_exitCode;
    for (;;) {
        std::vector<pollfd> fds;
        std::vector<Pipe *> pipes;
        for (Pipe *pipe : {&m_stdout, &m_stderr, &m_fd3}) {
            if (pipe->fd >= 0 && !pipe->eof) {
                fds.push_back({pipe->fd, POLLIN, 0});
                pipes.push_back(pipe);
            }
        }
        const bool exited = reap(WNOHANG);
        if (exited && fds.empty())
            break;
        if (deadline.hasExpired()) {
            m_killedAtDeadline = true;
            stop(std::chrono::milliseconds(0));
            return std::nullopt;
        }
        // A short slice: the child may exit while a grandchild keeps its pipes open.
        const int sliceMs = exited ? 0 : std::min(20, std::max(0, pollTimeoutMs(deadline)));
        if (!fds.empty()) {
            const int ready = poll(fds.data(), nfds_t(fds.size()), sliceMs);
            for (size_t i = 0; ready > 0 && i < fds.size(); ++i) {
                if (fds[i].revents != 0)
                    fill(*pipes[i], QDeadlineTimer(0));
            }
            if (exited && ready <= 0)
                break;
        } else {
            usleep(useconds_t(sliceMs) * 1000);
        }
    }
    return m_exitCode;
}

QByteArray ChildProcess::collected(Channel channel) const
{
    return pipeFor(channel).buffer;
}

QString ChildProcess::howItEnded() const
{
    if (m_killedAtDeadline)
        return QStringLiteral("was still running at the deadline");
    if (m_exitCode)
        return QStringLiteral("exited with status %1").arg(*m_exitCode);
    if (m_signal)
        return QStringLiteral("died of signal %1 (%2)")
            .arg(*m_signal)
            .arg(QString::fromLocal8Bit(strsignal(*m_signal)));
    return m_reaped || m_pid <= 0 ? QStringLiteral("ended, how is not known") : QStringLiteral("is still running");
}

void ChildProcess::stop(std::chrono::milliseconds grace)
{
    if (m_pid > 0 && !m_reaped) {
        if (kill(-m_pid, SIGTERM) != 0)
            kill(m_pid, SIGTERM);
        const QDeadlineTimer deadline(grace);
        while (isRunning() && !deadline.hasExpired())
            usleep(10 * 1000);
        // The leader is still a zombie (or alive) here, so its id cannot name another group yet.
        kill(-m_pid, SIGKILL);
        kill(m_pid, SIGKILL);
        reap(0);
    }
    closePipes();
}

void ChildProcess::closePipes()
{
    for (Pipe *pipe : {&m_stdout, &m_stderr, &m_fd3}) {
        closeFd(pipe->fd);
        pipe->eof = true;
    }
}

QString ChildProcess::logTail(int maxLines) const
{
    QFile log(m_logPath);
    if (m_logPath.isEmpty() || !log.open(QIODevice::ReadOnly))
        return {};
    const QList<QByteArray> lines = log.readAll().trimmed().split('\n');
    const QList<QByteArray> tail = lines.mid(std::max<qsizetype>(0, lines.size() - maxLines));
    return QString::fromLocal8Bit(tail.join('\n'));
}

QString ToolResult::describe() const
{
    QString text = error;
    if (exitCode)
        text += QStringLiteral("exit code %1").arg(*exitCode);
    const QByteArray stderrText = standardError.trimmed();
    if (!stderrText.isEmpty())
        text += QStringLiteral("; stderr: ") + QString::fromLocal8Bit(stderrText);
    return text;
}

ToolResult runTool(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment,
                   std::optional<QByteArray> standardInput, std::chrono::milliseconds timeout)
{
    ToolResult result;
    ChildSpec spec;
    spec.program = program;
    spec.arguments = arguments;
    spec.environment = environment;
    spec.standardInput = std::move(standardInput);
    spec.standardOutput = ChildStream::Pipe;
    spec.standardError = ChildStream::Pipe;
    ChildProcess child;
    if (!child.start(spec)) {
        result.error = child.errorString();
        return result;
    }
    result.exitCode = child.waitForExit(QDeadlineTimer(timeout));
    result.standardOutput = child.collected(ChildProcess::Channel::StandardOutput);
    result.standardError = child.collected(ChildProcess::Channel::StandardError);
    if (!result.exitCode)
        result.error =
            QStringLiteral("%1 did not finish within %2 ms or was killed; ").arg(program).arg(timeout.count());
    return result;
}

void xdotool(const QStringList &arguments)
{
    const ToolResult result = runTool(QStringLiteral("xdotool"), arguments);
    ASSERT_TRUE(result.succeeded()) << result.describe().toStdString();
}

} // namespace zq::test

#include "runtime/UnixSignals.h"

#include "runtime/Log.h"

#include <QFile>
#include <QSocketNotifier>

#include <algorithm>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace zq::rt {

namespace {

constexpr std::array<int, 3> kHandledSignals{SIGTERM, SIGINT, SIGHUP};

// The write end for the handler. A plain int read from a signal handler is the one piece of
// global state here; it is set before the handlers are installed and cleared after they are gone.
volatile sig_atomic_t s_writeFd = -1;
struct sigaction s_previous[kHandledSignals.size()];
// Set by the handler itself, for a main thread that never reads the pipe (stuck in a call into a
// stopped X server, say): a lock-free atomic is the one thing besides write() a handler may touch.
std::atomic<bool> s_quitAsked{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void handleSignal(int signalNumber)
{
    const int savedErrno = errno;
    s_quitAsked.store(true);
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // A full pipe drops the byte: the earlier, unread bytes already ask for the same quit.
    [[maybe_unused]] const ssize_t ignored = ::write(s_writeFd, &byte, 1);
    errno = savedErrno;
}

bool makeNonBlockingCloseOnExec(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0 && ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

} // namespace

UnixSignals::UnixSignals(QObject *parent) : QObject(parent)
{
    Q_ASSERT_X(s_writeFd < 0, "UnixSignals", "only one instance may exist at a time");
    if (s_writeFd >= 0)
        return;
    if (::pipe(m_pipe) != 0 || !makeNonBlockingCloseOnExec(m_pipe[0]) || !makeNonBlockingCloseOnExec(m_pipe[1])) {
        qCWarning(lcApp) << "cannot route quit signals:" << qt_error_string(errno);
        return;
    }
    s_quitAsked.store(false);
    m_notifier = new QSocketNotifier(m_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &UnixSignals::readPendingSignals);
    s_writeFd = m_pipe[1];

    struct sigaction action {};
    action.sa_handler = handleSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    m_installed = true;
    for (std::size_t i = 0; i < kHandledSignals.size(); ++i) {
        if (::sigaction(kHandledSignals[i], &action, &s_previous[i]) != 0) {
            qCWarning(lcApp) << "cannot handle signal" << kHandledSignals[i] << qt_error_string(errno);
            m_installed = false;
        }
    }
}

UnixSignals::~UnixSignals()
{
    if (m_pipe[1] >= 0 && s_writeFd == m_pipe[1]) {
        for (std::size_t i = 0; i < kHandledSignals.size(); ++i)
            ::sigaction(kHandledSignals[i], &s_previous[i], nullptr);
        s_writeFd = -1;
    }
    for (int fd : m_pipe) {
        if (fd >= 0)
            ::close(fd);
    }
}

bool UnixSignals::quitAsked()
{
    return s_quitAsked.load() || quitSignalWaiting();
}

bool UnixSignals::quitSignalWaiting()
{
    // The process's pending signals, as the kernel shows them: a bit mask in hexadecimal, signal n at
    // bit n - 1. (sigpending() tells only of signals the asking thread holds back.)
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (!line.startsWith("ShdPnd:"))
            continue;
        bool parsed = false;
        const qulonglong pending = line.mid(7).trimmed().toULongLong(&parsed, 16);
        return parsed && std::any_of(kHandledSignals.begin(), kHandledSignals.end(),
                                     [pending](int signal) { return (pending >> (signal - 1)) & 1; });
    }
    return false;
}

void UnixSignals::readPendingSignals()
{
    unsigned char bytes[64];
    for (;;) {
        const ssize_t count = ::read(m_pipe[0], bytes, sizeof bytes);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return;
        for (ssize_t i = 0; i < count; ++i) {
            qCInfo(lcApp) << "received signal" << bytes[i];
            emit received(bytes[i]);
        }
    }
}

} // namespace zq::rt

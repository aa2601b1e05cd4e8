#include "support/XDisplayProxy.h"

#include <QByteArray>
#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace zq::test {

namespace {

bool fillAddress(sockaddr_un &address, const QString &path)
{
    const QByteArray encoded = QFile::encodeName(path);
    if (encoded.size() >= qsizetype(sizeof address.sun_path))
        return false;
    address = {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, encoded.constData(), encoded.size());
    return true;
}

int connectTo(const QString &path)
{
    sockaddr_un address{};
    if (!fillAddress(address, path))
        return -1;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Writes all of `size` bytes; false when the peer is gone.
bool writeAll(int fd, const char *data, ssize_t size)
{
    while (size > 0) {
        const ssize_t written = ::send(fd, data, size, MSG_NOSIGNAL);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

// The size of the server's answer to a client's setup: an 8-byte header whose last two bytes
// count the 4-byte units after it, in the client's byte order ('l' or 'B'). Nothing until the
// header is in.
std::optional<qsizetype> greetingLength(const QByteArray &answer, char byteOrder)
{
    if (answer.size() < 8)
        return std::nullopt;
    const auto low = uchar(answer[byteOrder == 'B' ? 7 : 6]);
    const auto high = uchar(answer[byteOrder == 'B' ? 6 : 7]);
    return 8 + 4 * qsizetype(low | high << 8);
}

} // namespace

XDisplayProxy::~XDisplayProxy()
{
    stop();
}

bool XDisplayProxy::start(const QString &serverDisplay, int admitted, Refusal refusal)
{
    m_admitted = admitted;
    m_refusal = refusal;
    m_serverSocket = QStringLiteral("/tmp/.X11-unix/X") + serverDisplay.mid(1);
    if (::pipe2(m_wake, O_CLOEXEC) != 0) {
        m_error = QStringLiteral("cannot make a pipe");
        return false;
    }
    // A number no X server uses: its lock file is ours alone (O_EXCL), as an X server's would be.
    for (int attempt = 0; attempt < 20 && m_listenFd < 0; ++attempt) {
        const int number = QRandomGenerator::global()->bounded(30000, 60000);
        const QString lockPath = QStringLiteral("/tmp/.X%1-lock").arg(number);
        const int lock = ::open(QFile::encodeName(lockPath).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0444);
        if (lock < 0)
            continue;
        const QByteArray pid = QByteArray::number(::getpid()).rightJustified(10, ' ') + '\n';
        [[maybe_unused]] const ssize_t ignored = ::write(lock, pid.constData(), pid.size());
        ::close(lock);
        const QString socketPath = QStringLiteral("/tmp/.X11-unix/X%1").arg(number);
        sockaddr_un address{};
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd >= 0 && fillAddress(address, socketPath) &&
            ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 && ::listen(fd, 16) == 0) {
            m_listenFd = fd;
            m_lockPath = lockPath;
            m_socketPath = socketPath;
            m_display = QStringLiteral(":%1").arg(number);
            break;
        }
        if (fd >= 0)
            ::close(fd);
        QFile::remove(lockPath);
    }
    if (m_listenFd < 0) {
        m_error = QStringLiteral("no free display number for the proxy");
        return false;
    }
    m_acceptThread = std::thread([this] { acceptLoop(); });
    return true;
}

void XDisplayProxy::stop()
{
    if (m_stopping.exchange(true))
        return;
    if (m_wake[1] >= 0) [[maybe_unused]]
        const ssize_t ignored = ::write(m_wake[1], "x", 1);
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    std::vector<std::thread> forwarders;
    {
        const std::lock_guard lock(m_mutex);
        forwarders.swap(m_forwarders);
    }
    for (std::thread &thread : forwarders)
        thread.join();
    for (int fd : {m_listenFd, m_wake[0], m_wake[1]}) {
        if (fd >= 0)
            ::close(fd);
    }
    if (!m_socketPath.isEmpty())
        QFile::remove(m_socketPath);
    if (!m_lockPath.isEmpty())
        QFile::remove(m_lockPath);
}

std::vector<XDisplayProxy::Connection> XDisplayProxy::connections() const
{
    const std::lock_guard lock(m_mutex);
    return m_connections;
}

int XDisplayProxy::moment()
{
    return m_moments++;
}

void XDisplayProxy::acceptLoop()
{
    while (!m_stopping) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents != 0)
            return;
        const int client = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        const std::lock_guard lock(m_mutex);
        Connection connection;
        connection.openedAt = moment();
        const bool admit = m_admitted < 0 || std::ssize(m_connections) < m_admitted;
        const bool cut = !admit && m_refusal == Refusal::AfterGreeting;
        const int server = admit || cut ? connectTo(m_serverSocket) : -1;
        if (server < 0) {
            connection.refused = true;
            connection.closedAt = moment();
            m_connections.push_back(connection);
            ::close(client);
            continue;
        }
        connection.refused = cut;
        m_connections.push_back(connection);
        const std::size_t index = m_connections.size() - 1;
        m_forwarders.emplace_back([this, client, server, index, cut] { forward(client, server, index, cut); });
    }
}

void XDisplayProxy::forward(int client, int server, std::size_t index, bool cutAfterGreeting)
{
    char buffer[65536];
    bool open = true;
    // When cutting: the client's byte order (the first byte it sends), the server's answer so far,
    // and whether the cut is made, after which only the client's leaving is awaited.
    char byteOrder = 0;
    QByteArray greeting;
    bool cut = false;
    while (open && !m_stopping) {
        pollfd fds[3] = {{client, short(cut ? 0 : POLLIN), 0}, {cut ? -1 : server, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(fds, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[2].revents != 0)
            break;
        if (cut) {
            open = fds[0].revents == 0;
            continue;
        }
        for (int side = 0; side < 2 && open; ++side) {
            if (fds[side].revents == 0)
                continue;
            const ssize_t count = ::recv(fds[side].fd, buffer, sizeof buffer, 0);
            if (count < 0 && errno == EINTR)
                continue;
            if (count > 0 && side == 0 && byteOrder == 0)
                byteOrder = buffer[0];
            if (count > 0 && side == 1 && cutAfterGreeting) {
                greeting.append(buffer, count);
                const auto length = greetingLength(greeting, byteOrder);
                if (!length || greeting.size() < *length)
                    continue;
                // Shut before the answer goes out, and left open: the client's next write finds the
                // connection gone however soon it comes, and no hang-up warns it before it writes.
                ::shutdown(client, SHUT_RD);
                open = writeAll(client, greeting.constData(), greeting.size());
                cut = true;
                break;
            }
            open = count > 0 && writeAll(fds[1 - side].fd, buffer, count);
        }
    }
    // The client's side closes first: the moment it leaves is what the tests look at.
    ::close(client);
    {
        const std::lock_guard lock(m_mutex);
        m_connections[index].closedAt = moment();
    }
    ::close(server);
}

} // namespace zq::test

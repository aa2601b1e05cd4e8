#include "support/XDisplayProxy.h"

#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
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

} // namespace

XDisplayProxy::~XDisplayProxy()
{
    stop();
}

bool XDisplayProxy::start(const QString &serverDisplay, int admitted)
{
    m_admitted = admitted;
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
        const int server = admit ? connectTo(m_serverSocket) : -1;
        if (server < 0) {
            connection.refused = true;
            connection.closedAt = moment();
            m_connections.push_back(connection);
            ::close(client);
            continue;
        }
        m_connections.push_back(connection);
        const std::size_t index = m_connections.size() - 1;
        m_forwarders.emplace_back([this, client, server, index] { forward(client, server, index); });
    }
}

void XDisplayProxy::forward(int client, int server, std::size_t index)
{
    char buffer[65536];
    bool open = true;
    while (open && !m_stopping) {
        pollfd fds[3] = {{client, POLLIN, 0}, {server, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(fds, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[2].revents != 0)
            break;
        for (int side = 0; side < 2 && open; ++side) {
            if (fds[side].revents == 0)
                continue;
            const ssize_t count = ::recv(fds[side].fd, buffer, sizeof buffer, 0);
            if (count < 0 && errno == EINTR)
                continue;
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

#pragma once

#include <QString>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace zq::test {

// A display of its own (":N", a socket in /tmp/.X11-unix) that passes each client's bytes through
// to a real X server, so a test sees when clients connect and leave, and can refuse clients.
// It passes bytes only: clients must not hand file descriptors to the server (for Qt, set
// QT_XCB_NO_MITSHM=1). Threads of its own; the accessors are thread-safe.
class XDisplayProxy {
public:
    // One client connection, with the order of its opening and closing among all such moments.
    struct Connection {
        int openedAt = -1;
        int closedAt = -1; // -1 while open
        bool refused = false;
    };

    // How a client beyond the admitted ones is turned away.
    enum class Refusal {
        AtOnce,        // closed as soon as it connects
        AfterGreeting, // passed the server's answer to its setup, then cut off before it can send more
    };

    XDisplayProxy() = default;
    ~XDisplayProxy();
    XDisplayProxy(const XDisplayProxy &) = delete;
    XDisplayProxy &operator=(const XDisplayProxy &) = delete;

    // Listens on a free display number and forwards to `serverDisplay` (":M"). Clients beyond the
    // first `admitted` are turned away as `refusal` says (-1: all are admitted). False with
    // errorString() set.
    bool start(const QString &serverDisplay, int admitted = -1, Refusal refusal = Refusal::AtOnce);
    void stop();

    QString display() const { return m_display; }
    QString errorString() const { return m_error; }
    std::vector<Connection> connections() const;

private:
    void acceptLoop();
    void forward(int client, int server, std::size_t index, bool cutAfterGreeting);
    int moment();

    QString m_display;
    QString m_socketPath;
    QString m_lockPath;
    QString m_serverSocket;
    QString m_error;
    int m_admitted = -1;
    Refusal m_refusal = Refusal::AtOnce;
    int m_listenFd = -1;
    int m_wake[2] = {-1, -1};
    std::atomic<bool> m_stopping{false};
    std::thread m_acceptThread;
    mutable std::mutex m_mutex;
    std::vector<std::thread> m_forwarders;
    std::vector<Connection> m_connections;
    int m_moments = 0;
};

} // namespace zq::test

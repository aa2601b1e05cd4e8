#include "support/LoopbackTranscriptionServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zq::test {

namespace {

constexpr qint64 tailSize = 256;

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 429:
        return "Too Many Requests";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

bool sendAll(int fd, const QByteArray &bytes)
{
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.constData() + sent, static_cast<size_t>(bytes.size() - sent), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

} // namespace

QByteArray LoopbackTranscriptionServer::Request::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

QByteArray LoopbackTranscriptionServer::Request::boundary() const
{
    const QByteArray type = header("Content-Type");
    const qsizetype at = type.indexOf("boundary=");
    if (at < 0)
        return {};
    QByteArray boundary = type.mid(at + 9);
    if (const qsizetype end = boundary.indexOf(';'); end >= 0)
        boundary.truncate(end);
    boundary = boundary.trimmed();
    if (boundary.startsWith('"') && boundary.endsWith('"') && boundary.size() >= 2)
        boundary = boundary.mid(1, boundary.size() - 2);
    return boundary;
}

QList<LoopbackTranscriptionServer::Part> LoopbackTranscriptionServer::Request::parts() const
{
    QList<Part> result;
    const QByteArray delimiter = "--" + boundary();
    if (delimiter.size() <= 2 || !body.startsWith(delimiter + "\r\n"))
        return result;
    qsizetype at = delimiter.size() + 2;
    const QByteArray separator = "\r\n" + delimiter;
    for (;;) {
        const qsizetype headerEnd = body.indexOf("\r\n\r\n", at);
        if (headerEnd < 0)
            return result;
        const qsizetype next = body.indexOf(separator, headerEnd + 4);
        if (next < 0)
            return result;
        Part part;
        part.headerLines = body.mid(at, headerEnd - at).split('\n');
        for (QByteArray &line : part.headerLines) {
            line = line.trimmed();
            if (line.toLower().startsWith("content-disposition:")) {
                for (QByteArray parameter : line.split(';')) {
                    parameter = parameter.trimmed();
                    auto unquote = [](QByteArray value) { return value.mid(1, value.size() - 2); };
                    if (parameter.startsWith("name="))
                        part.name = unquote(parameter.mid(5));
                    else if (parameter.startsWith("filename="))
                        part.fileName = unquote(parameter.mid(9));
                }
            } else if (line.toLower().startsWith("content-type:")) {
                part.contentType = line.mid(13).trimmed();
            }
        }
        part.data = body.mid(headerEnd + 4, next - headerEnd - 4);
        result.append(part);
        at = next + separator.size();
        if (body.mid(at, 2) == "--")
            return result;
        at += 2; // CRLF before the next part's headers
    }
}

LoopbackTranscriptionServer::LoopbackTranscriptionServer() = default;

LoopbackTranscriptionServer::~LoopbackTranscriptionServer()
{
    stop();
}

bool LoopbackTranscriptionServer::start()
{
    if (::pipe2(m_wakePipe, O_CLOEXEC) != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof(address);
    if (m_listenFd < 0 || ::bind(m_listenFd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0 ||
        ::listen(m_listenFd, 16) != 0 ||
        ::getsockname(m_listenFd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    m_port = ntohs(address.sin_port);
    m_acceptThread = std::thread([this] { acceptLoop(); });
    return true;
}

void LoopbackTranscriptionServer::stop()
{
    if (m_stopping.exchange(true))
        return;
    if (m_wakePipe[1] >= 0)
        (void)::write(m_wakePipe[1], "x", 1);
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    std::vector<std::thread> connections;
    {
        std::lock_guard lock(m_mutex);
        connections.swap(m_connections);
    }
    for (std::thread &connection : connections)
        connection.join();
    for (int fd : {m_listenFd, m_wakePipe[0], m_wakePipe[1]}) {
        if (fd >= 0)
            ::close(fd);
    }
}

QString LoopbackTranscriptionServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

void LoopbackTranscriptionServer::enqueue(Answer answer)
{
    std::lock_guard lock(m_mutex);
    m_script.push_back(std::move(answer));
}

void LoopbackTranscriptionServer::setDefaultAnswer(Answer answer)
{
    std::lock_guard lock(m_mutex);
    m_defaultAnswer = std::move(answer);
}

void LoopbackTranscriptionServer::setBodyCaptureLimit(qint64 bytes)
{
    std::lock_guard lock(m_mutex);
    m_captureLimit = bytes;
}

void LoopbackTranscriptionServer::setOnRequest(std::function<void(const Request &)> hook)
{
    std::lock_guard lock(m_mutex);
    m_onRequest = std::move(hook);
}

QList<LoopbackTranscriptionServer::Request> LoopbackTranscriptionServer::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

int LoopbackTranscriptionServer::requestCount() const
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_requests.size());
}

bool LoopbackTranscriptionServer::waitForRequestCount(int count, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_requests.size() >= count; });
}

void LoopbackTranscriptionServer::acceptLoop()
{
    for (;;) {
        pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_wakePipe[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno == EINTR)
            continue;
        if (fds[1].revents != 0 || m_stopping)
            return;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        std::lock_guard lock(m_mutex);
        m_connections.emplace_back([this, fd] { serve(fd); });
    }
}

void LoopbackTranscriptionServer::serve(int fd)
{
    // Reads what is there, waking every 100 ms to notice a stop. Returns 0 at the end or on stop.
    char chunk[64 * 1024];
    auto readSome = [&]() -> ssize_t {
        for (;;) {
            pollfd fds[2] = {{fd, POLLIN, 0}, {m_wakePipe[0], POLLIN, 0}};
            const int ready = ::poll(fds, 2, 100);
            if (ready < 0 && errno != EINTR)
                return 0;
            if (fds[1].revents != 0 || m_stopping)
                return 0;
            if (ready > 0 && fds[0].revents != 0) {
                const ssize_t n = ::recv(fd, chunk, sizeof(chunk), 0);
                if (n < 0 && errno == EINTR)
                    continue;
                return n < 0 ? 0 : n;
            }
        }
    };

    QByteArray head;
    qsizetype headerEnd = -1;
    while ((headerEnd = head.indexOf("\r\n\r\n")) < 0) {
        const ssize_t n = readSome();
        if (n <= 0) {
            ::close(fd);
            return;
        }
        head.append(chunk, n);
    }

    Request request;
    const QList<QByteArray> lines = head.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    request.target = requestLine.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.append({lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()});
    }

    qint64 captureLimit;
    {
        std::lock_guard lock(m_mutex);
        captureLimit = m_captureLimit;
    }
    const qint64 contentLength = request.header("Content-Length").toLongLong();
    auto take = [&](const char *data, qint64 size) {
        request.bodyLength += size;
        const qint64 room = captureLimit - request.body.size();
        if (room > 0)
            request.body.append(data, static_cast<qsizetype>(std::min(room, size)));
        request.bodyTail.append(data, static_cast<qsizetype>(size));
        if (request.bodyTail.size() > tailSize)
            request.bodyTail.remove(0, request.bodyTail.size() - tailSize);
    };
    const QByteArray early = head.mid(headerEnd + 4);
    take(early.constData(), early.size());
    while (request.bodyLength < contentLength) {
        const ssize_t n = readSome();
        if (n <= 0)
            break;
        take(chunk, n);
    }

    Answer answer;
    std::function<void(const Request &)> hook;
    {
        std::lock_guard lock(m_mutex);
        if (!m_script.empty()) {
            answer = std::move(m_script.front());
            m_script.pop_front();
        } else {
            answer = m_defaultAnswer;
        }
        hook = m_onRequest;
    }
    if (hook)
        hook(request);
    {
        std::lock_guard lock(m_mutex);
        m_requests.append(request);
    }
    m_changed.notify_all();

    switch (answer.kind) {
    case Answer::Kind::raw:
        sendAll(fd, answer.body);
        ::shutdown(fd, SHUT_WR);
        while (readSome() > 0) {
        }
        break;
    case Answer::Kind::respond: {
        QByteArray response =
            "HTTP/1.1 " + QByteArray::number(answer.status) + ' ' + reasonPhrase(answer.status) +
            "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " + QByteArray::number(answer.body.size()) +
            "\r\nConnection: close\r\n\r\n" + answer.body;
        sendAll(fd, response);
        ::shutdown(fd, SHUT_WR);
        // Let the client read the answer and close first.
        while (readSome() > 0) {
        }
        break;
    }
    case Answer::Kind::drop:
        break;
    case Answer::Kind::hang:
        while (readSome() > 0) {
        }
        break;
    }
    ::close(fd);
}

} // namespace zq::test

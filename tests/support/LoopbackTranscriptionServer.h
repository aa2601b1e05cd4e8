#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace zq::test {

// A small scripted HTTP/1.1 server on 127.0.0.1 with an ephemeral port, standing in for the
// transcription service. It records what every request carried and answers each from a script:
// a status with a body, a dropped connection, or no answer at all. Every answer closes the
// connection. Requests are handled on the server's own threads; the accessors are thread-safe.
class LoopbackTranscriptionServer {
public:
    struct Answer {
        enum class Kind { respond, drop, hang, raw };
        Kind kind = Kind::respond;
        int status = 200;
        QByteArray body;

        static Answer respond(int status, QByteArray body = {}) { return {Kind::respond, status, std::move(body)}; }
        // Reads the whole request, then closes the connection without a byte of answer.
        static Answer drop() { return {Kind::drop, 0, {}}; }
        // Reads the whole request and answers nothing until the client gives up or the server stops.
        static Answer hang() { return {Kind::hang, 0, {}}; }
        // Sends `bytes` exactly as given (no status line of its own), then closes the connection.
        static Answer raw(QByteArray bytes) { return {Kind::raw, 0, std::move(bytes)}; }
    };

    struct Part {
        QByteArray name;
        QByteArray fileName; // empty for a text field
        QByteArray contentType;
        QList<QByteArray> headerLines; // as sent, in order
        QByteArray data;
    };

    struct Request {
        QByteArray method;
        QByteArray target;
        QList<std::pair<QByteArray, QByteArray>> headers;
        QByteArray body; // cut at the capture limit
        qint64 bodyLength = 0;
        QByteArray bodyTail; // the last bytes of the body, also when the body was cut

        QByteArray header(const QByteArray &name) const; // case-insensitive; empty when absent
        QByteArray boundary() const;                     // from the multipart Content-Type
        QList<Part> parts() const;                       // the multipart form of a whole body
    };

    LoopbackTranscriptionServer();
    ~LoopbackTranscriptionServer();
    LoopbackTranscriptionServer(const LoopbackTranscriptionServer &) = delete;
    LoopbackTranscriptionServer &operator=(const LoopbackTranscriptionServer &) = delete;

    bool start();
    void stop();
    const QString &errorString() const { return m_error; }
    quint16 port() const { return m_port; }
    QString baseUrl() const;

    // Answers are used in order; when the script is empty, the default answer is given.
    void enqueue(Answer answer);
    void setDefaultAnswer(Answer answer);
    // Bodies longer than this are counted but not kept (for very large uploads).
    void setBodyCaptureLimit(qint64 bytes);
    // Runs on the server's thread as soon as a request has been read, before it is answered.
    void setOnRequest(std::function<void(const Request &)> hook);

    QList<Request> requests() const;
    int requestCount() const;
    bool waitForRequestCount(int count, std::chrono::milliseconds timeout);

private:
    void acceptLoop();
    void serve(int fd);

    int m_listenFd = -1;
    int m_wakePipe[2] = {-1, -1};
    quint16 m_port = 0;
    QString m_error;
    std::atomic<bool> m_stopping{false};
    std::thread m_acceptThread;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::thread> m_connections;
    std::deque<Answer> m_script;
    Answer m_defaultAnswer = Answer::respond(200, QByteArrayLiteral("hello"));
    qint64 m_captureLimit = 64 * 1024 * 1024;
    std::function<void(const Request &)> m_onRequest;
    QList<Request> m_requests;
};

} // namespace zq::test

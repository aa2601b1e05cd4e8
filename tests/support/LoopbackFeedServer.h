#pragma once

#include <QByteArray>
#include <QString>

#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace httplib {
class SSLServer;
}

namespace zq::test {

// An HTTPS server on 127.0.0.1 with an ephemeral port and a self-signed certificate made at start
// (with the openssl command), serving the update feed and its archives from a table of paths.
// A path can answer a status with a body, the content of a file (read piece by piece, so an
// answer of any size costs no memory), a body that drips one byte per interval, or hang without
// answering until the server stops. Requests are served on the server's threads; the accessors
// are thread-safe.
class LoopbackFeedServer {
public:
    struct Answer {
        Answer(int status = 200, QByteArray body = {}, QByteArray contentType = "application/octet-stream",
               bool hang = false)
            : status(status), body(std::move(body)), contentType(std::move(contentType)), hang(hang)
        {}
        // The content of `path`, read as it is sent.
        static Answer fromFile(QString path, QByteArray contentType)
        {
            Answer answer(200, {}, std::move(contentType));
            answer.file = std::move(path);
            return answer;
        }
        // `body` one byte per `interval`, without a length.
        static Answer dripping(QByteArray body, QByteArray contentType, std::chrono::milliseconds interval)
        {
            Answer answer(200, std::move(body), std::move(contentType));
            answer.drip = interval;
            return answer;
        }

        int status;
        QByteArray body;
        QByteArray contentType;
        bool hang;
        QString file;
        std::chrono::milliseconds drip{0};
    };

    LoopbackFeedServer();
    ~LoopbackFeedServer();
    LoopbackFeedServer(const LoopbackFeedServer &) = delete;
    LoopbackFeedServer &operator=(const LoopbackFeedServer &) = delete;

    bool start();
    void stop();
    const QString &errorString() const { return m_error; }
    // "https://127.0.0.1:<port>"
    QString baseUrl() const;
    QString url(const QString &path) const { return baseUrl() + path; }
    // The PEM certificate a client must trust to talk to this server.
    QString certificateFile() const;

    void setAnswer(const QString &path, Answer answer);
    int requestCount(const QString &path) const;

private:
    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<httplib::SSLServer> m_server;
    std::thread m_thread;
    std::atomic<bool> m_listenerEnded = false;
    int m_port = 0;
    QString m_error;

    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    bool m_stopping = false;
    std::map<std::string, Answer> m_answers;
    std::map<std::string, int> m_counts;
};

} // namespace zq::test

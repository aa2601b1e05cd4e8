#include "support/LoopbackFeedServer.h"

#include "support/ServiceEnvironment.h"

#include <QFile>
#include <QProcess>

#include <algorithm>
#include <memory>

#include <httplib.h>

namespace zq::test {

LoopbackFeedServer::LoopbackFeedServer() = default;

LoopbackFeedServer::~LoopbackFeedServer()
{
    stop();
}

bool LoopbackFeedServer::start()
{
    m_folder = makeServiceDir(QStringLiteral("feed"));
    if (!m_folder || !m_folder->isValid()) {
        m_error = QStringLiteral("no private folder for the certificate");
        return false;
    }
    // A certificate for the loopback address itself, valid for a day.
    const QString key = m_folder->filePath(QStringLiteral("key.pem"));
    const QStringList request =
        QStringLiteral("req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 "
                       "-subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1")
            .split(u' ');
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"), request + QStringList{"-keyout", key, "-out", certificateFile()});
    if (!openssl.waitForFinished(30000) || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0) {
        m_error = QStringLiteral("openssl could not make a certificate: ") +
                  QString::fromLocal8Bit(openssl.readAllStandardError());
        return false;
    }

    m_server = std::make_unique<httplib::SSLServer>(certificateFile().toLocal8Bit().constData(),
                                                    key.toLocal8Bit().constData());
    if (!m_server->is_valid()) {
        m_error = QStringLiteral("the TLS server did not accept its certificate");
        return false;
    }
    m_server->Get(".*", [this](const httplib::Request &request, httplib::Response &response) {
        std::unique_lock lock(m_mutex);
        ++m_counts[request.path];
        const auto found = m_answers.find(request.path);
        if (found == m_answers.end()) {
            response.status = 404;
            return;
        }
        const Answer answer = found->second;
        if (answer.hang) {
            m_released.wait(lock, [this] { return m_stopping; });
            response.status = 503;
            return;
        }
        response.status = answer.status;
        if (!answer.file.isEmpty()) {
            auto file = std::make_shared<QFile>(answer.file);
            if (!file->open(QIODevice::ReadOnly)) {
                response.status = 500;
                return;
            }
            response.set_content_provider(
                static_cast<size_t>(file->size()), answer.contentType.toStdString(),
                [file](size_t offset, size_t length, httplib::DataSink &sink) {
                    QByteArray piece(static_cast<qsizetype>(std::min<size_t>(length, 64 * 1024)), '\0');
                    if (!file->seek(static_cast<qint64>(offset)))
                        return false;
                    const qint64 read = file->read(piece.data(), piece.size());
                    return read > 0 && sink.write(piece.constData(), static_cast<size_t>(read));
                });
        } else if (answer.drip.count() > 0) {
            response.set_chunked_content_provider(
                answer.contentType.toStdString(), [this, answer](size_t offset, httplib::DataSink &sink) {
                    if (offset >= static_cast<size_t>(answer.body.size())) {
                        sink.done();
                        return true;
                    }
                    std::unique_lock wait(m_mutex);
                    if (m_released.wait_for(wait, answer.drip, [this] { return m_stopping; }))
                        return false;
                    wait.unlock();
                    return sink.write(answer.body.constData() + offset, 1);
                });
        } else {
            response.set_content(answer.body.toStdString(), answer.contentType.toStdString());
        }
    });
    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0) {
        m_error = QStringLiteral("could not bind 127.0.0.1");
        return false;
    }
    m_thread = std::thread([this] {
        m_server->listen_after_bind();
        m_listenerEnded = true;
    });
    // The server's stop reaches only a listener already in its accept loop: one that got there
    // after the stop would wait for a connection forever. So a stop never comes before it.
    while (!m_server->is_running() && !m_listenerEnded)
        std::this_thread::yield();
    if (!m_server->is_running()) {
        m_error = QStringLiteral("the server stopped listening at once");
        return false;
    }
    return true;
}

void LoopbackFeedServer::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_released.notify_all();
    if (m_server)
        m_server->stop();
    if (m_thread.joinable())
        m_thread.join();
    m_server.reset();
}

QString LoopbackFeedServer::baseUrl() const
{
    return QStringLiteral("https://127.0.0.1:%1").arg(m_port);
}

QString LoopbackFeedServer::certificateFile() const
{
    return m_folder ? m_folder->filePath(QStringLiteral("cert.pem")) : QString();
}

void LoopbackFeedServer::setAnswer(const QString &path, Answer answer)
{
    std::lock_guard lock(m_mutex);
    m_answers[path.toStdString()] = std::move(answer);
}

int LoopbackFeedServer::requestCount(const QString &path) const
{
    std::lock_guard lock(m_mutex);
    const auto found = m_counts.find(path.toStdString());
    return found == m_counts.end() ? 0 : found->second;
}

} // namespace zq::test

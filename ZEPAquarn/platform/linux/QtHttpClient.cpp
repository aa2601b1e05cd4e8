#include "platform/linux/QtHttpClient.h"

#include "platform/linux/HttpCalls.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QHttpMultiPart>
#include <QHttpPart>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslConfiguration>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace zq::platform {

namespace {

// A quoted header parameter must not end early or break the header: escape as browsers do.
QByteArray quotedParameter(const QString &text)
{
    QByteArray bytes = text.toUtf8();
    bytes.replace('"', "%22").replace('\r', "%0D").replace('\n', "%0A");
    return '"' + bytes + '"';
}

QByteArray contentDisposition(const QByteArray &name)
{
    return QByteArrayLiteral("form-data; name=") + quotedParameter(QString::fromUtf8(name));
}

// The upload's file, readable from the start only once. Qt Network silently sends a request again
// when the connection closes before any answer, as long as it can rewind the body; refusing the
// rewind makes that a plain failure instead, so a take is never posted (and paid for) more often
// than the engine's own single retry allows.
class OneShotFile final : public QFile {
public:
    using QFile::QFile;

    bool reset() override { return !m_started && QFile::reset(); }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        m_started = true;
        return QFile::readData(data, maxSize);
    }

private:
    bool m_started = false;
};

// What the network may hold unread of a streamed body, and the most taken from it in one piece.
constexpr qint64 kStreamBufferBytes = 1024 * 1024;
constexpr qint64 kPieceBytes = 64 * 1024;

std::unique_ptr<QHttpMultiPart> makeMultiPart(const MultipartForm &form, std::unique_ptr<OneShotFile> file)
{
    auto multiPart = std::make_unique<QHttpMultiPart>(QHttpMultiPart::FormDataType);
    multiPart->setBoundary(form.boundary);
    for (const auto &[name, value] : form.fields) {
        QHttpPart part;
        part.setRawHeader("Content-Disposition", contentDisposition(name));
        part.setBody(value);
        multiPart->append(part);
    }
    QHttpPart filePart;
    filePart.setRawHeader("Content-Disposition",
                          contentDisposition(form.fileFieldName) + "; filename=" + quotedParameter(form.fileName));
    filePart.setRawHeader("Content-Type", form.fileContentType);
    file->setParent(multiPart.get());
    filePart.setBodyDevice(file.release());
    multiPart->append(filePart);
    return multiPart;
}

// Errors below the HTTP layer: nothing usable came back even when a status line was read.
bool isTransportError(QNetworkReply::NetworkError error)
{
    const int code = static_cast<int>(error);
    return (code >= 1 && code <= 199) || error == QNetworkReply::ProtocolUnknownError ||
           error == QNetworkReply::ProtocolFailure;
}

HttpOutcome transportFailure(QString description)
{
    HttpOutcome outcome;
    outcome.kind = HttpOutcome::Kind::transportFailure;
    outcome.errorDescription = std::move(description);
    return outcome;
}

} // namespace

QtHttpClient::QtHttpClient() : m_calls(std::make_shared<HttpCalls>())
{
    if (auto *application = QCoreApplication::instance()) {
        // Whatever thread makes the client, it hears the quit on the main thread.
        m_context.moveToThread(application->thread());
        QObject::connect(application, &QCoreApplication::aboutToQuit, &m_context,
                         [calls = m_calls] { calls->stopAll(); });
    }
}

QtHttpClient::~QtHttpClient() = default;

HttpOutcome QtHttpClient::perform(const HttpRequest &request, std::stop_token stop) const
{
    if (stop.stop_requested())
        return transportFailure(QStringLiteral("Operation canceled"));
    if (!m_calls->begin())
        return transportFailure(QStringLiteral("The application is quitting"));
    const std::shared_ptr<HttpCalls> calls = m_calls;
    const HttpCalls::Running running{*calls};

    std::unique_ptr<QHttpMultiPart> multiPart;
    if (request.form) {
        auto file = std::make_unique<OneShotFile>(request.form->filePath);
        if (!file->open(QIODevice::ReadOnly)) {
            HttpOutcome outcome;
            outcome.kind = HttpOutcome::Kind::unreadableBody;
            outcome.errorDescription = file->errorString();
            return outcome;
        }
        multiPart = makeMultiPart(*request.form, std::move(file));
    }

    QNetworkAccessManager manager;
    QNetworkRequest networkRequest(request.url);
    networkRequest.setTransferTimeout(static_cast<int>(request.timeout.count()));
    networkRequest.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    for (const auto &[name, value] : request.headers)
        networkRequest.setRawHeader(name, value);
    if (request.form)
        networkRequest.setRawHeader("Content-Type", request.form->contentType());
    if (!request.extraCertificateFile.isEmpty()) {
        QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
        ssl.addCaCertificates(QSslCertificate::fromPath(request.extraCertificateFile));
        networkRequest.setSslConfiguration(ssl);
    }

    std::unique_ptr<QNetworkReply> reply(multiPart ? manager.post(networkRequest, multiPart.get())
                                                   : manager.sendCustomRequest(networkRequest, request.method));
    // A streamed body never gathers in memory: the network waits while this much is unread.
    if (request.receiveBody)
        reply->setReadBufferSize(kStreamBufferBytes);
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    // The body is taken as it arrives, and never beyond the bound: a server that sends megabytes
    // (or announces them) is cut off rather than read into memory and on into the front window.
    QByteArray body;
    qint64 received = 0;
    bool oversized = false;
    bool receiverStopped = false;
    QNetworkReply *source = reply.get();
    const auto cutOff = [&] {
        oversized = true;
        body.clear();
        source->abort();
    };
    // Moves what has arrived to the body or the receiver; false once the exchange was ended.
    const auto take = [&] {
        if (oversized || receiverStopped)
            return false;
        if (received + source->bytesAvailable() > request.maximumBodyBytes) {
            cutOff();
            return false;
        }
        while (source->bytesAvailable() > 0) {
            const QByteArray piece = source->read(kPieceBytes);
            if (piece.isEmpty())
                break;
            received += piece.size();
            if (!request.receiveBody) {
                body += piece;
            } else if (!request.receiveBody(piece)) {
                receiverStopped = true;
                source->abort();
                return false;
            }
        }
        return true;
    };
    QObject::connect(source, &QNetworkReply::metaDataChanged, &loop, [&] {
        const QVariant length = source->header(QNetworkRequest::ContentLengthHeader);
        if (!oversized && length.isValid() && length.toLongLong() > request.maximumBodyBytes)
            cutOff();
    });
    QObject::connect(source, &QNetworkReply::readyRead, &loop, take);
    // The reply lives on this thread; a stop from elsewhere reaches it through its event queue.
    QNetworkReply *target = reply.get();
    const auto abortReply = [target] {
        QMetaObject::invokeMethod(
            target, [target] { target->abort(); }, Qt::QueuedConnection);
    };
    std::stop_callback onStop(stop, abortReply);
    std::stop_callback onQuit(calls->quitting.get_token(), abortReply);
    if (!reply->isFinished())
        loop.exec();

    if (oversized) {
        // The status line came before the body was cut off.
        HttpOutcome outcome;
        outcome.kind = HttpOutcome::Kind::response;
        outcome.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        outcome.bodyBeyondLimit = true;
        return outcome;
    }
    if (receiverStopped)
        return transportFailure(QStringLiteral("The receiver of the body ended the exchange"));
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QNetworkReply::NetworkError error = reply->error();
    if (isTransportError(error)) {
        HttpOutcome outcome = transportFailure(reply->errorString());
        // The transfer timeout aborts the reply as a stop would; only a stop is asked for.
        outcome.timedOut =
            error == QNetworkReply::TimeoutError || (error == QNetworkReply::OperationCanceledError &&
                                                     !stop.stop_requested() && !calls->quitting.stop_requested());
        return outcome;
    }
    if (!status.isValid()) {
        if (error != QNetworkReply::NoError)
            return transportFailure(reply->errorString());
        HttpOutcome outcome;
        outcome.kind = HttpOutcome::Kind::noHttpResponse;
        return outcome;
    }
    HttpOutcome outcome;
    outcome.kind = HttpOutcome::Kind::response;
    outcome.status = status.toInt();
    outcome.contentType = reply->rawHeader("Content-Type");
    // The rest of the body, which came with the end.
    if (!take()) {
        if (receiverStopped)
            return transportFailure(QStringLiteral("The receiver of the body ended the exchange"));
        outcome.bodyBeyondLimit = true;
        return outcome;
    }
    outcome.body = std::move(body);
    return outcome;
}

} // namespace zq::platform

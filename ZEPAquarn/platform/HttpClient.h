#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>
#include <stop_token>
#include <utility>

namespace zq::platform {

// A multipart/form-data body: text fields in order, then one file part whose bytes are streamed
// from disk while the request is sent, so a long take is never held in memory.
//
// Layout: for each field "--B" CRLF, the Content-Disposition line, CRLF CRLF, the value, CRLF;
// then the file part's two header lines, CRLF, the file's bytes; then CRLF "--B--" CRLF.
struct MultipartForm {
    QByteArray boundary;
    QList<std::pair<QByteArray, QByteArray>> fields;
    QByteArray fileFieldName = QByteArrayLiteral("file");
    QString filePath;
    QString fileName; // the name the server is told; quotes and line breaks are escaped
    QByteArray fileContentType = QByteArrayLiteral("audio/wav");

    // The value of the request's Content-Type header.
    QByteArray contentType() const { return QByteArrayLiteral("multipart/form-data; boundary=") + boundary; }
};

struct HttpRequest {
    QByteArray method = QByteArrayLiteral("GET");
    QUrl url;
    QList<std::pair<QByteArray, QByteArray>> headers;
    // Idle time allowed with nothing sent or received before the request fails.
    std::chrono::milliseconds timeout{60000};
    std::optional<MultipartForm> form; // the body of a POST
    // The most of an answer's body that is taken, whatever its status; a longer one (sent or only
    // announced) is cut off (`bodyBeyondLimit`). Each caller sets what its answers can be.
    qint64 maximumBodyBytes = 1024 * 1024;
    // When set, the body is handed over here piece by piece as it arrives, on the thread that
    // performs the request, instead of gathering in `HttpOutcome::body`: an answer of any size
    // then passes through bounded memory. Returning false ends the exchange at once (a transport
    // failure the receiver knows the reason for).
    std::function<bool(QByteArrayView piece)> receiveBody;
    // A PEM file of certificates trusted besides the system's: only tests set it, for a loopback
    // server's own certificate.
    QString extraCertificateFile;
};

struct HttpOutcome {
    enum class Kind {
        response,         // an HTTP status (any status) and its body
        transportFailure, // no complete answer: refused, dropped, timed out, aborted
        noHttpResponse,   // an answer that carried no HTTP status
        unreadableBody,   // the file part could not be opened; nothing was sent
    };

    Kind kind = Kind::transportFailure;
    int status = -1;
    // The answer's Content-Type header as sent (empty when it had none).
    QByteArray contentType;
    QByteArray body; // empty when the request had a `receiveBody`
    // A response whose body is longer than the request allows: it was cut off unread, `body` is
    // empty and must not be taken for the answer.
    bool bodyBeyondLimit = false;
    QString errorDescription; // for transportFailure and unreadableBody
    // A transport failure because nothing moved for the request's whole timeout (not a stop).
    bool timedOut = false;
};

// Carries out HTTP exchanges: one per call, blocking the calling thread until it ends.
//
// Call it on a worker thread; calls may run at once on several threads. A stop requested through
// the token ends the exchange as a transport failure. Never throws.
class HttpClient {
public:
    virtual ~HttpClient() = default;
    virtual HttpOutcome perform(const HttpRequest &request, std::stop_token stop) const = 0;
};

} // namespace zq::platform

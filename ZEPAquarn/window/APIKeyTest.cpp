#include "window/APIKeyTest.h"

#include "transcription/OpenAIBackend.h"

namespace zq {

using platform::HttpOutcome;
using platform::HttpRequest;

QString apiKeyTestResult(const HttpOutcome &outcome)
{
    switch (outcome.kind) {
    case HttpOutcome::Kind::transportFailure:
    case HttpOutcome::Kind::unreadableBody:
        return QString::fromUtf8("✗ Network error");
    case HttpOutcome::Kind::noHttpResponse:
        return QString::fromUtf8("✗ HTTP -1");
    case HttpOutcome::Kind::response:
        break;
    }
    if (outcome.status == 200)
        return QString::fromUtf8("✓ Key valid");
    if (outcome.status == 401 || outcome.status == 403)
        return QString::fromUtf8("✗ Invalid key (%1)").arg(outcome.status);
    return QString::fromUtf8("✗ HTTP %1").arg(outcome.status);
}

rt::Task<QString> testAPIKey(std::optional<QString> storedKey, APIKeyTestConfig config)
{
    // The same rule the transcription client applies: blanks around the key are dropped, and a key
    // with a line break inside is never put into a header, where it could add lines of its own.
    const OpenAIBackend::APIKeyCheck check = OpenAIBackend::checkAPIKey(storedKey);
    if (check.problem) {
        if (check.problem->kind() == ZEPAError::Kind::noAPIKey)
            co_return QString::fromUtf8("✗ No key saved");
        co_return QString::fromUtf8("✗ Invalid key");
    }

    HttpRequest request;
    request.method = QByteArrayLiteral("GET");
    QUrl url = config.baseUrl;
    QString path = url.path();
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    url.setPath(path + QStringLiteral("/v1/models"));
    request.url = url;
    request.timeout = config.timeout;
    request.headers.append({QByteArrayLiteral("Authorization"), QByteArrayLiteral("Bearer ") + check.key.toUtf8()});

    auto exchange = [http = config.http, request](std::stop_token stop) {
        return http ? http->perform(request, stop) : HttpOutcome{};
    };
    const HttpOutcome outcome = co_await rt::runOnWorker(std::move(exchange));
    co_return apiKeyTestResult(outcome);
}

} // namespace zq

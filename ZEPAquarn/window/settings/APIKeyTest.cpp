#include "window/settings/APIKeyTest.h"

#include "transcription/OpenAIBackend.h"

namespace zq {

using platform::HttpOutcome;
using platform::HttpRequest;

RowStatus apiKeyTestResult(const HttpOutcome &outcome)
{
    switch (outcome.kind) {
    case HttpOutcome::Kind::transportFailure:
    case HttpOutcome::Kind::unreadableBody:
        return RowStatus::failed(QStringLiteral("Network error"));
    case HttpOutcome::Kind::noHttpResponse:
        return RowStatus::failed(QStringLiteral("HTTP -1"));
    case HttpOutcome::Kind::response:
        break;
    }
    if (outcome.status == 200)
        return RowStatus::passed(QStringLiteral("Key valid"));
    if (outcome.status == 401 || outcome.status == 403)
        return RowStatus::failed(QStringLiteral("Invalid key (%1)").arg(outcome.status));
    return RowStatus::failed(QStringLiteral("HTTP %1").arg(outcome.status));
}

rt::Task<RowStatus> testAPIKey(std::optional<QString> storedKey, APIKeyTestConfig config)
{
    // The same rule the transcription client applies: blanks around the key are dropped, and a key
    // with a line break inside is never put into a header, where it could add lines of its own.
    const OpenAIBackend::APIKeyCheck check = OpenAIBackend::checkAPIKey(storedKey);
    if (check.problem) {
        if (check.problem->kind() == ZEPAError::Kind::noAPIKey)
            co_return RowStatus::failed(QStringLiteral("No key saved"));
        co_return RowStatus::failed(QStringLiteral("Invalid key"));
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

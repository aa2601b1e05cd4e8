#include "rewards/depth/InviteService.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <chrono>
#include <cmath>

namespace zq {

using platform::HttpOutcome;
using platform::HttpRequest;

namespace {

const QString kAlphabet = QStringLiteral("0123456789ABCDEFGHJKMNPQRSTVWXYZ");
constexpr std::chrono::seconds kRequestTimeout{10};

HttpRequest makeRequest(QByteArray method, QUrl url)
{
    HttpRequest request;
    request.method = std::move(method);
    request.url = std::move(url);
    request.headers = {{QByteArrayLiteral("Accept"), QByteArrayLiteral("application/json")}};
    request.timeout = kRequestTimeout;
    request.maximumBodyBytes = InviteService::maximumBodyBytes;
    return request;
}

// A JSON number counts as an integer only when it has no fraction and fits exactly in a double's
// integer range; text, booleans and fractions do not.
std::optional<qint64> integerOf(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    constexpr double exactLimit = 9007199254740992.0; // 2^53
    if (!std::isfinite(number) || std::trunc(number) != number || std::fabs(number) > exactLimit)
        return std::nullopt;
    return static_cast<qint64>(number);
}

} // namespace

QString InviteService::host()
{
    return QStringLiteral("zepaquarn.quorvane.io");
}

QUrl InviteService::serviceBaseUrl()
{
    const QString override = qEnvironmentVariable("ZQ_INVITE_BASE_URL_FOR_TESTS");
    if (!override.isEmpty())
        return QUrl(override);
    return QUrl(QStringLiteral("https://") + host());
}

bool InviteService::isValidCode(const QString &code)
{
    for (const QChar character : code) {
        if (!kAlphabet.contains(character))
            return false;
    }
    return true;
}

bool InviteService::isInviteCode(const QString &code)
{
    // Every alphabet character is one UTF-16 unit, so a valid code is exactly six units long.
    return code.size() == 6 && isValidCode(code);
}

HttpRequest InviteService::makeRegisterRequest()
{
    QUrl url = serviceBaseUrl();
    url.setPath(url.path() + QStringLiteral("/api/invite"));
    return makeRequest(QByteArrayLiteral("POST"), url);
}

std::optional<HttpRequest> InviteService::makeLookupRequest(const QString &code)
{
    if (!isInviteCode(code))
        return std::nullopt;
    QUrl url = serviceBaseUrl();
    url.setPath(url.path() + QStringLiteral("/api/invite/") + code);
    if (!url.isValid())
        return std::nullopt;
    return makeRequest(QByteArrayLiteral("GET"), url);
}

std::optional<InviteService::Body> InviteService::decodeBody(const QByteArray &bytes)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const QJsonValue code = object.value(QLatin1String("code"));
    if (!code.isString())
        return std::nullopt;
    Body body{code.toString(), std::nullopt};
    const QJsonValue count = object.value(QLatin1String("count"));
    if (!count.isUndefined() && !count.isNull()) {
        body.count = integerOf(count);
        if (!body.count)
            return std::nullopt;
    }
    return body;
}

rt::Task<std::optional<InviteService::Body>> InviteService::send(std::shared_ptr<const platform::HttpClient> http,
                                                                 HttpRequest request)
{
    if (!http)
        co_return std::nullopt;
    auto work = [http, request](std::stop_token stop) { return http->perform(request, stop); };
    const HttpOutcome outcome = co_await rt::runOnWorker(std::move(work));
    if (outcome.kind != HttpOutcome::Kind::response || outcome.status < 200 || outcome.status >= 300 ||
        outcome.bodyBeyondLimit)
        co_return std::nullopt;
    co_return decodeBody(outcome.body);
}

rt::Task<std::optional<QString>> InviteService::createInvite() const
{
    const std::optional<Body> body = co_await send(m_http, makeRegisterRequest());
    if (!body || !isInviteCode(body->code))
        co_return std::nullopt;
    co_return body->code;
}

rt::Task<std::optional<qint64>> InviteService::verifiedCount(QString code) const
{
    const std::optional<HttpRequest> request = makeLookupRequest(code);
    if (!request)
        co_return std::nullopt;
    const std::optional<Body> body = co_await send(m_http, *request);
    if (!body || body->code != code || !body->count || *body->count < 0)
        co_return std::nullopt;
    co_return body->count;
}

} // namespace zq

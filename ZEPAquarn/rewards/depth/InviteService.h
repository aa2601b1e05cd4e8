#pragma once

#include "platform/HttpClient.h"
#include "runtime/Task.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>
#include <stop_token>

namespace zq {

// The client of our invite service: mints six-character invite codes and looks up how many verified
// downloads a code has collected. Only the code travels. Every failure (no network, timeout, an
// HTTP error, an answer that does not decode or is longer than a few kilobytes, a code that is not
// ours) yields no value; the caller words the message. Copyable, stateless apart from its client;
// the operations may run at once.
class InviteService {
public:
    // The host of the service, of invite links and of the texts that name it.
    static QString host();
    // "https://" + host; the environment variable ZQ_INVITE_BASE_URL_FOR_TESTS replaces it (tests
    // point it at a loopback server). Links and texts keep the real host.
    static QUrl serviceBaseUrl();

    // The most of an answer that is read: a code and a count take a few dozen bytes.
    static constexpr qint64 maximumBodyBytes = 64 * 1024;

    // Without a client nothing is ever sent and every operation yields no value.
    InviteService() = default;
    explicit InviteService(std::shared_ptr<const platform::HttpClient> http) : m_http(std::move(http)) {}

    // Whether every character is one of the 32 of "0123456789ABCDEFGHJKMNPQRSTVWXYZ" (upper case
    // only). A valid code also has exactly six characters: isInviteCode() checks both.
    static bool isValidCode(const QString &code);
    static bool isInviteCode(const QString &code);

    static platform::HttpRequest makeRegisterRequest();
    // None for a code that is not valid: nothing is built, nothing is sent.
    static std::optional<platform::HttpRequest> makeLookupRequest(const QString &code);

    // A new code, or none.
    rt::Task<std::optional<QString>> createInvite() const;
    // The verified downloads of `code` (0 or more), or none.
    rt::Task<std::optional<qint64>> verifiedCount(QString code) const;

    // The answer of either request: "code" (a string, required) and "count" (an integer; missing or
    // null gives none). Anything else about the body makes it undecodable.
    struct Body {
        QString code;
        std::optional<qint64> count;
    };
    static std::optional<Body> decodeBody(const QByteArray &bytes);

private:
    static rt::Task<std::optional<Body>> send(std::shared_ptr<const platform::HttpClient> http,
                                              platform::HttpRequest request);

    std::shared_ptr<const platform::HttpClient> m_http;
};

} // namespace zq

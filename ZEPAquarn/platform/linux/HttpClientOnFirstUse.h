#pragma once

#include "platform/HttpClient.h"
#include "runtime/Result.h"

#include <QByteArrayView>
#include <QObject>

#include <functional>
#include <memory>
#include <mutex>

namespace zq::platform {

struct HttpCalls;

// The application's HTTP client, made on the first request from a module image the executable
// carries (the real client and Qt Network live in that module), so that a launch does not load Qt
// Network. The image is opened from memory; a module that cannot be opened makes every request a
// transport failure that says why. Make it on the main thread; requests come from any thread.
//
// The quit is safe at any moment: when the application is about to quit, every request still running
// (one still making the client included) is stopped and waited for (briefly), and none starts after
// it, so no request runs in the module while the process's static objects go.
class HttpClientOnFirstUse final : public HttpClient {
public:
    // Makes the real client; the error says why it could not be made.
    using Make = std::function<rt::Result<std::unique_ptr<HttpClient>>()>;

    // `moduleImage` must outlive this client.
    explicit HttpClientOnFirstUse(QByteArrayView moduleImage);
    explicit HttpClientOnFirstUse(Make make);
    ~HttpClientOnFirstUse() override;

    HttpOutcome perform(const HttpRequest &request, std::stop_token stop) const override;

private:
    const HttpClient *client() const;

    Make m_make;
    mutable std::once_flag m_once;
    mutable std::unique_ptr<HttpClient> m_client;
    mutable QString m_failure;
    std::shared_ptr<HttpCalls> m_calls;
    QObject m_context; // receives the application's aboutToQuit
};

} // namespace zq::platform

#pragma once

#include "platform/HttpClient.h"

#include <QByteArrayView>
#include <QObject>

#include <atomic>
#include <memory>
#include <mutex>

namespace zq::platform {

// The application's HTTP client, made on the first request from a module image the executable
// carries (the real client and Qt Network live in that module), so that a launch does not load Qt
// Network. The image is opened from memory; a module that cannot be opened makes every request a
// transport failure that says why. Make it on the main thread; requests come from any thread.
class HttpClientOnFirstUse final : public HttpClient {
public:
    // `moduleImage` must outlive this client.
    explicit HttpClientOnFirstUse(QByteArrayView moduleImage);
    ~HttpClientOnFirstUse() override;

    HttpOutcome perform(const HttpRequest &request, std::stop_token stop) const override;

private:
    const HttpClient *client() const;

    const QByteArrayView m_image;
    mutable std::once_flag m_once;
    mutable std::unique_ptr<HttpClient> m_client;
    mutable QString m_failure;
    mutable std::atomic<bool> m_made = false;
    // Set when the application is about to quit: a client not made by then is not made.
    std::shared_ptr<std::atomic<bool>> m_quitting = std::make_shared<std::atomic<bool>>(false);
    QObject m_context; // receives the application's aboutToQuit
};

} // namespace zq::platform

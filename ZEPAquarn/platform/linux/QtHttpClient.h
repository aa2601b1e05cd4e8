#pragma once

#include "platform/HttpClient.h"

#include <QObject>

#include <memory>

namespace zq::platform {

struct HttpCalls;

// HTTP and HTTPS through Qt Network. Each call runs a private event loop, so it also works on a
// thread that has none; a stop from another thread reaches the reply through that loop. Nothing
// is answered from a cache, and an upload's file is never sent twice.
//
// Calls run on the main loop's worker threads, and Qt Network's shared parts go with the application
// object: when the application is about to quit, the client stops every call still running and waits
// (briefly) for them to end, and refuses new ones.
class QtHttpClient final : public HttpClient {
public:
    QtHttpClient();
    ~QtHttpClient() override;

    HttpOutcome perform(const HttpRequest &request, std::stop_token stop) const override;

private:
    std::shared_ptr<HttpCalls> m_calls;
    QObject m_context; // receives the application's aboutToQuit
};

} // namespace zq::platform

#pragma once

#include "platform/HttpClient.h"

namespace zq::platform {

// HTTP and HTTPS through Qt Network. Each call runs a private event loop, so it also works on a
// thread that has none; a stop from another thread reaches the reply through that loop. Nothing
// is answered from a cache, and an upload's file is never sent twice.
class QtHttpClient final : public HttpClient {
public:
    HttpOutcome perform(const HttpRequest &request, std::stop_token stop) const override;
};

} // namespace zq::platform

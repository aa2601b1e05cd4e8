#pragma once

#include "platform/HttpClient.h"
#include "support/FakeGate.h"

#include <QList>

#include <deque>
#include <mutex>

namespace zq::test {

using platform::HttpOutcome;
using platform::HttpRequest;

// A scripted HTTP client: answers requests in order from a script (a transport failure when the
// script is empty), records every request, and can hold a call at a gate until the test opens it.
class FakeHttpClient final : public platform::HttpClient {
public:
    static HttpOutcome answer(int status, QByteArray body);

    void enqueue(HttpOutcome outcome);
    // The next call waits at `gate` (kept by the test) before it answers.
    void holdNextCallAt(FakeGate *gate);

    QList<HttpRequest> requests() const;
    int requestCount() const;

    HttpOutcome perform(const HttpRequest &request, std::stop_token stop) const override;

private:
    mutable std::mutex m_mutex;
    mutable std::deque<HttpOutcome> m_script;
    mutable QList<HttpRequest> m_requests;
    mutable FakeGate *m_gate = nullptr;
};

} // namespace zq::test

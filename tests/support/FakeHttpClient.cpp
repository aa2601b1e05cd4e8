#include "support/FakeHttpClient.h"

namespace zq::test {

HttpOutcome FakeHttpClient::answer(int status, QByteArray body)
{
    HttpOutcome outcome;
    outcome.kind = HttpOutcome::Kind::response;
    outcome.status = status;
    outcome.body = std::move(body);
    return outcome;
}

void FakeHttpClient::enqueue(HttpOutcome outcome)
{
    std::lock_guard lock(m_mutex);
    m_script.push_back(std::move(outcome));
}

void FakeHttpClient::holdNextCallAt(FakeGate *gate)
{
    std::lock_guard lock(m_mutex);
    m_gate = gate;
}

QList<HttpRequest> FakeHttpClient::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

int FakeHttpClient::requestCount() const
{
    std::lock_guard lock(m_mutex);
    return int(m_requests.size());
}

HttpOutcome FakeHttpClient::perform(const HttpRequest &request, std::stop_token) const
{
    FakeGate *gate = nullptr;
    HttpOutcome outcome; // a transport failure unless scripted
    {
        std::lock_guard lock(m_mutex);
        m_requests.append(request);
        gate = std::exchange(m_gate, nullptr);
        if (!m_script.empty()) {
            outcome = std::move(m_script.front());
            m_script.pop_front();
        }
    }
    if (gate)
        gate->pass();
    return outcome;
}

} // namespace zq::test

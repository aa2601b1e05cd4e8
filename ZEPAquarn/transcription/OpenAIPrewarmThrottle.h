#pragma once

#include "runtime/Executor.h"

#include <mutex>
#include <optional>
#include <stop_token>

namespace zq {

// Lets at most one connection warm-up start per 60 s of system uptime. The time is stored before
// the warm-up runs, so a failed warm-up counts too. Thread-safe; the lock is held only for the
// comparison and the store.
class OpenAIPrewarmThrottle {
public:
    static constexpr rt::Nanos interval = std::chrono::seconds(60);

    // The one record of the process.
    static OpenAIPrewarmThrottle &shared();

    // Whether a warm-up may start at `uptimeNow`; when it may, that time becomes the last one.
    bool claim(rt::Nanos uptimeNow);

    // Warm-ups watch this token; stopAll() ends the ones still waiting for the service (at quit,
    // which would otherwise wait for them) and any that start later.
    std::stop_token stopToken() const { return m_stop.get_token(); }
    void stopAll() { m_stop.request_stop(); }

private:
    std::stop_source m_stop;
    std::mutex m_mutex;
    std::optional<rt::Nanos> m_lastPrewarm;
};

} // namespace zq

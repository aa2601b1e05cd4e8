#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stop_token>

namespace zq::platform {

// The requests an HTTP client has running, and whether the application still lets new ones start. A
// quit stops them and waits a moment for them to end, so that none runs on while the process exits.
struct HttpCalls {
    // How long a quit waits for stopped calls to end: an aborted reply ends in milliseconds.
    static constexpr std::chrono::seconds kQuitWait{2};

    std::mutex mutex;
    std::condition_variable ended;
    std::stop_source quitting;
    int running = 0;

    bool begin()
    {
        std::lock_guard lock(mutex);
        if (quitting.stop_requested())
            return false;
        ++running;
        return true;
    }
    void end()
    {
        std::lock_guard lock(mutex);
        --running;
        ended.notify_all();
    }
    // Counts one call as running while it lives.
    struct Running {
        HttpCalls &calls;
        ~Running() { calls.end(); }
    };

    void stopAll()
    {
        std::unique_lock lock(mutex);
        quitting.request_stop();
        ended.wait_for(lock, kQuitWait, [this] { return running == 0; });
    }
};

} // namespace zq::platform

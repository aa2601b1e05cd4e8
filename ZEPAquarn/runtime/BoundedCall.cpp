#include "runtime/BoundedCall.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace zq::rt {

bool callWithin(std::chrono::milliseconds wait, std::function<void()> call)
{
    struct Outcome {
        std::mutex mutex;
        std::condition_variable returned;
        bool done = false;
    };
    const auto outcome = std::make_shared<Outcome>();
    std::thread worker([outcome, call = std::move(call)]() mutable {
        call();
        // What the call holds goes before its caller hears of the return, so the caller owns it alone.
        call = nullptr;
        const std::lock_guard lock(outcome->mutex);
        outcome->done = true;
        outcome->returned.notify_all();
    });
    std::unique_lock lock(outcome->mutex);
    const bool returned = outcome->returned.wait_for(lock, wait, [&outcome] { return outcome->done; });
    lock.unlock();
    // A call that returned leaves no thread behind; only one that never returns is left to itself.
    if (returned)
        worker.join();
    else
        worker.detach();
    return returned;
}

} // namespace zq::rt

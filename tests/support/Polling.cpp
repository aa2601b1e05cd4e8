#include "support/Polling.h"

#include <thread>

namespace zq::test {

bool waitFor(const std::function<bool()> &predicate, std::chrono::milliseconds timeout,
             std::chrono::milliseconds interval)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(interval);
    }
    return true;
}

} // namespace zq::test

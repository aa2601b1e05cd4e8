#include "support/Polling.h"

#include "support/VirtualLoop.h"

#include <QCoreApplication>

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

bool processEventsUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout)
{
    return waitFor(
        [&] {
            QCoreApplication::processEvents();
            return done();
        },
        timeout);
}

bool processEventsUntil(VirtualLoop &loop, const std::function<bool()> &done, std::chrono::milliseconds timeout)
{
    return waitFor(
        [&] {
            QCoreApplication::processEvents();
            loop.runUntilIdle();
            return done();
        },
        timeout);
}

} // namespace zq::test

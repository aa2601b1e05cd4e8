#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace zq::test {

// A one-way gate a fake call can be held at: the call waits until the test opens it.
class FakeGate {
public:
    void open();
    // Called by the held call: marks it reached and waits for open().
    void pass();
    // Waits (real time) until a call reached the gate.
    bool waitUntilReached(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    bool isReached() const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = false;
    bool m_reached = false;
};

} // namespace zq::test

#pragma once

#include <chrono>
#include <functional>

namespace zq::test {

// How a function run by runLimited() ended.
struct LimitedRun {
    enum class End { exited, signalled, timedOut };
    End end = End::timedOut;
    int code = 0; // the exit code, or the signal

    bool exitedWith(int expected) const { return end == End::exited && code == expected; }
    // "exit 3", "signal 6" or "still running after the timeout", for test messages.
    const char *describe() const;
};

// Runs `body` in a forked child and returns how it ended; `body`'s result is the exit code (125
// when it throws, bad_alloc included). The
// child may map at most `headroomBytes` more than the test process had at the fork, and is
// killed after `timeout`. For code that, when faulty, reads without bound or waits forever: the
// fault fails the test at once instead of exhausting the machine or hanging the suite.
// Under AddressSanitizer, which reserves vast address space up front, only the timeout applies.
LimitedRun runLimited(const std::function<int()> &body, long long headroomBytes = 512LL << 20,
                      std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));

} // namespace zq::test

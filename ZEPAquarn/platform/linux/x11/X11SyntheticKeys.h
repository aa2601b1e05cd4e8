#pragma once

#include <chrono>
#include <deque>
#include <mutex>
#include <span>

namespace zq::platform {

// The keys this process is posting through XTest, shared by the key synthesizer (which announces them)
// and the event tap (which drops them): the display server reports synthetic keys like any other, and
// the paste chord must never reach the trigger logic. Other XTest clients (xdotool, on-screen keyboards)
// still count as input. Thread-safe.
class X11SyntheticKeys {
public:
    struct Transition {
        int xKeyCode = 0;
        bool press = false;
    };

    // An announced key that never comes back is forgotten after this long.
    static constexpr std::chrono::milliseconds expiry{2000};

    // Called before the keys are posted.
    void announce(std::span<const Transition> transitions);
    // True, once, for a key transition that was announced (the oldest one matching).
    bool consume(int xKeyCode, bool press);

private:
    struct Entry {
        Transition transition;
        std::chrono::steady_clock::time_point deadline;
    };

    std::mutex m_mutex;
    std::deque<Entry> m_expected;
};

} // namespace zq::platform

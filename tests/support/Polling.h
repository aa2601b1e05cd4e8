#pragma once

#include <chrono>
#include <functional>

namespace zq::test {

class VirtualLoop;

// For waits on other processes, servers and threads: long enough for a machine whose cores are all
// busy with other tests, so it is reached only when the awaited thing never happens.
inline constexpr std::chrono::seconds kLoadedMachineTimeout{60};

// Polls `predicate` on the calling thread every `interval` until it holds; false once `timeout` has
// passed. For outcomes that arrive on threads the test does not own (audio, executor, X server).
bool waitFor(const std::function<bool()> &predicate, std::chrono::milliseconds timeout = std::chrono::seconds(5),
             std::chrono::milliseconds interval = std::chrono::milliseconds(1));

// Polls `done` with Qt's pending events delivered before each check, until it holds; false once
// `timeout` has passed. For outcomes that come through the Qt event loop (X events, network replies,
// signals queued from other threads).
bool processEventsUntil(const std::function<bool()> &done,
                        std::chrono::milliseconds timeout = std::chrono::seconds(10));
// The same, also running what is due on `loop` before each check (the timers that run on it).
bool processEventsUntil(VirtualLoop &loop, const std::function<bool()> &done,
                        std::chrono::milliseconds timeout = std::chrono::seconds(10));

} // namespace zq::test

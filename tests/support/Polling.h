#pragma once

#include <chrono>
#include <functional>

namespace zq::test {

// Polls `predicate` on the calling thread every `interval` until it holds; false once `timeout` has
// passed. For outcomes that arrive on threads the test does not own (audio, executor, X server).
bool waitFor(const std::function<bool()> &predicate, std::chrono::milliseconds timeout = std::chrono::seconds(5),
             std::chrono::milliseconds interval = std::chrono::milliseconds(1));

} // namespace zq::test

#pragma once

#include <chrono>
#include <functional>

namespace zq::rt {

// Runs `call` on a thread of its own and waits at most `wait` for it. True once it has returned, with
// everything it held already let go; false while it is still running. Then its thread is left behind
// to end (or hang) by itself with what it holds, as nothing can join a call that never returns: for
// calls nothing can interrupt, such as one into a network folder that stopped answering, made by a
// caller that then tells the user and ends the process.
bool callWithin(std::chrono::milliseconds wait, std::function<void()> call);

} // namespace zq::rt

#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

namespace zq::rt {

using Nanos = std::chrono::nanoseconds;
// For ratios of durations: dividing two Nanos would drop the fraction.
using Seconds = std::chrono::duration<double>;

// Durations in the design are given in seconds with fractions (1.8 s, 0.215 s). Rounded, not cut:
// 1.005 s is 1 005 000 000 ns, although 1.005 × 10⁹ comes out a hair short in binary.
constexpr Nanos seconds(double s)
{
    return std::chrono::round<Nanos>(std::chrono::duration<double>(s));
}

// A handle to a delayed work item. Cancelling is safe from any thread and at any time;
// an item cancelled before it runs never runs.
class WorkItem {
public:
    WorkItem() = default;

    static WorkItem make() { return WorkItem(std::make_shared<std::atomic<bool>>(false)); }

    void cancel()
    {
        if (m_cancelled)
            m_cancelled->store(true);
    }
    bool isCancelled() const { return m_cancelled && m_cancelled->load(); }
    bool isValid() const { return m_cancelled != nullptr; }

private:
    explicit WorkItem(std::shared_ptr<std::atomic<bool>> flag) : m_cancelled(std::move(flag)) {}
    std::shared_ptr<std::atomic<bool>> m_cancelled;
};

// Somewhere work can be sent: the main loop or a serial queue.
// post() and postDelayed() may be called from any thread. Items posted for the same time run in
// the order they were posted.
class Executor {
public:
    using Function = std::function<void()>;

    virtual ~Executor() = default;

    virtual void post(Function fn) = 0;
    virtual WorkItem postDelayed(Nanos delay, Function fn) = 0;

    // The executor's own clock, used for its delayed items.
    virtual Nanos now() const = 0;
    // Whether the calling thread is the one that runs this executor's items.
    virtual bool isCurrent() const = 0;
};

// The main thread's loop: controllers, stores and views live on it, and every delayed work item of
// the application's logic goes through it.
class MainLoop : public Executor {};

// Ties callbacks to the life of their owner: a callback made by guard() runs only while the
// Lifetime that made it still exists. Use it on the thread that destroys the owner.
class Lifetime {
public:
    Lifetime() = default;
    Lifetime(const Lifetime &) = delete;
    Lifetime &operator=(const Lifetime &) = delete;

    template <typename F>
    auto guard(F fn) const
    {
        return [alive = std::weak_ptr<int>(m_alive), fn = std::move(fn)](auto &&...args) mutable {
            if (alive.lock())
                fn(std::forward<decltype(args)>(args)...);
        };
    }

private:
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

} // namespace zq::rt

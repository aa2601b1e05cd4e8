#pragma once

// Coroutine tasks that run on a MainLoop.
//
// A Task<T> is lazy: nothing runs until it is awaited by another task (it then runs as a child,
// sharing its parent's loop and cancellation) or started with spawn(). Every resumption happens on
// the task's loop, so task code is main-thread code. Cancellation is cooperative: cancel() marks
// the task tree; sleepFor(), runOnWorker(), AsyncChannel::next() and checkCancellation() notice it
// and throw CancellationError. Exceptions travel to the awaiting parent, or to the TaskHandle.

#include "runtime/Executor.h"

#include <coroutine>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

namespace zq::rt {

struct CancellationError : std::exception {
    const char *what() const noexcept override { return "task cancelled"; }
};

// Shared by a task and all its children. Callbacks run on the thread that cancels, outside the lock.
class CancellationState {
public:
    bool isCancelled() const
    {
        std::lock_guard lock(m_mutex);
        return m_cancelled;
    }

    void cancel()
    {
        std::vector<std::function<void()>> callbacks;
        {
            std::lock_guard lock(m_mutex);
            if (m_cancelled)
                return;
            m_cancelled = true;
            for (auto &entry : m_callbacks)
                callbacks.push_back(std::move(entry.second));
            m_callbacks.clear();
        }
        for (auto &callback : callbacks)
            callback();
    }

    // Runs the callback at once when already cancelled; returns 0 then.
    std::uint64_t addCallback(std::function<void()> callback)
    {
        {
            std::lock_guard lock(m_mutex);
            if (!m_cancelled) {
                const std::uint64_t id = ++m_nextId;
                m_callbacks.emplace_back(id, std::move(callback));
                return id;
            }
        }
        callback();
        return 0;
    }

    void removeCallback(std::uint64_t id)
    {
        if (id == 0)
            return;
        std::lock_guard lock(m_mutex);
        std::erase_if(m_callbacks, [id](const auto &entry) { return entry.first == id; });
    }

private:
    mutable std::mutex m_mutex;
    bool m_cancelled = false;
    std::uint64_t m_nextId = 0;
    std::vector<std::pair<std::uint64_t, std::function<void()>>> m_callbacks;
};

struct TaskContext {
    MainLoop *loop = nullptr;
    std::shared_ptr<CancellationState> cancellation;
};

namespace detail {

struct PromiseBase {
    TaskContext context;
    std::coroutine_handle<> continuation;
    std::exception_ptr exception;

    std::suspend_always initial_suspend() noexcept { return {}; }

    struct FinalAwaiter {
        bool await_ready() noexcept { return false; }
        template <typename P>
        std::coroutine_handle<> await_suspend(std::coroutine_handle<P> handle) noexcept
        {
            auto next = handle.promise().continuation;
            return next ? next : std::noop_coroutine();
        }
        void await_resume() noexcept {}
    };
    FinalAwaiter final_suspend() noexcept { return {}; }
    void unhandled_exception() { exception = std::current_exception(); }
};

template <typename T>
struct ValuePromise : PromiseBase {
    std::optional<T> value;
    template <typename U>
    void return_value(U &&v)
    {
        value.emplace(std::forward<U>(v));
    }
};

struct VoidPromise : PromiseBase {
    void return_void() {}
};

// An awaiter that needs its task's context: await_suspend reads it and may decline to suspend.
template <typename P>
TaskContext &contextOf(std::coroutine_handle<P> handle)
{
    return static_cast<PromiseBase &>(handle.promise()).context;
}

} // namespace detail

template <typename T = void>
class [[nodiscard]] Task {
public:
    struct promise_type : std::conditional_t<std::is_void_v<T>, detail::VoidPromise, detail::ValuePromise<T>> {
        Task get_return_object() { return Task(std::coroutine_handle<promise_type>::from_promise(*this)); }
    };
    using Handle = std::coroutine_handle<promise_type>;

    Task(Task &&other) noexcept : m_handle(std::exchange(other.m_handle, {})) {}
    Task &operator=(Task &&other) noexcept
    {
        if (this != &other) {
            if (m_handle)
                m_handle.destroy();
            m_handle = std::exchange(other.m_handle, {});
        }
        return *this;
    }
    Task(const Task &) = delete;
    Task &operator=(const Task &) = delete;
    ~Task()
    {
        if (m_handle)
            m_handle.destroy();
    }

    // Awaiting a task runs it as a child of the awaiting task.
    bool await_ready() const noexcept { return false; }
    template <typename P>
    std::coroutine_handle<> await_suspend(std::coroutine_handle<P> parent) noexcept
    {
        m_handle.promise().context = detail::contextOf(parent);
        m_handle.promise().continuation = parent;
        return m_handle;
    }
    T await_resume()
    {
        auto &promise = m_handle.promise();
        if (promise.exception)
            std::rethrow_exception(promise.exception);
        if constexpr (!std::is_void_v<T>)
            return std::move(*promise.value);
    }

private:
    explicit Task(Handle handle) : m_handle(handle) {}
    Handle m_handle;
};

namespace detail {

// Fire-and-forget frame that owns a spawned task and frees itself when done.
struct Detached {
    struct promise_type : PromiseBase {
        Detached get_return_object() { return Detached{std::coroutine_handle<promise_type>::from_promise(*this)}; }
        std::suspend_never final_suspend() noexcept { return {}; }
        void return_void() {}
        void unhandled_exception() { std::terminate(); }
    };
    std::coroutine_handle<promise_type> handle;
};

template <typename T>
struct TaskState {
    std::mutex mutex;
    bool done = false;
    std::exception_ptr exception;
    std::conditional_t<std::is_void_v<T>, bool, std::optional<T>> value{};
    std::vector<std::function<void()>> onDone;
    std::shared_ptr<CancellationState> cancellation = std::make_shared<CancellationState>();

    void complete()
    {
        std::vector<std::function<void()>> callbacks;
        {
            std::lock_guard lock(mutex);
            done = true;
            callbacks.swap(onDone);
        }
        for (auto &callback : callbacks)
            callback();
    }
};

template <typename T>
struct TaskValueAwaiter {
    std::shared_ptr<TaskState<T>> state;
    bool await_ready()
    {
        std::lock_guard lock(state->mutex);
        return state->done;
    }
    template <typename P>
    bool await_suspend(std::coroutine_handle<P> handle)
    {
        MainLoop *loop = contextOf(handle).loop;
        std::lock_guard lock(state->mutex);
        if (state->done)
            return false;
        state->onDone.push_back([loop, handle] { loop->post([handle] { handle.resume(); }); });
        return true;
    }
    auto await_resume()
    {
        if (state->exception)
            std::rethrow_exception(state->exception);
        if constexpr (!std::is_void_v<T>)
            return *state->value;
    }
};

template <typename T>
Detached runDetached(Task<T> task, std::shared_ptr<TaskState<T>> state)
{
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
        } else {
            auto value = co_await std::move(task);
            state->value.emplace(std::move(value));
        }
    } catch (...) {
        state->exception = std::current_exception();
    }
    state->complete();
}

} // namespace detail

// A started task. Copies refer to the same task. Dropping the handle does not cancel the task.
template <typename T = void>
class TaskHandle {
public:
    TaskHandle() = default;
    explicit TaskHandle(std::shared_ptr<detail::TaskState<T>> state) : m_state(std::move(state)) {}

    bool isValid() const { return m_state != nullptr; }
    void cancel() const
    {
        if (m_state)
            m_state->cancellation->cancel();
    }
    bool isCancelled() const { return m_state && m_state->cancellation->isCancelled(); }
    bool isDone() const
    {
        if (!m_state)
            return false;
        std::lock_guard lock(m_state->mutex);
        return m_state->done;
    }
    // Whether the task ended by throwing (CancellationError included).
    bool hasFailed() const
    {
        std::lock_guard lock(m_state->mutex);
        return m_state->done && m_state->exception;
    }
    std::exception_ptr exception() const
    {
        std::lock_guard lock(m_state->mutex);
        return m_state->exception;
    }
    // Only once the task is done.
    const auto &result() const { return m_state->value; }

    // Runs fn on the thread that completes the task (the task's loop), or at once when done already.
    void onDone(std::function<void()> fn) const
    {
        {
            std::lock_guard lock(m_state->mutex);
            if (!m_state->done) {
                m_state->onDone.push_back(std::move(fn));
                return;
            }
        }
        fn();
    }

    // Awaits the task's end from another task, on the awaiting task's loop. Rethrows its failure.
    detail::TaskValueAwaiter<T> value() const { return detail::TaskValueAwaiter<T>{m_state}; }

private:
    std::shared_ptr<detail::TaskState<T>> m_state;
};

// Starts a task on the loop. Its first step runs on a later turn of the loop, never inside spawn().
template <typename T>
TaskHandle<T> spawn(MainLoop &loop, Task<T> task)
{
    auto state = std::make_shared<detail::TaskState<T>>();
    auto frame = detail::runDetached<T>(std::move(task), state);
    frame.handle.promise().context = TaskContext{&loop, state->cancellation};
    loop.post([handle = frame.handle] { handle.resume(); });
    return TaskHandle<T>(std::move(state));
}

namespace detail {

// Resumes a suspended task exactly once, whichever of its wake-ups comes first.
struct OnceResumer {
    std::atomic<bool> claimed{false};
    bool claim() { return !claimed.exchange(true); }
};

} // namespace detail

namespace detail {

struct SleepAwaiter {
    struct Shared : OnceResumer {
        bool cancelled = false;
    };
    explicit SleepAwaiter(Nanos d, std::optional<std::weak_ptr<void>> o = std::nullopt)
        : duration(d), owner(std::move(o))
    {}

    Nanos duration;
    // When set, the task is never resumed once its owner is gone.
    std::optional<std::weak_ptr<void>> owner;
    std::shared_ptr<Shared> shared = std::make_shared<Shared>();
    std::shared_ptr<CancellationState> cancellation;
    std::uint64_t callbackId = 0;

    bool await_ready() const noexcept { return false; }
    template <typename P>
    void await_suspend(std::coroutine_handle<P> handle)
    {
        TaskContext &context = contextOf(handle);
        cancellation = context.cancellation;
        MainLoop *loop = context.loop;
        auto s = shared;
        auto resume = [owner = owner, handle] {
            if (!owner || !owner->expired())
                handle.resume();
        };
        WorkItem timer = loop->postDelayed(duration, [s, resume] {
            if (s->claim())
                resume();
        });
        callbackId = cancellation->addCallback([s, timer, loop, resume]() mutable {
            if (s->claim()) {
                s->cancelled = true;
                timer.cancel();
                loop->post(resume);
            }
        });
    }
    void await_resume()
    {
        cancellation->removeCallback(callbackId);
        if (shared->cancelled || cancellation->isCancelled())
            throw CancellationError();
    }
};

template <typename F>
struct WorkerAwaiter {
    using R = std::invoke_result_t<F, std::stop_token>;
    struct Shared : OnceResumer {
        std::stop_source stop;
        bool cancelled = false;
        std::exception_ptr exception;
        std::conditional_t<std::is_void_v<R>, bool, std::optional<R>> value{};
    };
    explicit WorkerAwaiter(F w) : work(std::move(w)) {}

    F work;
    std::shared_ptr<Shared> shared = std::make_shared<Shared>();
    std::shared_ptr<CancellationState> cancellation;
    std::uint64_t callbackId = 0;

    bool await_ready() const noexcept { return false; }
    template <typename P>
    void await_suspend(std::coroutine_handle<P> handle)
    {
        TaskContext &context = contextOf(handle);
        cancellation = context.cancellation;
        MainLoop *loop = context.loop;
        auto s = shared;
        callbackId = cancellation->addCallback([s, loop, handle] {
            // Claim before asking the worker to stop, so a worker that stops quickly cannot win.
            const bool claimed = s->claim();
            if (claimed)
                s->cancelled = true;
            s->stop.request_stop();
            if (claimed)
                loop->post([handle] { handle.resume(); });
        });
        if (s->cancelled)
            return;
        // A loop that is ending starts no more work: the task is not resumed, as nothing on it runs.
        loop->workers().start([s, loop, handle, work = std::move(work)](std::stop_token ending) mutable {
            const std::stop_callback forward(ending, [s] { s->stop.request_stop(); });
            try {
                if constexpr (std::is_void_v<R>)
                    work(s->stop.get_token());
                else
                    s->value.emplace(work(s->stop.get_token()));
            } catch (...) {
                s->exception = std::current_exception();
            }
            if (s->claim())
                loop->post([handle] { handle.resume(); });
        });
    }
    R await_resume()
    {
        cancellation->removeCallback(callbackId);
        if (shared->cancelled)
            throw CancellationError();
        if (shared->exception)
            std::rethrow_exception(shared->exception);
        if constexpr (!std::is_void_v<R>)
            return std::move(*shared->value);
    }
};

// Reads the task's context without suspending.
struct ContextPeek {
    TaskContext context;
    bool await_ready() const noexcept { return false; }
    template <typename P>
    bool await_suspend(std::coroutine_handle<P> handle)
    {
        context = contextOf(handle);
        return false;
    }
};

struct CheckCancellationAwaiter : ContextPeek {
    void await_resume() const
    {
        if (context.cancellation->isCancelled())
            throw CancellationError();
    }
};

struct IsCancelledAwaiter : ContextPeek {
    bool await_resume() const { return context.cancellation->isCancelled(); }
};

struct CurrentLoopAwaiter : ContextPeek {
    MainLoop &await_resume() const { return *context.loop; }
};

} // namespace detail

// Suspends the task for a duration on its loop's clock. Throws CancellationError when the task is
// cancelled before or during the sleep; a cancel wakes it at once.
inline detail::SleepAwaiter sleepFor(Nanos duration)
{
    return detail::SleepAwaiter(duration);
}

template <typename Rep, typename Period>
auto sleepFor(std::chrono::duration<Rep, Period> duration)
{
    return sleepFor(std::chrono::duration_cast<Nanos>(duration));
}

// The same for a task of an owner that may die first: once `owner` has expired, the task is never
// resumed (neither by the timer nor by a cancel).
inline detail::SleepAwaiter sleepFor(Nanos duration, std::weak_ptr<void> owner)
{
    return detail::SleepAwaiter(duration, std::move(owner));
}

// Runs blocking work on a worker thread and resumes the task on its loop with the result. The work
// receives a stop token; cancelling the task requests a stop and resumes the task at once with
// CancellationError (the worker's late result is dropped). The thread is one of the loop's
// workers(): the loop's end asks it to stop and waits for it.
// With g++ 12, name a capturing lambda before the co_await instead of passing a temporary: the
// compiler copies a temporary's captures into the frame bytewise and releases them twice.
template <typename F>
detail::WorkerAwaiter<F> runOnWorker(F work)
{
    return detail::WorkerAwaiter<F>(std::move(work));
}

// Throws CancellationError when the calling task has been cancelled.
inline detail::CheckCancellationAwaiter checkCancellation()
{
    return {};
}

// Whether the calling task has been cancelled, without throwing.
inline detail::IsCancelledAwaiter isCancelled()
{
    return {};
}

// The loop the calling task runs on.
inline detail::CurrentLoopAwaiter currentLoop()
{
    return {};
}

} // namespace zq::rt

#pragma once

// An unbounded channel from any number of producers (any thread) to one consumer task.
//
// Producers send(), then finish() or fail(). The consumer awaits next() inside a Task: it gets the
// values in the order each producer sent them, then std::nullopt once the channel is finished
// (values sent before finish() are still delivered), or the failure rethrown. The termination hook
// fires exactly once: when the channel is finished or failed, when the consumer cancels (or its
// task is cancelled while it waits: then inside that cancel, before the consumer runs again), or
// when the last handle goes away. It runs on the thread that caused it, outside the channel's lock.

#include "runtime/Task.h"

#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace zq::rt {

template <typename T>
class AsyncChannel {
    struct State {
        std::mutex mutex;
        std::deque<T> values;
        bool closed = false; // no more values accepted
        bool finishedByProducer = false;
        std::exception_ptr failure;
        std::function<void()> onTermination;
        bool terminationFired = false;

        // The consumer waiting in next(), if any.
        std::coroutine_handle<> waiter;
        MainLoop *waiterLoop = nullptr;

        ~State()
        {
            if (!terminationFired && onTermination)
                onTermination();
        }

        // Call with the lock held; returns the hook to run after unlocking.
        std::function<void()> takeTermination()
        {
            if (terminationFired)
                return {};
            terminationFired = true;
            return std::move(onTermination);
        }

        // Call with the lock held; wakes the waiting consumer on its loop.
        void wakeWaiter()
        {
            if (!waiter)
                return;
            auto handle = std::exchange(waiter, {});
            waiterLoop->post([handle] { handle.resume(); });
        }
    };

public:
    AsyncChannel() : m_state(std::make_shared<State>()) {}

    // Producer side. Returns false when the channel no longer takes values.
    bool send(T value) const
    {
        std::lock_guard lock(m_state->mutex);
        if (m_state->closed)
            return false;
        m_state->values.push_back(std::move(value));
        m_state->wakeWaiter();
        return true;
    }

    void finish() const { close(nullptr); }
    void fail(std::exception_ptr error) const { close(std::move(error)); }

    // Consumer side: stop listening. Values not yet taken are dropped.
    void cancel() const
    {
        std::function<void()> hook;
        {
            std::lock_guard lock(m_state->mutex);
            m_state->closed = true;
            m_state->values.clear();
            // A consumer waiting in next() wakes up and sees the end.
            m_state->wakeWaiter();
            hook = m_state->takeTermination();
        }
        if (hook)
            hook();
    }

    void setOnTermination(std::function<void()> hook) const
    {
        bool fireNow = false;
        {
            std::lock_guard lock(m_state->mutex);
            if (m_state->terminationFired)
                fireNow = true;
            else
                m_state->onTermination = std::move(hook);
        }
        if (fireNow && hook)
            hook();
    }

    bool isClosed() const
    {
        std::lock_guard lock(m_state->mutex);
        return m_state->closed;
    }

    // co_await channel.next() inside a task.
    struct NextAwaiter {
        explicit NextAwaiter(std::shared_ptr<State> s) : state(std::move(s)) {}

        std::shared_ptr<State> state;
        std::shared_ptr<CancellationState> cancellation;
        std::uint64_t callbackId = 0;
        bool cancelledWhileWaiting = false;

        bool await_ready() const noexcept { return false; }
        template <typename P>
        bool await_suspend(std::coroutine_handle<P> handle)
        {
            TaskContext &context = detail::contextOf(handle);
            cancellation = context.cancellation;
            if (cancellation->isCancelled())
                return false;
            {
                std::lock_guard lock(state->mutex);
                if (!state->values.empty() || state->closed)
                    return false;
                state->waiter = handle;
                state->waiterLoop = context.loop;
            }
            auto s = state;
            bool *flag = &cancelledWhileWaiting;
            callbackId = cancellation->addCallback([s, flag, handle] {
                {
                    std::lock_guard lock(s->mutex);
                    if (s->waiter == handle) // not yet woken by a value or the end
                        *flag = true;
                }
                // The producer hears of it now, not when the consumer next runs on its loop: at
                // quit that may be never, and a producer left running would post to a dead loop.
                AsyncChannel(s).cancel();
            });
            return true;
        }
        std::optional<T> await_resume()
        {
            if (cancellation)
                cancellation->removeCallback(callbackId);
            if (cancelledWhileWaiting || (cancellation && cancellation->isCancelled())) {
                AsyncChannel(state).cancel();
                throw CancellationError();
            }
            std::lock_guard lock(state->mutex);
            if (!state->values.empty()) {
                T value = std::move(state->values.front());
                state->values.pop_front();
                return value;
            }
            if (state->failure)
                std::rethrow_exception(state->failure);
            return std::nullopt;
        }
    };
    NextAwaiter next() const { return NextAwaiter(m_state); }

private:
    explicit AsyncChannel(std::shared_ptr<State> state) : m_state(std::move(state)) {}

    void close(std::exception_ptr error) const
    {
        std::function<void()> hook;
        {
            std::lock_guard lock(m_state->mutex);
            if (m_state->closed)
                return;
            m_state->closed = true;
            m_state->finishedByProducer = true;
            m_state->failure = std::move(error);
            m_state->wakeWaiter();
            hook = m_state->takeTermination();
        }
        if (hook)
            hook();
    }

    std::shared_ptr<State> m_state;
};

} // namespace zq::rt

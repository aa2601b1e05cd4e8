#pragma once

#include "audio/BoundedHALExecutor.h"
#include "runtime/Task.h"

#include <atomic>
#include <coroutine>
#include <exception>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>

namespace zq {

namespace detail {

// For an owner whose tasks may outlive it: once `alive` has expired the task is never resumed, and
// `inFlight` counts the call until its resumption is on the loop.
struct CallOwnerGuard {
    std::weak_ptr<int> alive;
    std::shared_ptr<std::atomic<int>> inFlight;
};

template <typename F, typename Late>
class BoundedCallAwaiter {
public:
    using R = std::invoke_result_t<F &>;
    using V = CallValue<R>;

    BoundedCallAwaiter(BoundedHALExecutor &executor, double timeoutSeconds, F operation, Late onLateResult,
                       std::optional<CallOwnerGuard> guard = std::nullopt)
        : m_executor(executor), m_timeoutSeconds(timeoutSeconds), m_operation(std::move(operation)),
          m_onLateResult(std::move(onLateResult)), m_guard(std::move(guard))
    {}

    bool await_ready() const noexcept { return false; }
    template <typename P>
    void await_suspend(std::coroutine_handle<P> handle)
    {
        rt::MainLoop *loop = rt::detail::contextOf(handle).loop;
        auto outcome = m_outcome;
        if (m_guard)
            m_guard->inFlight->fetch_add(1);
        // The loop runs the resumption after this function returns, even when the call is quick.
        m_executor.submit(
            m_timeoutSeconds, std::move(m_operation),
            [outcome, loop, handle, guard = m_guard](std::optional<V> value, std::exception_ptr error) {
                if (value)
                    outcome->value.emplace(std::move(*value));
                outcome->error = error;
                if (!guard) {
                    loop->post([handle] { handle.resume(); });
                    return;
                }
                loop->post([alive = guard->alive, handle] {
                    if (alive.lock())
                        handle.resume();
                });
                guard->inFlight->fetch_sub(1);
            },
            std::move(m_onLateResult));
    }
    R await_resume()
    {
        if (m_outcome->error)
            std::rethrow_exception(m_outcome->error);
        if constexpr (!std::is_void_v<R>)
            return std::move(*m_outcome->value);
    }

private:
    struct Outcome {
        std::optional<V> value;
        std::exception_ptr error;
    };
    BoundedHALExecutor &m_executor;
    double m_timeoutSeconds;
    F m_operation;
    Late m_onLateResult;
    std::optional<CallOwnerGuard> m_guard;
    std::shared_ptr<Outcome> m_outcome = std::make_shared<Outcome>();
};

} // namespace detail

template <typename F, typename Late>
auto BoundedHALExecutor::run(double timeoutSeconds, F operation, Late onLateResult)
{
    return detail::BoundedCallAwaiter<F, Late>(*this, timeoutSeconds, std::move(operation), std::move(onLateResult));
}

} // namespace zq

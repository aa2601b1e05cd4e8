#pragma once

#include "audio/AudioServerQueue.h"
#include "audio/HALOperationError.h"
#include "runtime/Executor.h"
#include "runtime/Task.h"

#include <QString>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

namespace zq {

namespace detail {

template <typename R>
using CallValue = std::conditional_t<std::is_void_v<R>, std::monostate, R>;

// Resolves one call exactly once: whoever takes the completion out under the lock calls it.
template <typename V>
struct CallGate {
    using Completion = std::function<void(std::optional<V>, std::exception_ptr)>;

    std::mutex mutex;
    Completion completion;
    rt::WorkItem deadline;

    Completion take()
    {
        std::lock_guard lock(mutex);
        deadline.cancel();
        return std::exchange(completion, nullptr);
    }
};

struct NoLateResultHandler {
    template <typename V>
    void operator()(V &&) const
    {}
};

} // namespace detail

// Runs every blocking call into the audio server on one private serial queue, under a deadline.
//
// A call that misses its deadline fails with HALOperationError::timedOut at once; its queue is
// then taken as wedged and replaced by a fresh one labelled "<label>.<generation + 1>", so later
// calls are not stuck behind it. The late call still finishes on the old queue (with whatever was
// queued behind it), which the executor keeps until its thread has ended; its result goes to the call's late-result
// handler, if any, on that queue's thread, and is then destroyed there together with the operation. Anything the
// operation opened must therefore be closed by that handler or by the destructors of its result and its captures.
//
// Thread-safe. Deadlines run on `timeouts` (a process-wide utility queue by default; a virtual
// loop in tests), which must outlive the executor's pending calls.
class BoundedHALExecutor {
public:
    explicit BoundedHALExecutor(QString label, rt::Executor *timeouts = nullptr);
    ~BoundedHALExecutor();
    BoundedHALExecutor(const BoundedHALExecutor &) = delete;
    BoundedHALExecutor &operator=(const BoundedHALExecutor &) = delete;

    // Awaited inside an rt::Task: runs `operation` on the current queue and resumes the task on its
    // loop with the value or the operation's exception, or with HALOperationError after
    // `timeoutSeconds` (negative or NaN counts as 0). The task's cancellation does not cut it short.
    template <typename F, typename Late = detail::NoLateResultHandler>
    auto run(double timeoutSeconds, F operation, Late onLateResult = {});

    // The same with a callback instead of a task: `completion(value, error)` runs exactly once,
    // on the queue's thread with the outcome or on `timeouts` with HALOperationError.
    template <typename F, typename Completion, typename Late = detail::NoLateResultHandler>
    void submit(double timeoutSeconds, F operation, Completion completion, Late onLateResult = {});

    // Fire and forget on the current queue: no deadline, no result.
    void enqueue(std::function<void()> work);

    // For the quit: lets every queue, the current one and the abandoned ones, run what was posted
    // and waits for their threads to end (the executor's end waits the same way). Later calls
    // time out. A quit bounds the wait with rt::QuitDeadline.
    void endQueues();

    const QString &label() const;
    std::uint64_t generation() const;
    // "<label>.<generation>".
    QString currentQueueLabel() const;

private:
    struct Core;
    std::pair<std::shared_ptr<AudioServerQueue>, std::uint64_t> currentQueue() const;
    static void abandonQueue(const std::weak_ptr<Core> &core, std::uint64_t generation);

    std::shared_ptr<Core> m_core;
    rt::Executor *m_timeouts;
};

// The process's one executor, "io.quorvane.zepaquarn.hal"; every caller passes 6.0 s.
BoundedHALExecutor &sharedHALExecutor();
inline constexpr double kAudioServerDeadlineSeconds = 6.0;

template <typename F, typename Completion, typename Late>
void BoundedHALExecutor::submit(double timeoutSeconds, F operation, Completion completion, Late onLateResult)
{
    using R = std::invoke_result_t<F &>;
    using V = detail::CallValue<R>;
    auto gate = std::make_shared<detail::CallGate<V>>();
    gate->completion = std::move(completion);
    auto [queue, generation] = currentQueue();

    queue->post([gate, operation = std::move(operation), onLateResult = std::move(onLateResult)]() mutable {
        std::optional<V> value;
        std::exception_ptr error;
        try {
            if constexpr (std::is_void_v<R>) {
                operation();
                value.emplace();
            } else {
                value.emplace(operation());
            }
        } catch (...) {
            error = std::current_exception();
        }
        if (auto resume = gate->take()) {
            resume(std::move(value), error);
            return;
        }
        // Nobody waits any more: hand what the late call made to whoever can close it.
        if (value) {
            if constexpr (!std::is_void_v<R>)
                onLateResult(std::move(*value));
        }
    });

    const double seconds = timeoutSeconds > 0 ? timeoutSeconds : 0.0; // NaN and negatives count as 0
    std::weak_ptr<Core> core = m_core;
    rt::WorkItem deadline = m_timeouts->postDelayed(rt::seconds(seconds), [gate, core, generation = generation] {
        auto resume = gate->take();
        if (!resume)
            return;
        abandonQueue(core, generation);
        resume(std::nullopt, std::make_exception_ptr(HALOperationError::timedOut()));
    });
    std::lock_guard lock(gate->mutex);
    if (gate->completion)
        gate->deadline = deadline;
    else
        deadline.cancel();
}

} // namespace zq

// run() is defined with its awaiter; included last so that either header can come first.
#include "audio/BoundedCallAwaiter.h"

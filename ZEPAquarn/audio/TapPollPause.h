#pragma once

#include "runtime/Task.h"

#include <coroutine>
#include <functional>
#include <memory>

namespace zq::detail {

// One pause of the first-buffer wait: like rt::sleepFor(duration, owner), but a wake-up that the
// pause hands to `arm` ends it early, so a wait that polls every 10 ms notices the session's first
// buffer when it arrives rather than up to a poll later. The wake-up may be called from any thread,
// more than once, or never; the pause resumes exactly once, on its task's loop.
class TapPollPause {
public:
    using Wake = std::function<void()>;

    TapPollPause(rt::Nanos duration, std::weak_ptr<void> owner, std::function<void(Wake)> arm)
        : m_duration(duration), m_owner(std::move(owner)), m_arm(std::move(arm))
    {}

    bool await_ready() const noexcept { return false; }
    template <typename P>
    void await_suspend(std::coroutine_handle<P> handle)
    {
        rt::TaskContext &context = rt::detail::contextOf(handle);
        m_cancellation = context.cancellation;
        rt::MainLoop *loop = context.loop;
        auto shared = m_shared;
        auto resume = [owner = m_owner, handle] {
            if (!owner.expired())
                handle.resume();
        };
        rt::WorkItem timer = loop->postDelayed(m_duration, [shared, resume] {
            if (shared->claim())
                resume();
        });
        m_callbackId = m_cancellation->addCallback([shared, timer, loop, resume]() mutable {
            if (shared->claim()) {
                shared->cancelled = true;
                timer.cancel();
                loop->post(resume);
            }
        });
        if (m_arm)
            m_arm([shared, timer, loop, resume]() mutable {
                if (shared->claim()) {
                    timer.cancel();
                    loop->post(resume);
                }
            });
    }
    void await_resume()
    {
        m_cancellation->removeCallback(m_callbackId);
        if (m_shared->cancelled || m_cancellation->isCancelled())
            throw rt::CancellationError();
    }

private:
    struct Shared : rt::detail::OnceResumer {
        bool cancelled = false;
    };

    rt::Nanos m_duration;
    std::weak_ptr<void> m_owner;
    std::function<void(Wake)> m_arm;
    std::shared_ptr<Shared> m_shared = std::make_shared<Shared>();
    std::shared_ptr<rt::CancellationState> m_cancellation;
    std::uint64_t m_callbackId = 0;
};

} // namespace zq::detail

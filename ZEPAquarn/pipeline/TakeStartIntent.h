#pragma once

#include <mutex>

namespace zq {

// Whether the take a pending audio start belongs to is still wanted. Shared (by shared_ptr) between
// the controller, which withdraws it when the user finishes or cancels early, and the audio
// engine's start, which consumes it when the take begins. Created active; never active again once
// cleared. Safe from any thread; the lock is held for the one read or write only.
class TakeStartIntent {
public:
    TakeStartIntent() = default;
    TakeStartIntent(const TakeStartIntent &) = delete;
    TakeStartIntent &operator=(const TakeStartIntent &) = delete;

    bool isActive() const
    {
        std::lock_guard lock(m_lock);
        return m_active;
    }

    // The controller no longer wants the take.
    void withdraw()
    {
        std::lock_guard lock(m_lock);
        m_active = false;
    }

    // The engine's final claim: reads and clears in one locked section. True when the take may
    // begin; false when it was withdrawn (or already consumed).
    bool consume()
    {
        std::lock_guard lock(m_lock);
        const bool wasActive = m_active;
        m_active = false;
        return wasActive;
    }

private:
    mutable std::mutex m_lock;
    bool m_active = true;
};

} // namespace zq

#include "runtime/QuitDeadline.h"

#include "runtime/Log.h"

#include <cstdio>

#include <unistd.h>

namespace zq::rt {

QuitDeadline::QuitDeadline(std::chrono::milliseconds wait, int status)
{
    std::unique_lock started(m_mutex);
    m_watch = std::thread([this, wait, status] {
        std::unique_lock lock(m_mutex);
        m_watching = true;
        m_met.notify_all();
        if (m_met.wait_for(lock, wait, [this] { return m_done; }))
            return;
        qCWarning(lcApp).noquote()
            << QStringLiteral("app: threads still running %1 ms into the quit; ending without them").arg(wait.count());
        std::fflush(nullptr);
        ::_exit(status);
    });
    // The quit goes on once the watch waits: on a busy machine its thread may start late, and the
    // deadline counts from here, not from then.
    m_met.wait(started, [this] { return m_watching; });
}

QuitDeadline::~QuitDeadline()
{
    {
        std::lock_guard lock(m_mutex);
        m_done = true;
    }
    m_met.notify_all();
    m_watch.join();
}

} // namespace zq::rt

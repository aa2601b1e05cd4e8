#include "runtime/QuitDeadline.h"

#include "runtime/Log.h"

#include <cstdio>
#include <utility>

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
        m_lastStepTaken = true;
        const std::function<void()> last = std::exchange(m_lastStep, {});
        lock.unlock();
        if (last)
            last();
        std::fflush(nullptr);
        ::_exit(status);
    });
    // The quit goes on once the watch waits: on a busy machine its thread may start late, and the
    // deadline counts from here, not from then.
    m_met.wait(started, [this] { return m_watching; });
}

void QuitDeadline::setLastStep(std::function<void()> step)
{
    std::lock_guard lock(m_mutex);
    m_lastStep = std::move(step);
}

void QuitDeadline::runLastStep()
{
    std::unique_lock lock(m_mutex);
    if (m_lastStepTaken) {
        // The watch runs it, then ends the process: nothing here may go on meanwhile.
        m_met.wait(lock, [] { return false; });
    }
    const std::function<void()> last = std::exchange(m_lastStep, {});
    lock.unlock();
    if (last)
        last();
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

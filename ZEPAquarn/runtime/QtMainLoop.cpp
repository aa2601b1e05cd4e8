#include "runtime/QtMainLoop.h"

#include <QMetaObject>
#include <QTimer>

#include <ctime>

namespace zq::rt {

QtMainLoop::QtMainLoop() : m_context(new QObject), m_thread(std::this_thread::get_id()) {}

QtMainLoop::~QtMainLoop()
{
    m_workers.stopAll();
    delete m_context;
}

void QtMainLoop::post(Function fn)
{
    // Queued invocations on one object run in the order they were posted, from any thread.
    QMetaObject::invokeMethod(m_context, std::move(fn), Qt::QueuedConnection);
}

WorkItem QtMainLoop::postDelayed(Nanos delay, Function fn)
{
    WorkItem item = WorkItem::make();
    if (isCurrent()) {
        startTimer(delay, item, std::move(fn));
    } else {
        // Timers belong to the main thread; the hop costs one turn of the loop.
        post([this, delay, item, fn = std::move(fn)]() mutable { startTimer(delay, item, std::move(fn)); });
    }
    return item;
}

void QtMainLoop::startTimer(Nanos delay, WorkItem item, Function fn)
{
    // Round up: a timer must never fire before its time.
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(delay < Nanos::zero() ? Nanos::zero() : delay);
    QTimer::singleShot(ms, Qt::PreciseTimer, m_context, [item, fn = std::move(fn)] {
        if (!item.isCancelled())
            fn();
    });
}

Nanos QtMainLoop::now() const
{
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    return std::chrono::seconds(ts.tv_sec) + Nanos(ts.tv_nsec);
}

bool QtMainLoop::isCurrent() const
{
    return std::this_thread::get_id() == m_thread;
}

} // namespace zq::rt

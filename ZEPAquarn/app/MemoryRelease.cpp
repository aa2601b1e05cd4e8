#include "app/MemoryRelease.h"

#include <QEvent>
#include <QPixmapCache>
#include <QWidget>

#include <malloc.h>

#include <algorithm>

namespace zq {

MemoryRelease::MemoryRelease(rt::MainLoop &loop, std::function<void()> trim, QObject *parent)
    : QObject(parent), m_loop(loop), m_trim(std::move(trim))
{}

void MemoryRelease::releaseWhileHidden(QWidget &window, rt::Nanos kept, std::function<void()> release)
{
    // Windows built anew replace the ones let go.
    std::erase_if(m_watches, [](const Watch &watch) { return !watch.window; });
    m_watches.push_back({&window, kept, std::move(release), {}});
    window.installEventFilter(this);
}

bool MemoryRelease::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::Hide && type != QEvent::Show)
        return QObject::eventFilter(watched, event);
    for (Watch &watch : m_watches) {
        if (watch.window != watched)
            continue;
        watch.wait.cancel();
        if (type == QEvent::Hide)
            watch.wait = m_loop.postDelayed(watch.kept, m_lifetime.guard([release = watch.release] { release(); }));
    }
    return QObject::eventFilter(watched, event);
}

void MemoryRelease::trimAfter(rt::Nanos kept)
{
    m_trimWait.cancel();
    m_trimWait = m_loop.postDelayed(kept, m_lifetime.guard([this] { trim(); }));
}

void MemoryRelease::cancelTrim()
{
    m_trimWait.cancel();
}

void MemoryRelease::releaseWindowMemory()
{
    QPixmapCache::clear();
    trim();
}

void MemoryRelease::trim()
{
    if (m_trim)
        m_trim();
    else
        ::malloc_trim(0);
}

} // namespace zq

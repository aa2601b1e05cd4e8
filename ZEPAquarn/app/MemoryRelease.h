#pragma once

#include "runtime/Executor.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <vector>

class QWidget;

namespace zq {

namespace rt {
class MainLoop;
}

// Gives back what the application holds only while it is in use: windows that stayed hidden a while,
// what they drew, and the allocator's free memory. The waits run only while something is hidden, so
// an idle application sleeps. Main thread only.
class MemoryRelease : public QObject {
    Q_OBJECT
public:
    // `trim` hands the allocator's free memory back; none: the C library's trim.
    explicit MemoryRelease(rt::MainLoop &loop, std::function<void()> trim = {}, QObject *parent = nullptr);

    // Runs `release` once `window` has stayed hidden for `kept`; showing it again ends the wait.
    void releaseWhileHidden(QWidget &window, rt::Nanos kept, std::function<void()> release);
    // Gives the allocator's free memory back after `kept`, unless asked again or cancelled first.
    void trimAfter(rt::Nanos kept);
    void cancelTrim();
    // What a window that was let go drew (the toolkit's pixmap cache) and held, given back now.
    void releaseWindowMemory();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Watch {
        QPointer<QWidget> window;
        rt::Nanos kept;
        std::function<void()> release;
        rt::WorkItem wait;
    };

    void trim();

    rt::MainLoop &m_loop;
    std::function<void()> m_trim;
    std::vector<Watch> m_watches;
    rt::WorkItem m_trimWait;
    rt::Lifetime m_lifetime;
};

} // namespace zq

#pragma once

#include "runtime/Executor.h"

#include <QObject>
#include <QPointer>

#include <thread>

namespace zq::rt {

// The application's main loop over Qt's event loop. Construct it on the GUI thread.
// Items still pending when it is destroyed never run.
class QtMainLoop final : public MainLoop {
public:
    QtMainLoop();
    ~QtMainLoop() override;

    void post(Function fn) override;
    WorkItem postDelayed(Nanos delay, Function fn) override;
    Nanos now() const override;
    bool isCurrent() const override;

private:
    void startTimer(Nanos delay, WorkItem item, Function fn);

    QObject *m_context;
    std::thread::id m_thread;
};

} // namespace zq::rt

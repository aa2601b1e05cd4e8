#pragma once

#include "support/ChildProcess.h"

#include <QString>
#include <QTemporaryDir>

#include <chrono>
#include <optional>

namespace zq::test {

// A compositing manager (xcompmgr, plain client-side compositing: translucent windows blend, it
// draws no shadows of its own) on an X display. start() returns once it holds the display's
// compositing-manager selection, stop() once it has let go of it, so what a window decides about
// translucency afterwards is settled. Use from one thread.
class CompositingManager {
public:
    CompositingManager() = default;
    ~CompositingManager();
    CompositingManager(const CompositingManager &) = delete;
    CompositingManager &operator=(const CompositingManager &) = delete;

    bool start(const QString &display, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void stop(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    QString errorString() const { return m_error; }

    // Whether any compositing manager holds the selection of `display`'s default screen.
    static bool isRunningOn(const QString &display);

private:
    QTemporaryDir m_log;
    std::optional<ChildProcess> m_process;
    QString m_display;
    QString m_error;
};

} // namespace zq::test

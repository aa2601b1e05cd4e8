#pragma once

#include "support/ChildProcess.h"

#include <QString>
#include <QTemporaryDir>

#include <chrono>
#include <memory>

namespace zq::test {

// A private X server (Xvfb, 1280x800x24, no TCP) on a display it picks itself, so parallel test
// processes never collide. It changes no environment variable: callers pass display() on.
// Use from one thread; the destructor kills the server's process group.
class XvfbServer {
public:
    XvfbServer() = default;
    ~XvfbServer();
    XvfbServer(const XvfbServer &) = delete;
    XvfbServer &operator=(const XvfbServer &) = delete;

    // Starts the server and waits until it accepts clients. Returns false with errorString() set.
    bool start(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void stop();

    bool isRunning() const { return m_process.isRunning(); }
    // ":N" once started, empty before.
    QString display() const { return m_display; }
    QString errorString() const { return m_error; }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    ChildProcess m_process;
    QString m_display;
    QString m_error;
};

} // namespace zq::test

#pragma once

#include "support/ChildProcess.h"

#include <QString>
#include <QTemporaryDir>

#include <chrono>
#include <memory>
#include <optional>

namespace zq::test {

// A private X server (Xvfb, 1280x800x24, no TCP, never reset when its last client leaves) on a
// display it picks itself, so parallel test processes never collide. It changes no environment
// variable: callers pass display() on. Use from one thread; the destructor kills the server's
// process group.
class XvfbServer {
public:
    XvfbServer() = default;
    ~XvfbServer();
    XvfbServer(const XvfbServer &) = delete;
    XvfbServer &operator=(const XvfbServer &) = delete;

    // How the display number is chosen. The lowest free number goes, once this server stops, to the
    // next server started anywhere on the machine; a test that still reaches for the display after
    // stop() takes a random high number instead, which nothing else picks.
    enum class DisplayNumber { lowestFree, rarelyReused };

    // Starts the server and waits until it accepts clients. Returns false with errorString() set.
    bool start(std::chrono::milliseconds timeout = std::chrono::seconds(10),
               DisplayNumber choice = DisplayNumber::lowestFree);
    void stop();

    bool isRunning() const { return m_process && m_process->isRunning(); }
    // ":N" once started, empty before.
    QString display() const { return m_display; }
    QString errorString() const { return m_error; }

private:
    bool startOn(std::optional<int> number, const QDeadlineTimer &deadline, std::chrono::milliseconds timeout);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::optional<ChildProcess> m_process; // one per attempt: a child process starts once
    QString m_display;
    QString m_error;
};

} // namespace zq::test

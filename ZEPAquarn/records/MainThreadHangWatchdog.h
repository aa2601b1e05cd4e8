#pragma once

#include "runtime/Clocks.h"
#include "runtime/Executor.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace zq {

class DiagnosticJournal;

// Pings the main thread every 2 s from its own queue and journals stalls: 4 unanswered pings
// (about 8 s) is a stall, an answer after that a recovery, a quit signal left waiting by a stalled
// main thread ends the process as a quit would (quitMissedThreshold), and 15 unanswered pings (about
// 30 s) is fatal: the stall is journalled, the application is relaunched when it had been up for at least
// 120 s, and the process ends abnormally (so the next start sees an unclean run and a crash report).
//
// start()/stop() may be called from any thread; ticks run on `queue`; acknowledgements on the
// main loop. The journal must outlive the watchdog. Stall events are written straight into the
// journal from the watchdog's queue, so they reach the disk while the main thread is blocked.
class MainThreadHangWatchdog {
public:
    static constexpr rt::Nanos interval = std::chrono::seconds(2);
    static constexpr quint64 missedPingThreshold = 4;
    static constexpr quint64 fatalMissedThreshold = 15;
    static constexpr rt::Nanos minimumUptimeForRelaunch = std::chrono::seconds(120);

    // What a fatal stall does besides journalling, and how a quit that a stall keeps waiting is seen
    // and ended. Tests replace them.
    struct Hooks {
        // Starts a new instance of the application. Default: relaunchApplication().
        std::function<void()> relaunch;
        // Ends this process. Default: std::abort(), so the crash handler writes a report.
        std::function<void()> terminate;
        // Whether a quit signal was sent and the main thread may not have taken it. Default:
        // rt::UnixSignals::quitAsked().
        std::function<bool()> quitWaiting;
        // Ends this process as a quit that ran out of time does. Default: _exit(0).
        std::function<void()> endQuit;
    };
    // A quit signal that was sent while this many pings go unanswered (the main thread has not answered
    // for at least 4 s, near the quit's own bound) ends the process, with the journal's session ended
    // as a quit ends it: a main thread stuck in a call that does not return never takes the signal, and
    // the quit would never start.
    static constexpr quint64 quitMissedThreshold = 3;

    // `queue` runs the timer; `clocks` gives the uptime, read now as the watchdog's launch time.
    MainThreadHangWatchdog(DiagnosticJournal &journal, rt::Executor &queue, const rt::Clocks &clocks, Hooks hooks = {});
    ~MainThreadHangWatchdog();
    MainThreadHangWatchdog(const MainThreadHangWatchdog &) = delete;
    MainThreadHangWatchdog &operator=(const MainThreadHangWatchdog &) = delete;

    // Starts the 2 s timer that pings `mainThread`. A second start while running does nothing.
    void start(rt::MainLoop &mainThread);
    // Stops the timer; counters are kept, pings already sent may still be answered.
    void stop();
    bool isRunning() const;

    // The main thread's answer to ping `ping`.
    void acknowledge(quint64 ping);

    // Starts the same executable with the same arguments 3 s from now, from a shell that is no child
    // of this process, so that this process has ended (and released the single-instance lock) by then.
    static void relaunchApplication();
    // The command relaunchApplication() runs, for `executable` and `arguments`.
    static QStringList relaunchCommand(const QString &executable, const QStringList &arguments);

private:
    struct State;
    std::shared_ptr<State> m_state;
};

} // namespace zq

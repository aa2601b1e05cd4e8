#pragma once

#include "records/DiagnosticEvent.h"
#include "records/DiagnosticJournal.h"
#include "records/FileManagerReveal.h"
#include "records/MainThreadHangWatchdog.h"

#include "runtime/Clocks.h"
#include "runtime/Executor.h"
#include "runtime/SerialQueue.h"

#include <QMetaObject>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>

namespace zq {

// The diagnostics facade: the journal with its writer queue, the main-thread hang watchdog and the
// crash-report scan. The application uses the one shared() instance; tests make their own with
// injected folders, clocks and loops.
//
// record() may be called from any thread (the audio thread included): it queues the line on the
// writer queue "io.quorvane.zepaquarn.diagnostics-writer" and returns at once, never failing its
// caller. start(), stop() and revealInFileManager() belong to the main thread.
class Diagnostics {
public:
    struct Options {
        // The log folder: journal, run state, README and copied crash reports.
        QString logDirectory;
        // Where the crash handler writes its reports; scanned at every start.
        QString crashReportDirectory;
        QString appVersion;
        QString build;
        // System clocks when null.
        const rt::Clocks *clocks = nullptr;
        // The watchdog's timer queue; its own "io.quorvane.zepaquarn.hang-watchdog" queue when null.
        rt::Executor *watchdogQueue = nullptr;
        // The loop the watchdog pings; a Qt main loop made by start() (on the main thread) when null.
        rt::MainLoop *mainLoop = nullptr;
        MainThreadHangWatchdog::Hooks watchdogHooks;
        // Installs the process-wide fatal-signal handler at start().
        bool installCrashHandler = false;
        // Shows a file in the file manager; revealInFileManager() of FileManagerReveal.h when empty.
        RevealFile revealFile;
    };

    // The application's instance: folders from the environment, the build's version, crash
    // handler on. Made on first use by any thread and never destroyed.
    static Diagnostics &shared();
    static Options defaultOptions();

    explicit Diagnostics(Options options);
    ~Diagnostics();
    Diagnostics(const Diagnostics &) = delete;
    Diagnostics &operator=(const Diagnostics &) = delete;

    // Opens the journal session, starts the watchdog, queues the crash-report scan and ends the
    // session when the application quits, after everything else done at quit (a kill during that
    // work shows as an unclean end at the next start). Once; a second call does nothing.
    void start();
    // Stops the watchdog and, after everything already recorded, ends the session. Does nothing
    // unless started.
    void stop();
    bool isStarted() const;

    void record(DiagnosticEvent event, const DiagnosticMetadata &metadata = {}) noexcept;

    // Waits until every record submitted so far is written, then shows the journal file; `done`
    // hears whether anything could show it.
    void revealInFileManager(RevealDone done = {});
    // Blocks until every record submitted so far has been written. Not on the writer queue.
    void waitUntilWritten();

    // Copies the newest (at most five) relevant crash reports into the log folder, once each, and
    // journals each copy. Runs on the writer queue at start; blocking.
    void scanCrashReports();
    static bool isRelevantCrashReport(const QString &fileName, const QString &contents);
    static constexpr int maximumCopiedReports = 5;
    // A report is a page of text and a backtrace; anything larger is not one and is not copied.
    static constexpr qint64 maximumCrashReportBytes = qint64(1) << 20;

    DiagnosticJournal &journal() { return m_journal; }
    MainThreadHangWatchdog &watchdog() { return m_watchdog; }
    const Options &options() const { return m_options; }

private:
    void runOnWriterQueue(const std::function<void()> &fn);

    const Options m_options;
    std::unique_ptr<rt::Clocks> m_ownClocks;
    std::unique_ptr<rt::MainLoop> m_ownMainLoop;
    DiagnosticJournal m_journal;
    std::unique_ptr<rt::SerialQueue> m_ownWatchdogQueue;
    MainThreadHangWatchdog m_watchdog;
    rt::SerialQueue m_writerQueue;

    mutable std::mutex m_mutex;
    bool m_started = false;
    std::unique_ptr<QObject> m_terminationContext;
    QMetaObject::Connection m_terminationObserver;
};

} // namespace zq

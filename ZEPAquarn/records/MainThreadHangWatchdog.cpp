#include "records/MainThreadHangWatchdog.h"

#include "records/DiagnosticJournal.h"
#include "runtime/BoundedCall.h"
#include "runtime/Log.h"
#include "runtime/UnixSignals.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include <unistd.h>

namespace zq {

namespace {

// How long a quit the watchdog ends waits for the journal's last line: milliseconds on a working disk.
constexpr std::chrono::seconds kJournalWait{1};

} // namespace

struct MainThreadHangWatchdog::State : std::enable_shared_from_this<State> {
    State(DiagnosticJournal &journal, rt::Executor &queue, const rt::Clocks &clocks, Hooks hooks)
        : journal(journal), queue(queue), clocks(clocks), hooks(std::move(hooks)), launchedAt(clocks.uptimeNow())
    {}

    DiagnosticJournal &journal;
    rt::Executor &queue;
    const rt::Clocks &clocks;
    const Hooks hooks;
    const rt::Nanos launchedAt;

    mutable std::mutex mutex;
    rt::WorkItem timer;
    rt::MainLoop *mainThread = nullptr;
    quint64 generation = 0;
    rt::Nanos nextDue{0};
    quint64 issued = 0;
    quint64 acknowledged = 0;
    bool isStalled = false;

    // Under `mutex`. Keeps a fixed cadence from the first fire rather than drifting by each tick's cost.
    void scheduleLocked()
    {
        nextDue += interval;
        const rt::Nanos delay = std::max(rt::Nanos::zero(), nextDue - queue.now());
        const quint64 forGeneration = generation;
        timer = queue.postDelayed(delay, [weak = weak_from_this(), forGeneration] {
            if (auto self = weak.lock())
                self->tick(forGeneration);
        });
    }

    void tick(quint64 forGeneration);
};

void MainThreadHangWatchdog::State::tick(quint64 forGeneration)
{
    quint64 ping = 0;
    quint64 missed = 0;
    std::optional<DiagnosticEvent> event;
    rt::MainLoop *target = nullptr;
    {
        std::lock_guard lock(mutex);
        if (forGeneration != generation || !timer.isValid())
            return;
        ping = ++issued;
        missed = issued >= acknowledged ? issued - acknowledged : 0;
        if (!isStalled && missed >= missedPingThreshold) {
            isStalled = true;
            event = DiagnosticEvent::mainThreadStallDetected;
        } else if (isStalled && missed < missedPingThreshold) {
            isStalled = false;
            event = DiagnosticEvent::mainThreadRecovered;
        }
        target = mainThread;
        scheduleLocked();
    }

    if (target) {
        target->post([weak = weak_from_this(), ping] {
            if (auto self = weak.lock()) {
                std::lock_guard lock(self->mutex);
                self->acknowledged = std::max(self->acknowledged, ping);
            }
        });
    }

    if (event == DiagnosticEvent::mainThreadStallDetected) {
        qCWarning(lcDiagnostics) << "watchdog: main thread stalled," << missed << "pings unanswered";
        journal.recordIfActive(*event, {{QStringLiteral("missed_pings"), QString::number(missed)},
                                        {QStringLiteral("minimum_stall_ms"), QStringLiteral("8000")}});
    } else if (event == DiagnosticEvent::mainThreadRecovered) {
        qCInfo(lcDiagnostics) << "watchdog: main thread answers again";
        journal.recordIfActive(*event, {});
    }

    if (missed >= quitMissedThreshold && (hooks.quitWaiting ? hooks.quitWaiting() : rt::UnixSignals::quitAsked())) {
        qCWarning(lcDiagnostics) << "watchdog: a quit waits for a main thread that has not answered" << missed
                                 << "pings — ending the process";
        // The run ends as a quit, not as a crash the next start would report; a state folder that
        // stopped answering (the stall's cause, perhaps) does not hold the end.
        rt::callWithin(kJournalWait, [&journal = journal] { journal.endSession(); });
        if (hooks.endQuit) {
            hooks.endQuit();
        } else {
            std::fflush(nullptr);
            ::_exit(0);
        }
        // Only a test's hook returns: behave as if the process had ended.
        std::lock_guard lock(mutex);
        timer.cancel();
        timer = {};
        return;
    }

    if (missed < fatalMissedThreshold)
        return;

    const bool relaunch = clocks.uptimeNow() - launchedAt >= minimumUptimeForRelaunch;
    qCCritical(lcDiagnostics) << "watchdog: main thread stalled for" << missed << "pings — ending the process"
                              << (relaunch ? "and relaunching" : "without relaunch");
    journal.recordIfActive(DiagnosticEvent::mainThreadStallFatal,
                           {{QStringLiteral("missed_pings"), QString::number(missed)},
                            {QStringLiteral("relaunch"), relaunch ? QStringLiteral("true") : QStringLiteral("false")}});
    if (relaunch) {
        if (hooks.relaunch)
            hooks.relaunch();
        else
            relaunchApplication();
    }
    if (hooks.terminate)
        hooks.terminate();
    else
        std::abort();

    // Only a test's terminate hook returns: behave as if the process had ended.
    std::lock_guard lock(mutex);
    timer.cancel();
    timer = {};
}

MainThreadHangWatchdog::MainThreadHangWatchdog(DiagnosticJournal &journal, rt::Executor &queue,
                                               const rt::Clocks &clocks, Hooks hooks)
    : m_state(std::make_shared<State>(journal, queue, clocks, std::move(hooks)))
{}

MainThreadHangWatchdog::~MainThreadHangWatchdog()
{
    stop();
}

void MainThreadHangWatchdog::start(rt::MainLoop &mainThread)
{
    std::lock_guard lock(m_state->mutex);
    if (m_state->timer.isValid())
        return;
    m_state->mainThread = &mainThread;
    ++m_state->generation;
    m_state->nextDue = m_state->queue.now();
    m_state->scheduleLocked();
}

void MainThreadHangWatchdog::stop()
{
    rt::WorkItem timer;
    {
        std::lock_guard lock(m_state->mutex);
        timer = std::exchange(m_state->timer, rt::WorkItem());
        ++m_state->generation;
    }
    timer.cancel();
}

bool MainThreadHangWatchdog::isRunning() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->timer.isValid();
}

void MainThreadHangWatchdog::acknowledge(quint64 ping)
{
    std::lock_guard lock(m_state->mutex);
    m_state->acknowledged = std::max(m_state->acknowledged, ping);
}

QStringList MainThreadHangWatchdog::relaunchCommand(const QString &executable, const QStringList &arguments)
{
    // The executable and arguments travel as positional parameters, never through the shell's parser.
    return QStringList{QStringLiteral("-c"), QStringLiteral("sleep 3; exec \"$0\" \"$@\""), executable} + arguments;
}

void MainThreadHangWatchdog::relaunchApplication()
{
    // Resolved now: in the shell, /proc/self/exe would name the shell.
    const QString executable = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    if (executable.isEmpty()) {
        qCWarning(lcDiagnostics) << "watchdog: cannot find the running executable — no relaunch";
        return;
    }
    QStringList arguments;
    QFile commandLine(QStringLiteral("/proc/self/cmdline"));
    if (commandLine.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> parts = commandLine.readAll().split('\0');
        // The list ends with an empty part after the last terminator; the first part is argv[0].
        for (qsizetype i = 1; i + 1 < parts.size(); ++i)
            arguments << QFile::decodeName(parts[i]);
    }
    if (!QProcess::startDetached(QStringLiteral("/bin/sh"), relaunchCommand(executable, arguments)))
        qCWarning(lcDiagnostics) << "watchdog: relaunch could not be started";
}

} // namespace zq

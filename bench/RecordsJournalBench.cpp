// Cost of one journal line as the live file grows (each line is flushed to disk and the run state
// rewritten atomically), the cost of a rotation, and the caller's share of Diagnostics::record(),
// alone and while the writer works through a take's records.
#include "records/DiagnosticJournal.h"
#include "records/Diagnostics.h"
#include "runtime/Clocks.h"

#include "support/VirtualLoop.h"

#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

namespace {

using namespace zq;

const DiagnosticMetadata metadata = {{QStringLiteral("attempt"), QStringLiteral("1")},
                                     {QStringLiteral("attempt_span_ms"), QStringLiteral("412")},
                                     {QStringLiteral("device"), QStringLiteral("usb")}};

// Arg: bytes already in the live file (kept below the rotation bound).
void journalAppend(benchmark::State &state)
{
    QTemporaryDir dir;
    rt::SystemClocks clocks;
    DiagnosticJournal journal(dir.path(), clocks, QStringLiteral("BENCH"), QStringLiteral("1"), QStringLiteral("1"));
    journal.beginSession();
    const qint64 prefill = state.range(0);
    for (auto _ : state) {
        state.PauseTiming();
        QFile live(journal.currentLogPath());
        if (live.size() < prefill || live.size() > prefill + 64 * 1024) {
            live.open(QIODevice::WriteOnly | QIODevice::Truncate);
            live.write(QByteArray(prefill, 'x'));
            live.close();
        }
        state.ResumeTiming();
        journal.recordIfActive(DiagnosticEvent::audioStartCompleted, metadata);
    }
}
// A fixed count: each line waits for the disk, and the figure settles long before the default time.
BENCHMARK(journalAppend)->Arg(0)->Arg(128 * 1024)->Arg(448 * 1024)->Iterations(300)->Unit(benchmark::kMicrosecond);

// Every iteration rotates a full chain of four files.
void journalAppendWithRotation(benchmark::State &state)
{
    QTemporaryDir dir;
    rt::SystemClocks clocks;
    DiagnosticJournal journal(dir.path(), clocks, QStringLiteral("BENCH"), QStringLiteral("1"), QStringLiteral("1"));
    journal.beginSession();
    const QByteArray full(DiagnosticJournal::maxLogBytes, 'x');
    for (auto _ : state) {
        state.PauseTiming();
        QFile live(journal.currentLogPath());
        live.open(QIODevice::WriteOnly | QIODevice::Truncate);
        live.write(full);
        live.close();
        state.ResumeTiming();
        journal.recordIfActive(DiagnosticEvent::audioStartCompleted, metadata);
    }
}
BENCHMARK(journalAppendWithRotation)->Iterations(100)->Unit(benchmark::kMicrosecond);

// What a recording thread pays: building the item and one queue submission, with nothing written.
void recordCallerCost(benchmark::State &state)
{
    QTemporaryDir dir;
    Diagnostics::Options options;
    options.logDirectory = dir.path();
    options.appVersion = QStringLiteral("1");
    options.build = QStringLiteral("1");
    Diagnostics diagnostics(options); // not started: the writer drops the lines
    for (auto _ : state)
        diagnostics.record(DiagnosticEvent::audioStartCompleted, metadata);
    diagnostics.waitUntilWritten();
}
BENCHMARK(recordCallerCost)->Unit(benchmark::kNanosecond);

// What a caller pays while the writer is busy: records arrive as a take makes them, a burst as the
// take starts and another as it ends, each line flushed to disk by the running writer meanwhile.
// The iteration time is the callers' time for one take; the worst single call is reported beside.
void recordCallerCostDuringATake(benchmark::State &state)
{
    using Clock = std::chrono::steady_clock;
    QLoggingCategory::setFilterRules(QStringLiteral("io.quorvane.zepaquarn.*=false"));
    QTemporaryDir dir;
    test::VirtualLoop loop; // the hang watchdog pings it; nothing here needs it to answer
    Diagnostics::Options options;
    options.logDirectory = dir.path();
    options.appVersion = QStringLiteral("1");
    options.build = QStringLiteral("1");
    options.mainLoop = &loop;
    options.watchdogHooks.relaunch = [] {};
    options.watchdogHooks.terminate = [] {};
    Diagnostics diagnostics(options);
    diagnostics.start();
    diagnostics.waitUntilWritten();
    const DiagnosticEvent starting[] = {DiagnosticEvent::dictationRequested, DiagnosticEvent::audioStartBegan,
                                        DiagnosticEvent::audioStartCompleted, DiagnosticEvent::transcriptionStarted};
    const DiagnosticEvent ending[] = {DiagnosticEvent::dictationFinishRequested, DiagnosticEvent::captureCompleted,
                                      DiagnosticEvent::transcriptionCompleted, DiagnosticEvent::pasteSucceeded};
    double worst = 0;
    double total = 0;
    int calls = 0;
    const auto timed = [&](DiagnosticEvent event) {
        const auto begun = Clock::now();
        diagnostics.record(event, metadata);
        const double seconds = std::chrono::duration<double>(Clock::now() - begun).count();
        worst = std::max(worst, seconds);
        total += seconds;
        ++calls;
        return seconds;
    };
    for (auto _ : state) {
        double spent = 0;
        for (const DiagnosticEvent event : starting)
            spent += timed(event);
        std::this_thread::sleep_for(std::chrono::milliseconds(2)); // the writer is mid-way through them
        for (const DiagnosticEvent event : ending)
            spent += timed(event);
        state.SetIterationTime(spent);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    diagnostics.waitUntilWritten();
    state.counters["per_call_us"] = calls ? 1e6 * total / calls : 0;
    state.counters["worst_call_us"] = 1e6 * worst;
}
BENCHMARK(recordCallerCostDuringATake)->UseManualTime()->Iterations(200)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();

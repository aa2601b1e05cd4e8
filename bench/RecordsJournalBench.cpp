// Cost of one journal line as the live file grows (each line is flushed to disk and the run state
// rewritten atomically), the cost of a rotation, and the caller's share of Diagnostics::record().
#include "records/DiagnosticJournal.h"
#include "records/Diagnostics.h"
#include "runtime/Clocks.h"

#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

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
BENCHMARK(journalAppend)->Arg(0)->Arg(128 * 1024)->Arg(448 * 1024)->Unit(benchmark::kMicrosecond);

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
BENCHMARK(journalAppendWithRotation)->Unit(benchmark::kMicrosecond);

// What a recording thread pays: building the item and one queue submission.
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

} // namespace

BENCHMARK_MAIN();

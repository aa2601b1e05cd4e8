// Cost of one change to each record store as its file grows: each change rewrites the whole file
// atomically (temporary file, flush, rename).
#include "records/HistoryStore.h"
#include "records/IncidentStore.h"
#include "records/StatsStore.h"
#include "runtime/Clocks.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

using namespace zq;

const QString sentence = QStringLiteral("This is a dictated sentence of a typical length, about twenty words, "
                                        "with punctuation and a few longer words in it.");

// Arg: items already in the history (500 is the cap).
void historyAdd(benchmark::State &state)
{
    QTemporaryDir dir;
    rt::SystemClocks clocks;
    HistoryStore store(dir.path(), clocks);
    for (qint64 i = 0; i < state.range(0); ++i)
        store.add(sentence);
    for (auto _ : state)
        store.add(sentence);
    state.counters["items"] = static_cast<double>(store.items().size());
}
BENCHMARK(historyAdd)->Arg(10)->Arg(100)->Arg(499)->Unit(benchmark::kMicrosecond);

void historySearch(benchmark::State &state)
{
    QTemporaryDir dir;
    rt::SystemClocks clocks;
    HistoryStore store(dir.path(), clocks);
    for (int i = 0; i < 500; ++i)
        store.add(sentence + QString::number(i));
    for (auto _ : state)
        benchmark::DoNotOptimize(store.filtered(QStringLiteral("  Words 49 ")));
}
BENCHMARK(historySearch)->Unit(benchmark::kMicrosecond);

// A failure as the controller records it: insert, trim to five, save.
void incidentRecord(benchmark::State &state)
{
    QTemporaryDir dir;
    IncidentStore store(dir.path());
    for (auto _ : state) {
        DictationIncident incident;
        incident.id = QUuid::createUuid();
        incident.date = QDateTime::currentDateTimeUtc();
        incident.code = QStringLiteral("ZQ-TX-NETWORK");
        incident.title = incident.message = incident.nextStep = sentence;
        incident.backend = QStringLiteral("openai");
        incident.appVersion = incident.build = QStringLiteral("1");
        store.insert(incident);
        store.trimToLimit();
        store.save();
    }
}
BENCHMARK(incidentRecord)->Unit(benchmark::kMicrosecond);

// Arg: days already in the statistics (about ten years at 3650).
void statsCommit(benchmark::State &state)
{
    QTemporaryDir dir;
    StatsStore store(dir.path(), QTimeZone::utc());
    const QDateTime first(QDate(2020, 1, 1), QTime(12, 0), Qt::UTC);
    for (qint64 i = 0; i < state.range(0); ++i) {
        store.setArmedTake(3.0);
        store.commitTake(20, first.addDays(i));
    }
    for (auto _ : state) {
        store.setArmedTake(3.0);
        store.commitTake(20, first);
    }
}
BENCHMARK(statsCommit)->Arg(30)->Arg(365)->Arg(3650)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();

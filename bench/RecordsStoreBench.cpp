// Cost of one change to each record store as its file grows: each change rewrites the whole file
// atomically (temporary file, flush, rename). Compare the figures of one store across its sizes.
#include "records/HistoryStore.h"
#include "records/IncidentStore.h"
#include "records/StatsStore.h"
#include "records/StoreWriter.h"
#include "runtime/Clocks.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

using namespace zq;

const QString sentence = QStringLiteral("This is a dictated sentence of a typical length, about twenty words, "
                                        "with punctuation and a few longer words in it.");

// Arg: items in the history after the change (500 is the cap: the oldest goes as the newest comes).
void historyAdd(benchmark::State &state)
{
    QTemporaryDir dir;
    rt::SystemClocks clocks;
    HistoryStore store(dir.path(), clocks);
    for (qint64 i = 0; i + 1 < state.range(0); ++i)
        store.add(sentence);
    for (auto _ : state) {
        store.add(sentence);
        if (store.items().size() > state.range(0)) { // below the cap: keep the size the figure names
            state.PauseTiming();
            store.remove(store.items().front().id);
            state.ResumeTiming();
        }
    }
    state.counters["items"] = static_cast<double>(store.items().size());
}
// Fixed counts: each change waits for the disk, and the figures settle long before the default time.
BENCHMARK(historyAdd)->Arg(10)->Arg(100)->Arg(500)->Iterations(150)->Unit(benchmark::kMicrosecond);

// The main thread's share of a change to a full history when its saves go to a writer, as in the
// application: what still runs between a paste and the front window's fetch of the text.
void historyAddHandedToWriter(benchmark::State &state)
{
    QTemporaryDir dir;
    rt::SystemClocks clocks;
    StoreWriter writer;
    HistoryStore store(dir.path(), clocks);
    store.setWriter(&writer);
    for (int i = 0; i < HistoryStore::maximumItems; ++i)
        store.add(sentence);
    writer.waitUntilWritten();
    for (auto _ : state) {
        store.add(sentence);
        state.PauseTiming();
        writer.waitUntilWritten();
        state.ResumeTiming();
    }
}
BENCHMARK(historyAddHandedToWriter)->Iterations(150)->Unit(benchmark::kMicrosecond);

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

// A failure as the controller records it: insert, trim to five, save. Arg: incidents already kept
// (the store keeps five at most, so this is all the growth there is).
void incidentRecord(benchmark::State &state)
{
    QTemporaryDir dir;
    IncidentStore store(dir.path());
    for (auto _ : state) {
        if (store.items().size() > state.range(0)) {
            state.PauseTiming();
            while (store.items().size() > state.range(0))
                store.remove(store.items().back());
            state.ResumeTiming();
        }
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
BENCHMARK(incidentRecord)->Arg(0)->Arg(4)->Iterations(150)->Unit(benchmark::kMicrosecond);

// Arg: years of days already in the statistics. Committing them one by one would rewrite the file
// once per day, so the ledger is written as the store writes it and then opened.
void statsCommit(benchmark::State &state)
{
    QTemporaryDir dir;
    const QDateTime first(QDate(1950, 1, 1), QTime(12, 0), Qt::UTC);
    const qint64 dayCount = state.range(0) * 365;
    {
        QJsonObject days;
        for (qint64 i = 0; i < dayCount; ++i)
            days.insert(first.date().addDays(i).toString(Qt::ISODate),
                        QJsonObject{{QStringLiteral("takes"), 12},
                                    {QStringLiteral("words"), 240},
                                    {QStringLiteral("speakingMs"), 36000}});
        QFile file(dir.filePath(QStringLiteral("stats.json")));
        file.open(QIODevice::WriteOnly);
        file.write(QJsonDocument(QJsonObject{{QStringLiteral("version"), 1}, {QStringLiteral("days"), days}})
                       .toJson(QJsonDocument::Compact));
    }
    StatsStore store(dir.path(), QTimeZone::utc());
    if (store.days().size() != dayCount) {
        state.SkipWithError("the statistics file format changed: update this benchmark's ledger");
        return;
    }
    for (auto _ : state) {
        store.setArmedTake(3.0);
        store.commitTake(20, first);
    }
    state.counters["days"] = static_cast<double>(store.days().size());
}
BENCHMARK(statsCommit)->Arg(1)->Arg(10)->Arg(100)->Iterations(20)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();

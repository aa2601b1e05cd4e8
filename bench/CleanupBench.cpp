// The on-device cleanup of one dictated take of 100 words, as it runs between the final text and
// the paste. The figure that matters: time per take (microseconds), which must stay far below 1 ms.
#include "transcription/RuleBasedCleanupModel.h"

#include <QStringList>

#include <benchmark/benchmark.h>

namespace {

using zq::RuleBasedCleanupModel;

// 100 words as the recogniser gives them: lower case, no punctuation, fillers and a repeat.
QString take()
{
    const QString phrase = QStringLiteral("um so i think the the quarterly numbers for zepa quarn look good and we "
                                          "should uh ship the release on friday after the review");
    QStringList words;
    while (words.size() < 100)
        words += phrase.split(QLatin1Char(' '));
    return words.mid(0, 100).join(QLatin1Char(' '));
}

// Arg: dictionary entries (the user's vocabulary, two of which occur in the take).
void cleanupOfA100WordTake(benchmark::State &state)
{
    const QString text = take();
    QStringList vocabulary{QStringLiteral("ZEPA QUARN"), QStringLiteral("Friday")};
    for (int i = 2; i < state.range(0); ++i)
        vocabulary.append(QStringLiteral("Term%1").arg(i));
    for (auto _ : state)
        benchmark::DoNotOptimize(RuleBasedCleanupModel::clean(text, vocabulary));
    state.counters["words"] = 100;
}
BENCHMARK(cleanupOfA100WordTake)->Arg(2)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();

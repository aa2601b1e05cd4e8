#pragma once

// What every benchmark binary here shares: its main's run, and the spread it reports of timed samples.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

namespace zq::bench {

// Reports the median and the worst of `samples` (scaled by `scale` into `unit`) as the counters
// PREFIXmedian_UNIT and PREFIXworst_UNIT; nothing when there is no sample.
inline void reportMedianAndWorst(benchmark::State &state, std::vector<double> samples, const std::string &unit,
                                 double scale = 1.0, const std::string &prefix = {})
{
    if (samples.empty())
        return;
    std::sort(samples.begin(), samples.end());
    state.counters[prefix + "median_" + unit] = scale * samples[samples.size() / 2];
    state.counters[prefix + "worst_" + unit] = scale * samples.back();
}

// Runs the benchmarks the command line picks (after the application object is made); 1 for an
// argument nobody knows.
inline int runBenchmarks(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace zq::bench

#pragma once

// What every benchmark binary here shares: its main's run, and the spread it reports of timed samples.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
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

inline double median(std::vector<double> samples)
{
    if (samples.empty())
        return 0.0;
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

// The goal lines of this run, printed once every benchmark has run.
inline std::vector<std::string> &goalLines()
{
    static std::vector<std::string> lines;
    return lines;
}

// A goal as a ratio against its baseline measured in the same run: NAME_median (median over the
// baseline's median) and NAME_worst (worst over the baseline's median), also as a line of the run's
// goal summary. Nothing without samples.
inline void reportRatio(benchmark::State &state, const std::string &name, const std::vector<double> &measured,
                        const std::vector<double> &baseline)
{
    const double base = median(baseline);
    if (measured.empty() || base <= 0)
        return;
    const double middle = median(measured) / base;
    const double worst = *std::max_element(measured.begin(), measured.end()) / base;
    state.counters[name + "_median"] = middle;
    state.counters[name + "_worst"] = worst;
    char line[200];
    std::snprintf(line, sizeof line, "goal %s: median %.2fx, worst %.2fx of the baseline's median %.4g (%zu samples)",
                  name.c_str(), middle, worst, base, measured.size());
    goalLines().emplace_back(line);
}

// A goal that is a plain figure (a share of a core, megabytes) rather than a ratio, for the summary.
inline void reportGoal(const std::string &name, double value, const std::string &unit)
{
    char line[200];
    std::snprintf(line, sizeof line, "goal %s: %.2f %s", name.c_str(), value, unit.c_str());
    goalLines().emplace_back(line);
}

// A goal that is a ceiling: the figure, the limit, and the figure as a share of the limit.
inline void reportLimit(const std::string &name, double value, double limit, const std::string &unit)
{
    char line[200];
    std::snprintf(line, sizeof line, "goal %s: %.1f %s, limit %.0f %s (%.2fx of the limit)", name.c_str(), value,
                  unit.c_str(), limit, unit.c_str(), value / limit);
    goalLines().emplace_back(line);
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
    for (const std::string &line : goalLines())
        std::printf("%s\n", line.c_str());
    return 0;
}

} // namespace zq::bench

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

// The summary lines of this run (goals and plain figures), printed once every benchmark has run.
inline std::vector<std::string> &goalLines()
{
    static std::vector<std::string> lines;
    return lines;
}

// Whether a goal of this run was missed: the run then ends non-zero.
inline bool &goalMissed()
{
    static bool missed = false;
    return missed;
}

// Adds a goal's summary line, `figure` followed by whether it met its limit, and remembers a miss.
inline void addGoalLine(const std::string &name, const std::string &figure, bool met)
{
    goalLines().push_back("goal " + name + ": " + figure + (met ? " - met" : " - missed"));
    if (!met)
        goalMissed() = true;
}

// A ratio against a baseline measured in the same run, as the counters NAME_median (median over the
// baseline's median) and NAME_worst (worst over the baseline's median). False without samples.
inline bool reportRatioCounters(benchmark::State &state, const std::string &name, const std::vector<double> &measured,
                                const std::vector<double> &baseline)
{
    const double base = median(baseline);
    if (measured.empty() || base <= 0)
        return false;
    state.counters[name + "_median"] = median(measured) / base;
    state.counters[name + "_worst"] = *std::max_element(measured.begin(), measured.end()) / base;
    return true;
}

// A goal as a ratio against its baseline measured in the same run: the counters of
// reportRatioCounters and a line of the run's summary that says whether the median stays within
// `limit` times the baseline's median. Without samples the goal cannot be told met, so it is missed.
inline void reportRatio(benchmark::State &state, const std::string &name, const std::vector<double> &measured,
                        const std::vector<double> &baseline, double limit)
{
    if (!reportRatioCounters(state, name, measured, baseline)) {
        addGoalLine(name, "not measured", false);
        return;
    }
    const double base = median(baseline);
    const double middle = median(measured) / base;
    char figure[240];
    std::snprintf(figure, sizeof figure,
                  "median %.2fx, worst %.2fx of the baseline's median %.4g (%zu samples), limit %.2fx", middle,
                  *std::max_element(measured.begin(), measured.end()) / base, base, measured.size(), limit);
    addGoalLine(name, figure, middle <= limit);
}

// A figure for the summary that is no goal (a share of a core, an error rate): printed without a verdict.
inline void reportFigure(const std::string &name, double value, const std::string &unit)
{
    char line[200];
    std::snprintf(line, sizeof line, "figure %s: %.2f %s", name.c_str(), value, unit.c_str());
    goalLines().emplace_back(line);
}

// The older name of reportFigure: a figure without a limit says neither met nor missed.
inline void reportGoal(const std::string &name, double value, const std::string &unit)
{
    reportFigure(name, value, unit);
}

// A goal that is a ceiling: the figure, the limit, the figure as a share of the limit, and whether it
// stays within the limit.
inline void reportLimit(const std::string &name, double value, double limit, const std::string &unit)
{
    char figure[200];
    std::snprintf(figure, sizeof figure, "%.1f %s, limit %.0f %s (%.2fx of the limit)", value, unit.c_str(), limit,
                  unit.c_str(), value / limit);
    addGoalLine(name, figure, value <= limit);
}

// The console reporter the command line asks for, that also notes a benchmark that ended in an
// error: its goals were never measured.
class ErrorNotingReporter : public benchmark::ConsoleReporter {
public:
    using benchmark::ConsoleReporter::ConsoleReporter;
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs)
            if (run.error_occurred)
                failed = true;
        benchmark::ConsoleReporter::ReportRuns(runs);
    }
    bool failed = false;
};

// Runs the benchmarks the command line picks (after the application object is made) and prints the
// summary. 1 for an argument nobody knows, a benchmark that ended in an error or a missed goal.
inline int runBenchmarks(int argc, char **argv)
{
    bool tabular = false;
    for (int i = 1; i < argc; ++i)
        tabular = tabular || std::string(argv[i]) == "--benchmark_counters_tabular=true";
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    ErrorNotingReporter reporter(tabular ? benchmark::ConsoleReporter::OO_Tabular
                                         : benchmark::ConsoleReporter::OO_None);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    for (const std::string &line : goalLines())
        std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    return reporter.failed || goalMissed() ? 1 : 0;
}

} // namespace zq::bench

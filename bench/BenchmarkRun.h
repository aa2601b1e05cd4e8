#pragma once

// What every benchmark binary here shares: its main's run, and the spread it reports of timed samples.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <memory>
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

// A goal as the time a measurement adds to its baseline measured in the same run (both in seconds):
// the median's excess over the baseline's median stays within `limitMs`. Without samples it is missed.
inline void reportExcess(const std::string &name, const std::vector<double> &measured,
                         const std::vector<double> &baseline, double limitMs)
{
    if (measured.empty() || baseline.empty()) {
        addGoalLine(name, "not measured", false);
        return;
    }
    const double excessMs = 1000 * (median(measured) - median(baseline));
    char figure[240];
    std::snprintf(figure, sizeof figure,
                  "median %.2f ms above the baseline's median of %.2f ms (%zu samples), limit %.1f ms", excessMs,
                  1000 * median(baseline), measured.size(), limitMs);
    addGoalLine(name, figure, excessMs <= limitMs);
}

// A figure for the summary that is no goal (a share of a core, an error rate): printed without a verdict.
inline void reportFigure(const std::string &name, double value, const std::string &unit)
{
    char line[200];
    std::snprintf(line, sizeof line, "figure %s: %.2f %s", name.c_str(), value, unit.c_str());
    goalLines().emplace_back(line);
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

// The display reporter of the format the command line asks for with the library's own flags
// (--benchmark_format=console|json|csv, --benchmark_counters_tabular=true), noting a benchmark that
// ended in an error: its goals were never measured.
class ErrorNotingReporter : public benchmark::BenchmarkReporter {
public:
    ErrorNotingReporter(const std::string &format, bool tabular)
    {
        if (format == "json")
            m_display = std::make_unique<benchmark::JSONReporter>();
        else if (format == "csv")
            m_display = csvReporter();
        else
            m_display = std::make_unique<benchmark::ConsoleReporter>(tabular ? benchmark::ConsoleReporter::OO_Tabular
                                                                             : benchmark::ConsoleReporter::OO_None);
    }
    bool ReportContext(const Context &context) override { return m_display->ReportContext(context); }
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs)
            if (run.error_occurred)
                failed = true;
        m_display->ReportRuns(runs);
    }
    void Finalize() override { m_display->Finalize(); }
    bool failed = false;

private:
    // The library marks its CSV format as going, but still offers it on its command line.
    static std::unique_ptr<benchmark::BenchmarkReporter> csvReporter()
    {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        return std::make_unique<benchmark::CSVReporter>();
#pragma GCC diagnostic pop
    }

    std::unique_ptr<benchmark::BenchmarkReporter> m_display;
};

// Runs the benchmarks the command line picks (after the application object is made) and prints the
// summary: after the console's table on standard output, or on standard error in another format, so
// that a tool reading the JSON or CSV gets only that. 1 for an argument nobody knows, a benchmark
// that ended in an error or a missed goal.
inline int runBenchmarks(int argc, char **argv)
{
    std::string format = "console";
    bool tabular = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.rfind("--benchmark_format=", 0) == 0)
            format = argument.substr(argument.find('=') + 1);
        tabular = tabular || argument == "--benchmark_counters_tabular=true";
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    ErrorNotingReporter reporter(format, tabular);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::fflush(stdout);
    std::FILE *summary = format == "console" ? stdout : stderr;
    for (const std::string &line : goalLines())
        std::fprintf(summary, "%s\n", line.c_str());
    std::fflush(summary);
    return reporter.failed || goalMissed() ? 1 : 0;
}

} // namespace zq::bench

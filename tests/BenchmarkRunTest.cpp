// The benchmarks' shared run: a missed goal, a goal never measured or a benchmark that ended in an
// error ends the run non-zero, and the library's own output formats stay what a tool reading them
// expects, with the summary kept out of them.
#include "BenchmarkRun.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

TEST(BenchmarkRunTest, ARunEndsNonZeroOnAMissOrAnErrorAndKeepsEachFormatClean)
{
    using namespace zq::bench;
    struct RunCase {
        const char *name;
        std::function<void(benchmark::State &)> body;
        const char *format;
        int status;
    };
    const std::vector<double> fast{1.0, 1.1, 1.2};
    const std::vector<double> slow{2.0, 2.1, 2.2};
    const RunCase cases[] = {
        {"ratio_met", [&](benchmark::State &state) { reportRatio(state, "r", fast, slow, 1.25); }, "console", 0},
        {"ratio_missed", [&](benchmark::State &state) { reportRatio(state, "r", slow, fast, 1.25); }, "console", 1},
        {"ratio_unmeasured", [&](benchmark::State &state) { reportRatio(state, "r", {}, fast, 1.25); }, "console", 1},
        {"limit_missed", [](benchmark::State &) { reportLimit("l", 17, 16, "ms"); }, "json", 1},
        {"excess_met", [&](benchmark::State &) { reportExcess("e", slow, fast, 1001); }, "json", 0},
        {"excess_missed", [&](benchmark::State &) { reportExcess("e", slow, fast, 999); }, "console", 1},
        {"figure_only", [](benchmark::State &) { reportFigure("f", 3, "%"); }, "json", 0},
        {"error", [](benchmark::State &state) { state.SkipWithError("no microphone"); }, "csv", 1},
    };
    for (const RunCase &c : cases) {
        SCOPED_TRACE(c.name);
        goalLines().clear();
        goalMissed() = false;
        const std::string benchmarkName = std::string("BM_") + c.name;
        benchmark::RegisterBenchmark(benchmarkName.c_str(), [&c](benchmark::State &state) {
            for (auto _ : state)
                benchmark::DoNotOptimize(state.iterations());
            c.body(state);
        })->Iterations(1);
        // The name ends in "/iterations:1".
        std::string arguments[] = {"bench", "--benchmark_filter=^" + benchmarkName + "/",
                                   std::string("--benchmark_format=") + c.format};
        char *argv[] = {arguments[0].data(), arguments[1].data(), arguments[2].data(), nullptr};
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const int status = runBenchmarks(3, argv);
        const std::string out = testing::internal::GetCapturedStdout();
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(status, c.status);
        const std::string &summary = std::string(c.format) == "console" ? out : err;
        for (const std::string &line : goalLines())
            EXPECT_NE(summary.find(line), std::string::npos) << line;
        if (std::string(c.format) == "json") {
            const QJsonArray runs = QJsonDocument::fromJson(QByteArray::fromStdString(out))
                                        .object()[QStringLiteral("benchmarks")]
                                        .toArray();
            ASSERT_EQ(runs.size(), 1) << out;
            EXPECT_TRUE(runs[0][QStringLiteral("name")].toString().startsWith(QString::fromStdString(benchmarkName)));
        }
    }
}

} // namespace

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

struct RunCase {
    const char *name;
    std::function<void(benchmark::State &)> body;
    const char *format;
    int status;
};

TEST(BenchmarkRunTest, ARunEndsNonZeroOnAMissOrAnErrorAndKeepsEachFormatClean)
{
    using namespace zq::bench;
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
        std::string filter = "--benchmark_filter=^" + benchmarkName + "/"; // the name ends in "/iterations:1"
        std::string format = std::string("--benchmark_format=") + c.format;
        std::string program = "bench";
        char *argv[] = {program.data(), filter.data(), format.data(), nullptr};
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
            QJsonParseError error{};
            const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(out), &error);
            ASSERT_EQ(error.error, QJsonParseError::NoError) << out;
            const QJsonArray runs = document.object().value(QStringLiteral("benchmarks")).toArray();
            ASSERT_EQ(runs.size(), 1);
            EXPECT_TRUE(runs.first()
                            .toObject()
                            .value(QStringLiteral("name"))
                            .toString()
                            .startsWith(QString::fromStdString(benchmarkName)));
        }
    }
}

} // namespace

// The History page with a full history of 500 transcripts: the time from opening the page to its
// first painted frame, and the time of one keystroke in the search field (filter, lay out, paint
// a whole frame). The goal for a keystroke is one frame, 16 ms.
#include "records/HistoryStore.h"
#include "support/FakePasteboard.h"
#include "support/ViewRender.h"
#include "support/VirtualLoop.h"
#include "window/HistoryPage.h"
#include "window/HistoryPageList.h"
#include "window/HistoryPageModel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>

#include "BenchmarkRun.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

namespace {

using namespace zq;

const char *const kWords[] = {"quarterly", "planning", "meeting", "send",    "the",     "draft",   "to",
                               "Maria",     "before",   "Friday",  "café",    "numbers", "look",    "good",
                               "schedule",  "review",   "with",    "design",  "team",    "and",     "budget",
                               "please",    "call",     "back",    "tomorrow", "morning", "release", "notes"};

// 500 transcripts of 8 to 80 words, the same every run.
struct FullHistory {
    QTemporaryDir dir;
    test::VirtualLoop loop;
    test::FakePasteboard pasteboard;
    std::unique_ptr<HistoryStore> store;

    FullHistory()
    {
        store = std::make_unique<HistoryStore>(dir.path(), loop.clocks());
        std::uint32_t seed = 7;
        const auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
        for (int i = 0; i < HistoryStore::maximumItems; ++i) {
            QStringList words;
            const int count = 8 + static_cast<int>(next() >> 8) % 73;
            for (int w = 0; w < count; ++w)
                words.append(QString::fromUtf8(kWords[(next() >> 8) % std::size(kWords)]));
            store->add(words.join(QLatin1Char(' ')));
        }
    }
};

FullHistory &history()
{
    static FullHistory made;
    return made;
}

std::unique_ptr<HistoryPage> openPage()
{
    FullHistory &h = history();
    auto page = std::make_unique<HistoryPage>(new HistoryPageModel(*h.store, h.pasteboard, h.loop));
    page->resize(960, 680);
    page->show();
    return page;
}

void report(benchmark::State &state, std::vector<double> micros)
{
    zq::bench::reportMedianAndWorst(state, std::move(micros), "ms", 1e-3);
    state.counters["frame_budget_ms"] = 16;
}

// Times `change` and the whole frame it leads to (Qt's events run, then the page it returns paints) as
// one iteration, and keeps the time in `micros`.
void timeFrame(benchmark::State &state, std::vector<double> &micros, const std::function<QWidget &()> &change)
{
    QElapsedTimer timer;
    timer.start();
    QWidget &page = change();
    QApplication::processEvents();
    const QImage frame = test::renderWidget(page);
    benchmark::DoNotOptimize(frame.constBits());
    const double elapsed = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    state.SetIterationTime(elapsed);
    micros.push_back(elapsed * 1e6);
}

void BM_HistoryOpenToFirstPaint(benchmark::State &state)
{
    history();
    std::vector<double> micros;
    for (auto _ : state) {
        std::unique_ptr<HistoryPage> page;
        timeFrame(state, micros, [&]() -> QWidget & {
            page = openPage();
            return *page;
        });
    }
    report(state, micros);
}
BENCHMARK(BM_HistoryOpenToFirstPaint)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);

// Types `query` one character at a time, then erases it again; each step is one keystroke.
void typeQuery(benchmark::State &state, const QString &query)
{
    auto page = openPage();
    QApplication::processEvents();
    test::renderWidget(*page);
    QLineEdit *field = page->searchField();
    std::vector<QString> steps;
    for (int n = 1; n <= query.size(); ++n)
        steps.push_back(query.left(n));
    for (int n = query.size() - 1; n >= 0; --n)
        steps.push_back(query.left(n));
    std::vector<double> micros;
    std::size_t step = 0;
    for (auto _ : state) {
        timeFrame(state, micros, [&]() -> QWidget & {
            field->setText(steps[step++ % steps.size()]);
            return *page;
        });
    }
    report(state, micros);
    state.counters["rows_after_last_step"] = static_cast<double>(page->model().rows().size());
}

void BM_HistoryKeystrokeBroadQuery(benchmark::State &state)
{
    typeQuery(state, QStringLiteral("the quarterly"));
}
BENCHMARK(BM_HistoryKeystrokeBroadQuery)->Iterations(104)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_HistoryKeystrokeNoMatch(benchmark::State &state)
{
    typeQuery(state, QStringLiteral("zebra crossing"));
}
BENCHMARK(BM_HistoryKeystrokeNoMatch)->Iterations(112)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    // Nothing here may reach the user's own session bus or display; the page paints offscreen.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    return zq::bench::runBenchmarks(argc, argv);
}

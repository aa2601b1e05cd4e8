// The update offer's window opened with hostile release notes, read from a feed as the updater
// reads them: the time from the offer to its first painted frame, for one unbroken word of 1.5
// million characters (what a feed can hold) and for 64 kB of prose in one paragraph (the most of
// the notes a feed's item keeps). Before the notes were cut and broken into lines, the word
// stalled the window until the hang watchdog ended the application; the goal is a few frames.
#include "platform/linux/appcast/Appcast.h"
#include "rewards/updates/UpdaterDialogs.h"
#include "support/UpdateFeedKit.h"
#include "support/ViewRender.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>

#include "BenchmarkRun.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

void openOffer(benchmark::State &state, const QString &notes)
{
    zq::test::FeedItem published{"5", "1.3.0", "https://updates.example.test/zq-5.tar.gz", 100, "c2ln", {}, notes};
    const auto items =
        zq::platform::appcast::parse(zq::test::makeAppcast({published}), QUrl("https://updates.example.test/"));
    if (!items || items.value().empty()) {
        state.SkipWithError("the feed did not parse");
        return;
    }
    const zq::platform::AppcastItem item = items.value().front();
    std::vector<double> micros;
    for (auto _ : state) {
        zq::UpdaterDialogs dialogs(QStringLiteral("1.2.0"));
        QElapsedTimer timer;
        timer.start();
        dialogs.showUpdateFound(item, [](zq::platform::UpdateChoice) {});
        QApplication::processEvents();
        const QImage frame = zq::test::renderWidget(*dialogs.window());
        benchmark::DoNotOptimize(frame.constBits());
        const double elapsed = static_cast<double>(timer.nsecsElapsed()) / 1e9;
        state.SetIterationTime(elapsed);
        micros.push_back(elapsed * 1e6);
    }
    zq::bench::reportMedianAndWorst(state, micros, "ms", 1e-3);
    state.counters["notes_chars"] = static_cast<double>(item.description.size());
}

void BM_OfferWithAMillionCharacterWord(benchmark::State &state)
{
    openOffer(state, QString(1'500'000, u'w'));
}
BENCHMARK(BM_OfferWithAMillionCharacterWord)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_OfferWith64KilobytesOfProse(benchmark::State &state)
{
    openOffer(state, QStringLiteral("Faster start and fewer surprises. ").repeated(64 * 1024 / 34));
}
BENCHMARK(BM_OfferWith64KilobytesOfProse)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    return zq::bench::runBenchmarks(argc, argv);
}

// Trigger release to text in the front window, through the real application on private services:
// one application instance dictates the same recording of real speech several times. The time of
// one take runs from the trigger's release to the text's arrival, both as the receiving window saw
// them (on the monotonic clock shared by every process). Any text counts as arrived; how many takes
// gave exactly the spoken words is reported beside the times.
#include "records/DiagnosticEvent.h"
#include "support/E2EEnvironment.h"

#include <QCoreApplication>
#include <QThread>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

namespace {

using namespace std::chrono_literals;
using zq::DiagnosticEvent;
using zq::test::E2EEnvironment;
using zq::test::TextTargetWindow;

constexpr int kTakes = 5;

bool isSpeech(const QString &text)
{
    return E2EEnvironment::normalizedWords(text) == QLatin1String(E2EEnvironment::kSpeechWords);
}

void releaseToText(benchmark::State &state)
{
    E2EEnvironment env;
    if (!env.start() || !env.writeSettings() || !env.startApp()) {
        state.SkipWithError(qPrintable(env.errorString()));
        return;
    }
    if (!env.target().activate()) {
        state.SkipWithError("the target window cannot take the keyboard focus");
        return;
    }
    const std::vector<std::int16_t> speech = E2EEnvironment::speechSamples();
    if (speech.empty()) {
        state.SkipWithError(qPrintable(QStringLiteral("missing ") + E2EEnvironment::speechPath()));
        return;
    }

    std::vector<double> seconds;
    int exact = 0;
    int take = 0;
    for (auto _ : state) {
        ++take;
        env.target().clear();
        const auto pressedAfter = TextTargetWindow::monotonicNow();
        env.pressTrigger();
        if (!env.waitForJournal(DiagnosticEvent::audioStartCompleted, take, 10s)) {
            state.SkipWithError("the take's audio never started");
            break;
        }
        // Room noise around the sentence, as a person pauses before and after speaking.
        QThread::msleep(300);
        env.feeder()->speak(speech);
        env.feeder()->waitUntilSpoken(15s);
        QThread::msleep(700);
        env.releaseTrigger();

        const auto released = env.target().waitForKeyRelease(E2EEnvironment::kTriggerQtKey, pressedAfter, 5s);
        const auto pasted = env.target().waitForText([](const QString &text) { return !text.isEmpty(); }, 30s);
        if (!released || !pasted) {
            state.SkipWithError(released ? "the words never arrived in the window" : "the window saw no release");
            break;
        }
        const double elapsed = std::chrono::duration<double>(pasted->at - *released).count();
        state.SetIterationTime(elapsed);
        seconds.push_back(elapsed);
        exact += isSpeech(pasted->text) ? 1 : 0;
        // Let the take end completely (done flash, clipboard restored) before the next press.
        env.waitForJournal(DiagnosticEvent::pasteSucceeded, take, 5s);
        QThread::msleep(1500);
    }
    if (seconds.empty())
        return;

    std::sort(seconds.begin(), seconds.end());
    state.counters["takes"] = double(seconds.size());
    state.counters["exact_takes"] = exact;
    state.counters["utterance_s"] = double(speech.size()) / zq::test::PipeFeeder::kSampleRateHz;
    state.counters["median_ms"] = 1000 * seconds[seconds.size() / 2];
    state.counters["worst_ms"] = 1000 * seconds.back();
    env.stopApp();
}

} // namespace

BENCHMARK(releaseToText)->Iterations(kTakes)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    // Nothing here may reach the user's own session bus; every service the run needs is private.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// Trigger release to text in the front window, through the real application on private services.
// The application is launched several times, as a user quits and starts it again, and dictates the
// same recording of real speech a few times per launch. Each launch runs on fresh private services.
// The very first launch starts with nothing learnt; every later one starts from what the
// application's recogniser keeps in its state folder after a launch that dictated other speech (the
// librivox recordings), never from what the measured recording taught it. The time of one
// take runs from the trigger's release to the text's arrival, both as the receiving window saw them
// (on the monotonic clock shared by every process). The first take of each launch and the later
// ("warm") takes are reported apart; the very first launch, with nothing learnt yet, is reported on
// its own. Any text counts as arrived; how many takes gave exactly the spoken words is beside.
// A warm take pauses 0.7 s after the words before the release, long enough for the recogniser to hear
// the pause and finish the words before the release. Each launch ends with a few "quick" takes
// released 0.1 s after the last word (the recording's own silence after it cut off), where the
// recogniser can only finish after the release; they are reported apart.
// The pipe microphone delivers its audio in 10 ms blocks, as a live microphone's fragments come:
// in 0.1 s blocks the 0.1 s between the last word and a quick release arrived in one lump at the
// release itself (the feeder's clock and the release coincide), and the recogniser then had all of
// that audio still to decode after the release, which a microphone never leaves it.
//
// The floor, measured in the same run after each launch on the same services: the speech library's
// decoder with the application's search settings, fed the same recording at the pace of speech (end of
// input to final text), plus a bare paste into the same window (another client owns the clipboard and
// Control+V is posted: from the window's V key press to its text). The warm takes are reported as a
// ratio over the sum of the two medians; the quick ones over the same sum with the decoder fed the
// words they spoke.
#include "records/DiagnosticEvent.h"
#include "support/E2EEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QThread>

#include "BenchmarkRun.h"
#include "PlainDecoder.h"
#include "SpeechLaunch.h"
#include "SpeechScoring.h"

#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

using namespace std::chrono_literals;
using zq::DiagnosticEvent;
using zq::test::E2EEnvironment;
using zq::test::TextTargetWindow;

constexpr int kLaunches = 4; // the first one starts with nothing learnt
constexpr int kTakesPerLaunch = 6;
constexpr int kQuickTakesPerLaunch = 2; // after the others
constexpr auto kMicrophoneFragment = 10ms;

// The recording up to its last word and 0.1 s beyond (its loud blocks are a tenth of its peak or more).
std::vector<std::int16_t> wordsOnly(const std::vector<std::int16_t> &speech)
{
    constexpr std::size_t kBlock = zq::test::PipeFeeder::kSampleRateHz / 10;
    int peak = 0;
    for (const std::int16_t sample : speech)
        peak = std::max(peak, std::abs(int(sample)));
    std::size_t end = 0;
    for (std::size_t start = 0; start < speech.size(); start += kBlock)
        for (std::size_t i = start; i < std::min(start + kBlock, speech.size()); ++i)
            if (std::abs(int(speech[i])) * 10 >= peak)
                end = std::min(start + 2 * kBlock, speech.size());
    return {speech.begin(), speech.begin() + std::ptrdiff_t(end)};
}

struct Takes {
    std::vector<double> seconds;
    int exact = 0;

    void add(double elapsed, bool wasExact)
    {
        seconds.push_back(elapsed);
        exact += wasExact ? 1 : 0;
    }
    void report(benchmark::State &state, const std::string &name)
    {
        if (seconds.empty())
            return;
        state.counters[name + "_takes"] = double(seconds.size());
        state.counters[name + "_exact"] = exact;
        zq::bench::reportMedianAndWorst(state, seconds, "ms", 1000, name + "_");
    }
};

const QString kEstimateFile = QStringLiteral("/speech-channel.json");

// Runs a tool on the environment's display; false when it fails.
bool runOnDisplay(E2EEnvironment &env, const QString &program, const QStringList &arguments,
                  const QByteArray &input = {})
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), env.display());
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!input.isNull()) {
        process.write(input);
        process.closeWriteChannel();
    }
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// A paste by a bare client: another program owns the clipboard with the words and Control+V is
// posted. Seconds from the window's V key press to the words in it; nothing when it did not arrive.
std::optional<double> barePaste(E2EEnvironment &env)
{
    const QString words = QStringLiteral("go forward ten meters");
    env.target().clear();
    if (!runOnDisplay(env, QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard")},
                      words.toUtf8()))
        return std::nullopt;
    const auto before = TextTargetWindow::monotonicNow();
    if (!runOnDisplay(env, QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("ctrl+v")}))
        return std::nullopt;
    const auto pasted = env.target().waitForText([&](const QString &text) { return text == words; }, 5s);
    if (!pasted)
        return std::nullopt;
    for (const auto &key : env.target().keyEvents())
        if (key.isPress && key.key == Qt::Key_V && key.at >= before)
            return std::chrono::duration<double>(pasted->at - key.at).count();
    return std::nullopt;
}

// The floor's two parts, measured a few times each on the launch's services once the application is gone.
bool measureFloor(E2EEnvironment &env, const std::vector<std::int16_t> &speech, std::vector<double> &decoder,
                  std::vector<double> &quickDecoder, std::vector<double> &paste)
{
    zq::bench::PlainDecoder plain(zq::bench::applicationSearch());
    if (!plain.isLoaded())
        return false;
    plain.decode(speech, zq::bench::PlainDecoder::Input::live); // warm, as the application's later takes are
    for (int i = 0; i < 3; ++i) {
        decoder.push_back(plain.endOfInputToFinal(speech));
        quickDecoder.push_back(plain.endOfInputToFinal(wordsOnly(speech)));
        const auto bare = barePaste(env);
        if (!bare)
            return false;
        paste.push_back(*bare);
    }
    return true;
}

// One launch's takes into `first` (its first take) and `warm`. False with the reason in `error`.
bool dictate(const std::vector<std::int16_t> &speech, QByteArray &estimate, Takes &first, Takes &warm, Takes &quick,
             std::vector<double> &decoderFloor, std::vector<double> &quickDecoderFloor, std::vector<double> &pasteFloor,
             QString &error)
{
    // Private services sometimes fail to come up on a busy machine (a display taken meanwhile):
    // that is not what this measures, so they get a few tries.
    std::unique_ptr<E2EEnvironment> services;
    for (int attempt = 0; attempt < 3 && !services; ++attempt) {
        services = std::make_unique<E2EEnvironment>(zq::test::Microphone::Live, kMicrophoneFragment);
        if (!services->start() || !services->writeSettings()) {
            error = services->errorString();
            services.reset();
        }
    }
    if (!services)
        return false;
    E2EEnvironment &env = *services;
    if (!estimate.isEmpty()) {
        QDir().mkpath(env.stateDir());
        QFile file(env.stateDir() + kEstimateFile);
        if (!file.open(QIODevice::WriteOnly) || file.write(estimate) != estimate.size()) {
            error = QStringLiteral("cannot carry the recogniser's state over");
            return false;
        }
    }
    if (!env.startApp()) {
        error = env.errorString();
        return false;
    }
    if (!env.target().activate()) {
        error = QStringLiteral("the target window cannot take the keyboard focus");
        return false;
    }
    QThread::msleep(2000); // the user reaches for the trigger
    const std::vector<std::int16_t> words = wordsOnly(speech);
    for (int take = 1; take <= kTakesPerLaunch + kQuickTakesPerLaunch; ++take) {
        const bool isQuick = take > kTakesPerLaunch;
        env.target().clear();
        const auto pressedAfter = TextTargetWindow::monotonicNow();
        env.pressTrigger();
        if (!env.waitForJournal(DiagnosticEvent::audioStartCompleted, take, 10s)) {
            error = QStringLiteral("the take's audio never started");
            return false;
        }
        // Room noise around the sentence, as a person pauses before and after speaking.
        QThread::msleep(300);
        env.feeder()->speak(isQuick ? words : speech);
        env.feeder()->waitUntilSpoken(15s);
        QThread::msleep(isQuick ? 100 : 700);
        env.releaseTrigger();

        const auto released = env.target().waitForKeyRelease(E2EEnvironment::kTriggerQtKey, pressedAfter, 5s);
        const auto pasted = env.target().waitForText([](const QString &text) { return !text.isEmpty(); }, 30s);
        if (!released || !pasted) {
            error = released ? QStringLiteral("the words never arrived in the window")
                             : QStringLiteral("the window saw no release");
            return false;
        }
        const double elapsed = std::chrono::duration<double>(pasted->at - *released).count();
        (take == 1 ? first : isQuick ? quick : warm).add(elapsed, E2EEnvironment::isSpeechWords(pasted->text));
        // Let the take end completely (done flash, clipboard restored) before the next press.
        env.waitForJournal(DiagnosticEvent::pasteSucceeded, take, 5s);
        QThread::msleep(1000);
    }
    if (!env.stopApp()) {
        error = QStringLiteral("the application did not quit cleanly");
        return false;
    }
    QFile file(env.stateDir() + kEstimateFile);
    estimate = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    if (!measureFloor(env, speech, decoderFloor, quickDecoderFloor, pasteFloor)) {
        error = QStringLiteral("the floor (a bare decoder and a bare paste) could not be measured");
        return false;
    }
    return true;
}

// The recogniser's state after a launch that dictated other speech than the measured recording;
// empty when it cannot be made.
QByteArray learntElsewhere()
{
    std::vector<std::vector<float>> takes;
    for (const auto &line : zq::bench::librivoxLines())
        if (auto samples = zq::bench::readWav(line.path))
            takes.push_back(std::move(*samples));
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("speech-channel.json"));
    zq::test::VirtualLoop loop;
    zq::bench::learnEstimate(loop, file, takes);
    QFile learnt(file);
    return learnt.open(QIODevice::ReadOnly) ? learnt.readAll() : QByteArray();
}

void releaseToText(benchmark::State &state)
{
    const std::vector<std::int16_t> speech = E2EEnvironment::speechSamples();
    if (speech.empty()) {
        state.SkipWithError(qPrintable(QStringLiteral("missing ") + E2EEnvironment::speechPath()));
        return;
    }
    Takes firstEver;
    Takes first;
    Takes warm;
    Takes quick;
    std::vector<double> decoderFloor;
    std::vector<double> quickDecoderFloor; // on the quick takes' words
    std::vector<double> pasteFloor;
    const QByteArray elsewhere = learntElsewhere();
    if (elsewhere.isEmpty()) {
        state.SkipWithError("the recogniser learnt nothing from the librivox recordings");
        return;
    }
    for (auto _ : state) {
        for (int launch = 0; launch < kLaunches; ++launch) {
            QByteArray estimate = launch == 0 ? QByteArray() : elsewhere;
            QString error;
            if (!dictate(speech, estimate, launch == 0 ? firstEver : first, warm, quick, decoderFloor,
                         quickDecoderFloor, pasteFloor, error)) {
                state.SkipWithError(qPrintable(error));
                return;
            }
            if (estimate.isEmpty()) {
                state.SkipWithError("the application kept nothing for the recogniser's next launch");
                return;
            }
        }
    }
    state.SetIterationTime(1); // the figures are the counters
    state.counters["utterance_s"] = double(speech.size()) / zq::test::PipeFeeder::kSampleRateHz;
    firstEver.report(state, "first_ever");
    first.report(state, "first");
    warm.report(state, "warm");
    quick.report(state, "quick");
    zq::bench::reportMedianAndWorst(state, decoderFloor, "ms", 1000, "floor_decoder_");
    zq::bench::reportMedianAndWorst(state, quickDecoderFloor, "ms", 1000, "floor_quick_decoder_");
    zq::bench::reportMedianAndWorst(state, pasteFloor, "ms", 1000, "floor_paste_");
    const double floor = zq::bench::median(decoderFloor) + zq::bench::median(pasteFloor);
    zq::bench::reportRatio(state, "warm_over_floor", warm.seconds, {floor});
    zq::bench::reportRatio(state, "first_over_floor", first.seconds, {floor});
    zq::bench::reportRatio(state, "quick_release_over_floor", quick.seconds,
                           {zq::bench::median(quickDecoderFloor) + zq::bench::median(pasteFloor)});
    if (!first.seconds.empty() && !warm.seconds.empty())
        state.counters["first_over_warm"] =
            first.seconds[first.seconds.size() / 2] / warm.seconds[warm.seconds.size() / 2];
}

} // namespace

BENCHMARK(releaseToText)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    // Nothing here may reach the user's own session bus; every service the run needs is private.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    QCoreApplication application(argc, argv);
    return zq::bench::runBenchmarks(argc, argv);
}

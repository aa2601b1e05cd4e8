// Trigger release to text in the front window, through the real application on private services.
// The application is launched several times, as a user quits and starts it again, and dictates
// recordings of real speech (the librivox sentences and the spoken command), one after the other,
// several takes per launch. Each launch runs on fresh private services.
// The very first launch starts with nothing learnt; every later one starts from what the
// application's recogniser keeps in its state folder after a launch that dictated other speech (the
// library's other recordings: other speakers), never from what the measured recordings taught it.
// The time of one take runs from the trigger's release to the text's arrival, both as the receiving
// window saw them (on the monotonic clock shared by every process). Any text counts as arrived; the
// word errors of both sides on the same takes are beside.
// Every take speaks its recording cut at its last word and releases the trigger a set delay after
// that word (0, 0.15, 0.3 or 0.7 s; the microphone's room noise fills the delay): at no delay the
// recogniser has all of the words still to finish after the release, at the longest it has heard the
// pause. The first take of each launch (released at the longest delay) and the later ("warm") takes
// are reported apart, the warm ones per delay; the very first launch, with nothing learnt yet, is
// reported on its own. The pipe microphone delivers its audio in 10 ms blocks, as a live
// microphone's fragments come.
//
// The floor of a take: the speech library's decoder with the application's search settings, running
// beside the application through the whole launch and fed the same microphone live, as it arrives,
// in the same fragments: it starts its utterance at the press and ends it at the release, so at every
// delay both sides pay the same end of utterance; from the release as the window saw it to its final
// text. The release is posted from here, so the floor hears of it as the application does, not once
// a tool that posted it has exited. It starts each launch from what the application starts from:
// nothing, or a live decode of the same other speech.
// On top, a bare paste into the same window, measured on the same services once the application has
// quit (another client owns the clipboard and Control+V is posted: from the window's V key press to
// its text).
// Each delay's warm takes are reported as a ratio over the sum of the medians of their decoder floor
// and the paste floor; the goal is 1.25x at every delay.
#include "records/DiagnosticEvent.h"
#include "support/E2EEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QThread>

#include "BenchmarkRun.h"
#include "LiveFloorDecoder.h"
#include "PlainDecoder.h"
#include "SpeechLaunch.h"
#include "SpeechScoring.h"

#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

using namespace std::chrono_literals;
using zq::DiagnosticEvent;
using zq::test::E2EEnvironment;
using zq::test::TextTargetWindow;

constexpr int kLaunches = 6; // the first one starts with nothing learnt
constexpr auto kMicrophoneFragment = 10ms;
// Releases after the last word, shortest first.
constexpr std::array<std::chrono::milliseconds, 4> kReleaseDelays{0ms, 150ms, 300ms, 700ms};
constexpr std::size_t kFirstTakeDelay = kReleaseDelays.size() - 1;
// A launch's warm takes, by delay: up the list and down again, twice, so no delay always follows another.
// A take's time swings with how far both decoders lag at the release (a few to over a hundred
// milliseconds on the same words): four takes per delay a launch, twenty-four over the run. Even so, a
// median within a few milliseconds of the limit can land on either side of it from run to run.
constexpr std::array<std::size_t, 16> kWarmOrder{0, 1, 2, 3, 3, 2, 1, 0, 0, 1, 2, 3, 3, 2, 1, 0};
// Each delay's warm takes against their floor: within this.
constexpr double kOverFloorLimit = 1.25;

// A recording of real speech up to its last word, with the words said in it.
struct Recording {
    std::vector<std::int16_t> words;
    QStringList reference;
};

std::vector<Recording> recordingsOf(const std::vector<zq::bench::LibrivoxLine> &lines)
{
    std::vector<Recording> recordings;
    for (const auto &line : lines) {
        std::vector<std::int16_t> pcm;
        for (const float sample : zq::bench::readWav(line.path).value_or(std::vector<float>{}))
            pcm.push_back(std::int16_t(std::lrint(std::clamp(sample, -1.0f, 1.0f) * 32767.0f)));
        if (!pcm.empty())
            recordings.push_back({zq::bench::wordsOnly(pcm), line.reference});
    }
    return recordings;
}

struct Takes {
    std::vector<double> seconds;
    int exact = 0;
    int errors = 0; // word edits from what was said
    int words = 0;  // words said

    void add(double elapsed, const QString &text, const QStringList &reference)
    {
        seconds.push_back(elapsed);
        const int edits =
            zq::bench::editDistance(reference, E2EEnvironment::normalizedWords(text).split(' ', Qt::SkipEmptyParts));
        exact += edits == 0 ? 1 : 0;
        errors += edits;
        words += int(reference.size());
    }
    void report(benchmark::State &state, const std::string &name)
    {
        if (seconds.empty())
            return;
        state.counters[name + "_takes"] = double(seconds.size());
        state.counters[name + "_exact"] = exact;
        state.counters[name + "_wer_%"] = 100.0 * errors / std::max(words, 1);
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

// Releases the trigger on `display` and returns at once.
bool releaseTrigger(Display *display)
{
    const KeyCode key = display ? XKeysymToKeycode(display, XStringToKeysym(E2EEnvironment::kTriggerKeyName)) : 0;
    return key != 0 && XTestFakeKeyEvent(display, key, False, CurrentTime) && XFlush(display);
}

// Everything the run measures.
struct Figures {
    Takes firstEver;
    Takes first;
    std::array<Takes, kReleaseDelays.size()> warm;
    std::array<Takes, kReleaseDelays.size()> decoderFloor; // beside each warm take
    Takes firstDecoderFloor;                               // beside each first take
    std::vector<double> pasteFloor;
};

// The paste floor, measured a few times on the launch's services once the application is gone.
bool measurePasteFloor(E2EEnvironment &env, Figures &figures)
{
    for (int i = 0; i < 3; ++i) {
        const auto bare = barePaste(env);
        if (!bare)
            return false;
        figures.pasteFloor.push_back(*bare);
    }
    return true;
}

// One launch's takes of `recordings` (its first into `first`) and the floor after it. The floor's
// decoder first hears `heardBefore`. False with the reason in `error`.
bool dictate(const std::vector<Recording> &recordings, const std::vector<Recording> &heardBefore, QByteArray &estimate,
             Takes &first, Figures &figures, QString &error)
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
    std::vector<std::vector<std::int16_t>> warm;
    for (const Recording &r : heardBefore)
        warm.push_back(r.words);
    zq::bench::LiveFloorDecoder floor(env.pulse().serverAddress(), warm);
    if (!floor.isReading()) {
        error = QStringLiteral("the floor's decoder cannot read the microphone");
        return false;
    }
    const std::unique_ptr<Display, int (*)(Display *)> display(XOpenDisplay(qPrintable(env.display())), XCloseDisplay);
    QThread::msleep(2000); // the user reaches for the trigger
    for (int take = 1; take <= int(kWarmOrder.size()) + 1; ++take) {
        const std::size_t delay = take == 1 ? kFirstTakeDelay : kWarmOrder[std::size_t(take - 2)];
        // The first takes, and the warm takes of each delay, speak the recordings in turn.
        Takes &floorTakes = take == 1 ? figures.firstDecoderFloor : figures.decoderFloor[delay];
        const Recording &said = recordings[floorTakes.seconds.size() % recordings.size()];
        env.target().clear();
        const auto pressedAfter = TextTargetWindow::monotonicNow();
        floor.press();
        env.pressTrigger();
        if (!env.waitForJournal(DiagnosticEvent::audioStartCompleted, take, 10s)) {
            error = QStringLiteral("the take's audio never started");
            return false;
        }
        // Room noise before the words, as a person pauses before speaking. The microphone starts the
        // words on a fragment's boundary, where the floor's stream always frames them; the application's
        // capture starts at the press, anywhere in a fragment. Each take starts its recording a few
        // samples in, so the floor too meets the words at many phases (word errors vary with it).
        QThread::msleep(300);
        const auto phase = static_cast<std::ptrdiff_t>(take * 37 % 160);
        env.feeder()->speak({said.words.begin() + phase, said.words.end()});
        env.feeder()->waitUntilSpoken(30s);
        if (kReleaseDelays[delay] > 0ms)
            QThread::msleep(static_cast<unsigned long>(kReleaseDelays[delay].count()));
        releaseTrigger(display.get());
        const auto floorFinal = floor.release(30s);

        const auto released = env.target().waitForKeyRelease(E2EEnvironment::kTriggerQtKey, pressedAfter, 5s);
        const auto pasted = env.target().waitForText([](const QString &text) { return !text.isEmpty(); }, 30s);
        if (!released || !pasted || !floorFinal) {
            error = !released ? QStringLiteral("the window saw no release")
                    : !pasted ? QStringLiteral("the words never arrived in the window")
                              : QStringLiteral("the floor's decoder gave no final text");
            return false;
        }
        const double elapsed = std::chrono::duration<double>(pasted->at - *released).count();
        (take == 1 ? first : figures.warm[delay]).add(elapsed, pasted->text, said.reference);
        floorTakes.add(std::chrono::duration<double>(floorFinal->at - *released).count(), floorFinal->text,
                       said.reference);
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
    if (!measurePasteFloor(env, figures)) {
        error = QStringLiteral("the floor's bare paste could not be measured");
        return false;
    }
    return true;
}

// The recogniser's state after a launch that dictated `others`; empty when it cannot be made.
QByteArray learntElsewhere(const std::vector<zq::bench::LibrivoxLine> &others)
{
    std::vector<std::vector<float>> takes;
    for (const auto &line : others)
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
    // The librivox sentences and the spoken command; before them, the library's other speakers.
    auto measured = zq::bench::librivoxLines();
    measured.push_back({E2EEnvironment::speechPath(), QString::fromLatin1(E2EEnvironment::kSpeechWords).split(' ')});
    auto otherLines = zq::bench::reportLines();
    std::erase_if(otherLines, [](const auto &line) { return line.path == E2EEnvironment::speechPath(); });
    const std::vector<Recording> recordings = recordingsOf(measured);
    const std::vector<Recording> others = recordingsOf(otherLines);
    if (recordings.size() < 2 || others.empty()) {
        state.SkipWithError("pocketsphinx-testdata is needed");
        return;
    }
    Figures figures;
    const QByteArray elsewhere = learntElsewhere(otherLines);
    if (elsewhere.isEmpty()) {
        state.SkipWithError("the recogniser learnt nothing from the other recordings");
        return;
    }
    for (auto _ : state) {
        for (int launch = 0; launch < kLaunches; ++launch) {
            QByteArray estimate = launch == 0 ? QByteArray() : elsewhere;
            QString error;
            if (!dictate(recordings, launch == 0 ? std::vector<Recording>() : others, estimate,
                         launch == 0 ? figures.firstEver : figures.first, figures, error)) {
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
    double spoken = 0;
    for (const Recording &r : recordings)
        spoken += double(r.words.size()) / zq::test::PipeFeeder::kSampleRateHz;
    state.counters["words_s"] = spoken / double(recordings.size());
    figures.firstEver.report(state, "first_ever");
    figures.first.report(state, "first");
    zq::bench::reportMedianAndWorst(state, figures.pasteFloor, "ms", 1000, "floor_paste_");
    const double paste = zq::bench::median(figures.pasteFloor);
    for (std::size_t d = 0; d < kReleaseDelays.size(); ++d) {
        const std::string delay = std::to_string(kReleaseDelays[d].count()) + "ms";
        figures.warm[d].report(state, "warm_" + delay);
        figures.decoderFloor[d].report(state, "floor_decoder_" + delay);
        zq::bench::reportRatio(state, "warm_" + delay + "_over_floor", figures.warm[d].seconds,
                               {zq::bench::median(figures.decoderFloor[d].seconds) + paste}, kOverFloorLimit);
    }
    figures.firstDecoderFloor.report(state, "floor_decoder_first");
    // Word errors of both sides on the same recordings, as figures: the two never decode the same samples
    // (the application's capture starts at the press, inside a microphone fragment), and on identical
    // samples the errors of either move with that phase by as much as the two differ here. The
    // transcription benchmark judges them on identical samples.
    std::array<int, 2> errors{figures.first.errors + figures.firstEver.errors, figures.firstDecoderFloor.errors};
    int words = figures.firstDecoderFloor.words;
    for (std::size_t d = 0; d < kReleaseDelays.size(); ++d) {
        errors[0] += figures.warm[d].errors;
        errors[1] += figures.decoderFloor[d].errors;
        words += figures.decoderFloor[d].words;
    }
    const double percent = 100.0 / std::max(words, 1);
    zq::bench::reportFigure("word errors on " + std::to_string(words) + " words, application", errors[0] * percent,
                            "%");
    zq::bench::reportFigure("word errors on the same words, floor", errors[1] * percent, "%");
    zq::bench::reportRatioCounters(state, "first_over_floor", figures.first.seconds,
                                   {zq::bench::median(figures.firstDecoderFloor.seconds) + paste});
    const Takes &warmAtFirstDelay = figures.warm[kFirstTakeDelay];
    if (!figures.first.seconds.empty() && !warmAtFirstDelay.seconds.empty())
        state.counters["first_over_warm"] =
            zq::bench::median(figures.first.seconds) / zq::bench::median(warmAtFirstDelay.seconds);
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

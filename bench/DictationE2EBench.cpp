// Trigger release to text in the front window, through the real application on private services.
// The application is launched several times, as a user quits and starts it again, and dictates every
// packaged recording of real speech whose words are listed with it, several takes per launch, each
// launch on fresh private services. Some are first launches with a fresh home; the ones after each go
// on from what the launch before left in its home (the recogniser's learnt channel and dictionary cut).
// The time of one take runs from the trigger's release to the text's arrival, both as the receiving
// window saw them (on the monotonic clock shared by every process); any text counts as arrived.
// Every take speaks its recording cut at its last word and releases the trigger a set delay after
// that word (0, 0.15, 0.3 or 0.7 s; the microphone's room noise fills the delay): at no delay the
// recogniser has all of the words still to finish after the release, at the longest it has heard the
// pause. The first take of each launch (released at the longest delay) and the later ("warm") takes
// are reported apart, the warm ones per delay; the first take of a fresh home on its own. The pipe
// microphone delivers its audio in 10 ms blocks, as a live microphone's fragments come, with the noise
// of a quiet room between the words.
//
// The floor of a take: the speech library's decoder with the application's search settings, beside
// the application through the whole launch and fed the same microphone live, in the same fragments:
// it starts its utterance at the press and ends its words on the same quarter-second pause as the
// application and the rest at the release, so at every delay both sides do the same work after the
// release (posted from here, so both hear of it at once). Its decoder is new at each fresh home and
// goes on from launch to launch after it, as the application's recogniser does.
// On top, a bare paste into the same window once the application has quit (another client owns the
// clipboard and Control+V is posted: from the posting of the keys to the text in the window).
// Goals: each delay's warm takes add at most a frame (16 ms) to the sum of the medians of their decoder
// floor and the paste floor; over all takes, no more word errors than the floor's beyond chance (also
// per recording and per kind of launch, as figures).
#include "records/DiagnosticEvent.h"
#include "support/E2EEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include "BenchmarkRun.h"
#include "LiveFloorDecoder.h"
#include "PlainDecoder.h"
#include "SpeechScoring.h"

#include <QProcess>

#include <benchmark/benchmark.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <numeric>
#include <vector>

namespace {

using namespace std::chrono_literals;
using zq::DiagnosticEvent;
using zq::test::E2EEnvironment;
using zq::test::TextTargetWindow;

// Per launch, whether it is a first launch with a fresh home; the others go on from the launch before.
constexpr std::array<bool, 6> kFreshHome{true, false, false, true, false, false};
constexpr auto kMicrophoneFragment = 10ms;
// A quiet room as a laptop's microphone hears it, about -55 dBFS, like the recordings' own background
// under their words (-64 to -44 dBFS); a near-silent room made the noise around the words unlike it.
constexpr std::int16_t kRoomNoise = 100;
// Releases after the last word, shortest first.
constexpr std::array<std::chrono::milliseconds, 4> kReleaseDelays{0ms, 150ms, 300ms, 700ms};
constexpr std::size_t kFirstTakeDelay = kReleaseDelays.size() - 1;
// A launch's warm takes, by delay: up the list and down again, twice, so no delay always follows another.
// A take's time swings with how far both decoders lag at the release (a few to over a hundred
// milliseconds on the same words): four takes per delay a launch, twenty-four over the run.
constexpr std::array<std::size_t, 16> kWarmOrder{0, 1, 2, 3, 3, 2, 1, 0, 0, 1, 2, 3, 3, 2, 1, 0};
// Each delay's warm takes against their floor: the time the application adds, within a frame. Its
// own hand-overs (the audio and the text crossing to and from the main thread, the front window, the
// clipboard, the modifier keys: 1.5 to 3 ms in a trace) are a fifth of an 8 ms floor, where a ratio
// would judge those constants; the decoder's end of input is judged by ratio in the transcription
// benchmark. The ratio is reported beside.
constexpr double kOverFloorLimitMs = 16;

// A recording of real speech up to its last word, with the words said in it.
struct Recording {
    QString name;
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
            recordings.push_back(
                {QFileInfo(line.path).dir().dirName() + QLatin1Char('/') + QFileInfo(line.path).completeBaseName(),
                 zq::bench::wordsOnly(pcm), line.reference});
    }
    return recordings;
}

int wordErrors(const QString &text, const QStringList &reference)
{
    return zq::bench::editDistance(reference, E2EEnvironment::normalizedWords(text).split(' ', Qt::SkipEmptyParts));
}

// Where each side's capture starts in the room noise moves a word here and there, either way (one
// decoder on the application's samples and on its own: 67 and 63 errors of 294 words). The application
// fails only when its excess is beyond this many standard errors of the takes' differences (about 2.4
// points here): a gap of 7 to 9 points fails; chance alone, one run in forty.
constexpr double kChanceLimit = 2.0;

// Word errors on the same takes against the words said: the application's, then the floor's.
struct Score {
    int words = 0;
    std::array<int, 2> errors{};
};

void reportScore(const std::string &name, const Score &score)
{
    char line[300];
    std::snprintf(line, sizeof line, "figure word errors %s on %d words: application %d, floor %d", name.c_str(),
                  score.words, score.errors[0], score.errors[1]);
    zq::bench::goalLines().emplace_back(line);
}

// The standard error of the sum of `values`, taken as independent draws of one distribution.
double standardErrorOfSum(const std::vector<int> &values)
{
    const double n = double(values.size());
    const double sum = std::accumulate(values.begin(), values.end(), 0.0);
    const double squares = std::inner_product(values.begin(), values.end(), values.begin(), 0.0);
    return n < 2 ? 0 : std::sqrt(n * (squares - sum * sum / n) / (n - 1));
}

// What a launch leaves in its home for the next: the recogniser's files by their place in the home.
using HomeFiles = std::vector<std::pair<QString, QByteArray>>;
const QStringList kCarriedFolders{QStringLiteral("/state/ZEPAquarn"), QStringLiteral("/cache/ZEPAquarn")};

QString homeOf(const E2EEnvironment &env)
{
    return QDir::cleanPath(env.stateDir() + QStringLiteral("/../.."));
}

struct Takes {
    std::vector<double> seconds;
    int errors = 0; // word edits from what was said
    int words = 0;  // words said

    void add(double elapsed, const QString &text, const QStringList &reference)
    {
        seconds.push_back(elapsed);
        errors += wordErrors(text, reference);
        words += int(reference.size());
    }
    void report(benchmark::State &state, const std::string &name)
    {
        if (seconds.empty())
            return;
        state.counters[name + "_takes"] = double(seconds.size());
        state.counters[name + "_wer_%"] = 100.0 * errors / std::max(words, 1);
        zq::bench::reportMedianAndWorst(state, seconds, "ms", 1000, name + "_");
    }
};

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

// A paste by a bare client: another program owns the clipboard with the words and Control+V is posted.
// Seconds from the posting of the keys to the words in the window; nothing when they never arrived.
std::optional<double> barePaste(E2EEnvironment &env, Display *display)
{
    const QString words = QStringLiteral("go forward ten meters");
    env.target().clear();
    if (!runOnDisplay(env, QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard")},
                      words.toUtf8()))
        return std::nullopt;
    const KeyCode control = XKeysymToKeycode(display, XK_Control_L);
    const KeyCode v = XKeysymToKeycode(display, XK_v);
    if (control == 0 || v == 0)
        return std::nullopt;
    const auto posted = TextTargetWindow::monotonicNow();
    for (const auto &[key, down] : {std::pair{control, True}, {v, True}, {v, False}, {control, False}})
        XTestFakeKeyEvent(display, key, down, CurrentTime);
    XFlush(display);
    const auto pasted = env.target().waitForText([&](const QString &text) { return text == words; }, 5s);
    if (!pasted)
        return std::nullopt;
    return std::chrono::duration<double>(pasted->at - posted).count();
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
    std::size_t takes = 0;
    std::vector<Score> byRecording;
    std::array<Score, 3> byLaunch; // fresh homes' launches, later launches, all
    std::vector<int> excess;       // per take, the application's word errors over the floor's
};

// The paste floor, measured a few times on the launch's services once the application is gone.
bool measurePasteFloor(E2EEnvironment &env, Figures &figures)
{
    const std::unique_ptr<Display, int (*)(Display *)> display(XOpenDisplay(qPrintable(env.display())), XCloseDisplay);
    if (!display)
        return false;
    for (int i = 0; i < 3; ++i) {
        const auto bare = barePaste(env, display.get());
        if (!bare)
            return false;
        figures.pasteFloor.push_back(*bare);
    }
    return true;
}

// One launch's takes of `recordings` (its first into `first`) and the floor after it, in a home with
// `home`'s files, which then holds what the launch left. False with the reason in `error`.
bool dictate(const std::vector<Recording> &recordings, zq::bench::PlainDecoder &floorDecoder, HomeFiles &home,
             bool fresh, Takes &first, Figures &figures, QString &error)
{
    // Private services sometimes fail to come up on a busy machine (a display taken meanwhile):
    // that is not what this measures, so they get a few tries.
    std::unique_ptr<E2EEnvironment> services;
    for (int attempt = 0; attempt < 3 && !services; ++attempt) {
        services = std::make_unique<E2EEnvironment>(zq::test::Microphone::Live, kMicrophoneFragment, kRoomNoise);
        if (!services->start() || !services->writeSettings()) {
            error = services->errorString();
            services.reset();
        }
    }
    if (!services)
        return false;
    E2EEnvironment &env = *services;
    for (const auto &[path, contents] : home) {
        QDir().mkpath(QFileInfo(homeOf(env) + path).path());
        QFile file(homeOf(env) + path);
        if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size()) {
            error = QStringLiteral("cannot carry the recogniser's files over");
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
    zq::bench::LiveFloorDecoder floor(env.pulse().serverAddress(), floorDecoder);
    if (!floor.isReading()) {
        error = QStringLiteral("the floor's decoder cannot read the microphone");
        return false;
    }
    const std::unique_ptr<Display, int (*)(Display *)> display(XOpenDisplay(qPrintable(env.display())), XCloseDisplay);
    QThread::msleep(2000); // the user reaches for the trigger
    for (int take = 1; take <= int(kWarmOrder.size()) + 1; ++take) {
        const std::size_t delay = take == 1 ? kFirstTakeDelay : kWarmOrder[std::size_t(take - 2)];
        // The takes speak the recordings in turn, from launch to launch.
        Takes &floorTakes = take == 1 ? figures.firstDecoderFloor : figures.decoderFloor[delay];
        const std::size_t index = figures.takes++ % recordings.size();
        const Recording &said = recordings[index];
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
        const std::array<int, 2> errors{wordErrors(pasted->text, said.reference),
                                        wordErrors(floorFinal->text, said.reference)};
        for (Score *score : {&figures.byRecording[index], &figures.byLaunch[fresh ? 0 : 1], &figures.byLaunch[2]}) {
            score->words += int(said.reference.size());
            score->errors[0] += errors[0];
            score->errors[1] += errors[1];
        }
        figures.excess.push_back(errors[0] - errors[1]);
        // Let the take end completely (done flash, clipboard restored) before the next press.
        env.waitForJournal(DiagnosticEvent::pasteSucceeded, take, 5s);
        QThread::msleep(1000);
    }
    if (!env.stopApp()) {
        error = QStringLiteral("the application did not quit cleanly");
        return false;
    }
    home.clear();
    for (const QString &folder : kCarriedFolders)
        for (const QFileInfo &entry : QDir(homeOf(env) + folder).entryInfoList(QDir::Files)) {
            QFile file(entry.filePath());
            if (file.open(QIODevice::ReadOnly))
                home.emplace_back(folder + QLatin1Char('/') + entry.fileName(), file.readAll());
        }
    if (!measurePasteFloor(env, figures)) {
        error = QStringLiteral("the floor's bare paste could not be measured");
        return false;
    }
    return true;
}

void releaseToText(benchmark::State &state)
{
    // Every packaged recording whose words are listed with it.
    auto lines = zq::bench::librivoxLines();
    for (auto &line : zq::bench::reportLines())
        lines.push_back(std::move(line));
    const std::vector<Recording> recordings = recordingsOf(lines);
    if (recordings.size() < 12) {
        state.SkipWithError("pocketsphinx-testdata is needed");
        return;
    }
    Figures figures;
    figures.byRecording.resize(recordings.size());
    for (auto _ : state) {
        std::unique_ptr<zq::bench::PlainDecoder> floorDecoder;
        HomeFiles home;
        for (const bool fresh : kFreshHome) {
            if (fresh) {
                home.clear();
                floorDecoder = std::make_unique<zq::bench::PlainDecoder>(zq::bench::applicationSearch());
            }
            QString error;
            if (!dictate(recordings, *floorDecoder, home, fresh, fresh ? figures.firstEver : figures.first, figures,
                         error)) {
                state.SkipWithError(qPrintable(error));
                return;
            }
            if (home.empty()) {
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
        const std::vector<double> floor{zq::bench::median(figures.decoderFloor[d].seconds) + paste};
        zq::bench::reportRatioCounters(state, "warm_" + delay + "_over_floor", figures.warm[d].seconds, floor);
        zq::bench::reportExcess("warm_" + delay + "_over_floor", figures.warm[d].seconds, floor, kOverFloorLimitMs);
    }
    figures.firstDecoderFloor.report(state, "floor_decoder_first");
    // Both sides decode the same samples: the application's capture starts a little after the press,
    // inside the room noise before the words, and ends with the same fragment as the floor's.
    for (std::size_t r = 0; r < recordings.size(); ++r)
        reportScore("in " + recordings[r].name.toStdString(), figures.byRecording[r]);
    reportScore("on fresh homes' launches", figures.byLaunch[0]);
    reportScore("on later launches", figures.byLaunch[1]);
    const Score &all = figures.byLaunch[2];
    const double chance = kChanceLimit * standardErrorOfSum(figures.excess);
    char figure[300];
    std::snprintf(figure, sizeof figure,
                  "application %.1f %% (%d), floor %.1f %% (%d) on %d words; the application's excess %d, "
                  "limit %.1f (%.0f standard errors of %zu takes' differences)",
                  100.0 * all.errors[0] / std::max(all.words, 1), all.errors[0],
                  100.0 * all.errors[1] / std::max(all.words, 1), all.errors[1], all.words,
                  all.errors[0] - all.errors[1], chance, kChanceLimit, figures.excess.size());
    zq::bench::addGoalLine("word_errors_within_floor", figure,
                           !figures.excess.empty() && all.errors[0] - all.errors[1] <= chance);
    zq::bench::reportRatioCounters(state, "first_over_floor", figures.first.seconds,
                                   {zq::bench::median(figures.firstDecoderFloor.seconds) + paste});
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

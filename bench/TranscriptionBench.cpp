// On-device transcription on packaged recordings of real speech, in one run: the word errors of our
// final text beside those of a plain live decoder with the model's stock search, of one with our
// search settings, and of decodes of each whole utterance with either, on two sets: the librivox
// recordings the recogniser's constants were tuned on (the channel estimate's prior weight and the
// search settings) and a report set that nothing was tuned on. Each measured take is the first of a
// launch that starts from what earlier launches learnt on other audio. Then the real-time factors of
// our decode and of the plain one, and the time from the end of the input to the final text for the
// first take of a launch and for later ones.
#include "platform/AudioFile.h"
#include "platform/linux/speech/PocketSphinxDecoder.h"
#include "platform/linux/speech/PocketSphinxRecognizer.h"
#include "support/SpeechSamples.h"
#include "support/VirtualLoop.h"
#include "transcription/LocalBackend.h"

#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include "BenchmarkRun.h"
#include "PlainDecoder.h"
#include "SpeechLaunch.h"
#include "SpeechScoring.h"

#include <benchmark/benchmark.h>

#include <pocketsphinx.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

using namespace zq;
using platform::AudioFormat;
using platform::SharedPCMBuffer;
using Clock = std::chrono::steady_clock;

namespace {

struct Recording {
    QString path;
    QStringList reference;
    std::vector<float> samples; // 16 kHz mono
    std::vector<std::int16_t> pcm;
};

std::vector<Recording> recordingsOf(std::vector<bench::LibrivoxLine> lines)
{
    std::vector<Recording> recordings;
    for (bench::LibrivoxLine &line : lines) {
        Recording r;
        r.path = std::move(line.path);
        r.reference = std::move(line.reference);
        r.samples = bench::readWav(r.path).value_or(std::vector<float>{});
        for (const float sample : r.samples)
            r.pcm.push_back(static_cast<std::int16_t>(std::lrint(std::clamp(sample, -1.0f, 1.0f) * 32767.0f)));
        if (!r.samples.empty())
            recordings.push_back(std::move(r));
    }
    return recordings;
}

// The tuning set.
std::vector<Recording> librivox()
{
    return recordingsOf(bench::librivoxLines());
}

QStringList wordsOf(const QString &text)
{
    return text.toLower().split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

using bench::launch;
using bench::liveSource;
using bench::quit;
using bench::run;
using bench::settle;
using bench::transcribeTake;

using bench::PlainDecoder;

int referenceWords(const std::vector<Recording> &set)
{
    int words = 0;
    for (const auto &r : set)
        words += static_cast<int>(r.reference.size());
    return words;
}

// The plain decoder's word errors on `set`, live or each utterance whole. A decoder that has decoded
// live once normalises live from then on, so each way gets a fresh one.
int plainErrors(const std::vector<Recording> &set, std::vector<const char *> search, PlainDecoder::Input input)
{
    PlainDecoder decoder(std::move(search));
    int errors = 0;
    for (const auto &r : set)
        errors += bench::editDistance(r.reference, wordsOf(decoder.decode(r.pcm, input)));
    return errors;
}

// What a launch that dictated `teachers` leaves for the next one, in `file`.
void learn(test::VirtualLoop &loop, const QString &file, const std::vector<const Recording *> &teachers)
{
    std::vector<std::vector<float>> takes;
    for (const Recording *r : teachers)
        takes.push_back(r->samples);
    bench::learnEstimate(loop, file, takes);
}

// Our word errors on one recording as the first take of a launch that starts from the estimate in
// `learnt` (a copy: the measured take teaches nothing to the next measurement).
int oursAsFirstTake(test::VirtualLoop &loop, const QString &learnt, const Recording &measured)
{
    QTemporaryDir state;
    const QString file = state.filePath(QStringLiteral("speech-channel.json"));
    QFile::copy(learnt, file);
    auto recognizer = launch(file);
    int errors = 0;
    {
        LocalBackend backend(loop, recognizer);
        errors = bench::editDistance(measured.reference, wordsOf(transcribeTake(loop, backend, measured.samples)));
    }
    quit(std::move(recognizer));
    return errors;
}

struct SetErrors {
    int words = 0;
    int ours = 0;
    int liveStock = 0;
    int liveSameSearch = 0;
    int wholeStock = 0;
    int wholeSameSearch = 0;
};

SetErrors plainSetErrors(const std::vector<Recording> &set)
{
    SetErrors e;
    e.words = referenceWords(set);
    e.liveStock = plainErrors(set, {}, PlainDecoder::Input::live);
    e.liveSameSearch = plainErrors(set, bench::applicationSearch(), PlainDecoder::Input::live);
    e.wholeStock = plainErrors(set, {}, PlainDecoder::Input::wholeUtterance);
    e.wholeSameSearch = plainErrors(set, bench::applicationSearch(), PlainDecoder::Input::wholeUtterance);
    return e;
}

void reportSet(benchmark::State &state, const std::string &set, const SetErrors &e, bool goal)
{
    const auto percent = [&e](int errors) { return 100.0 * errors / std::max(e.words, 1); };
    state.counters["wer_" + set + "_ours_%"] = percent(e.ours);
    state.counters["wer_" + set + "_live_stock_%"] = percent(e.liveStock);
    state.counters["wer_" + set + "_live_same_search_%"] = percent(e.liveSameSearch);
    state.counters["wer_" + set + "_whole_stock_%"] = percent(e.wholeStock);
    state.counters["wer_" + set + "_whole_same_search_%"] = percent(e.wholeSameSearch);
    state.counters[set + "_words"] = e.words;
    if (!goal)
        return;
    bench::reportFigure("word errors on the report set (" + std::to_string(e.words) + " words), ours", percent(e.ours),
                        "%");
    bench::reportFigure("word errors on the report set, plain live decoder with our search", percent(e.liveSameSearch),
                        "%");
    bench::reportFigure("word errors on the report set, whole utterances, stock search", percent(e.wholeStock), "%");
    bench::reportFigure("word errors on the report set, whole utterances, our search", percent(e.wholeSameSearch), "%");
}

void BM_WordErrorRate(benchmark::State &state)
{
    bench::prepareDictionaryCut();
    QLoggingCategory::setFilterRules(QStringLiteral("io.quorvane.zepaquarn.*=false"));
    const auto tuning = librivox();
    const auto report = recordingsOf(bench::reportLines());
    if (tuning.empty() || report.empty() || !platform::PocketSphinxModel::debianEnglish().isInstalled()) {
        state.SkipWithError("pocketsphinx-testdata and pocketsphinx-en-us are needed");
        return;
    }
    if (!PlainDecoder().isLoaded()) {
        state.SkipWithError("the speech model does not load");
        return;
    }
    double audioSeconds = 0;
    for (const auto &r : report)
        audioSeconds += static_cast<double>(r.samples.size()) / 16000.0;

    for (auto _ : state) {
        test::VirtualLoop loop;
        SetErrors onTuning = plainSetErrors(tuning);
        SetErrors onReport = plainSetErrors(report);

        // Ours on the tuning set: each recording the first take of a launch after one that dictated
        // the other tuning recordings.
        for (std::size_t i = 0; i < tuning.size(); ++i) {
            QTemporaryDir learnt;
            const QString file = learnt.filePath(QStringLiteral("speech-channel.json"));
            std::vector<const Recording *> others;
            for (std::size_t j = 0; j < tuning.size(); ++j)
                if (j != i)
                    others.push_back(&tuning[j]);
            learn(loop, file, others);
            onTuning.ours += oursAsFirstTake(loop, file, tuning[i]);
        }
        // Ours on the report set: each recording the first take of a launch after one that dictated
        // the whole tuning set, other speakers on other microphones.
        {
            QTemporaryDir learnt;
            const QString file = learnt.filePath(QStringLiteral("speech-channel.json"));
            std::vector<const Recording *> all;
            for (const auto &r : tuning)
                all.push_back(&r);
            learn(loop, file, all);
            for (const auto &r : report)
                onReport.ours += oursAsFirstTake(loop, file, r);
        }

        state.counters["report_audio_s"] = audioSeconds;
        reportSet(state, "tuning", onTuning, false);
        reportSet(state, "report", onReport, true);
        // On both sets: ours no worse than a plain live decoder with our search on the same samples.
        const int words = onTuning.words + onReport.words;
        bench::reportLimit("word errors on both sets (" + std::to_string(words) +
                               " words), ours (the plain live decoder with our search as limit)",
                           100.0 * (onTuning.ours + onReport.ours) / words,
                           100.0 * (onTuning.liveSameSearch + onReport.liveSameSearch) / words, "%");
    }
}
BENCHMARK(BM_WordErrorRate)->Iterations(1)->Unit(benchmark::kSecond);

// Recognition speed on equal work: each recording decoded by our engine (a warm recogniser, the take
// handed over at once) and by the library's decoder with the same search settings, one after the other
// per file so that both see the same load; the real-time factors and ours over the plain one.
void BM_RecognitionSpeed(benchmark::State &state)
{
    QLoggingCategory::setFilterRules(QStringLiteral("io.quorvane.zepaquarn.*=false"));
    const auto recordings = librivox();
    if (recordings.empty() || !platform::PocketSphinxModel::debianEnglish().isInstalled()) {
        state.SkipWithError("pocketsphinx-testdata and pocketsphinx-en-us are needed");
        return;
    }
    test::VirtualLoop loop;
    auto recognizer = launch({});
    PlainDecoder plain(bench::applicationSearch());
    double audioSeconds = 0;
    double ourSeconds = 0;
    double plainSeconds = 0;
    for (auto _ : state) {
        {
            LocalBackend warmUp(loop, recognizer);
            transcribeTake(loop, warmUp, recordings.front().samples);
        }
        plain.decode(recordings.front().pcm, PlainDecoder::Input::live);
        for (const auto &r : recordings) {
            audioSeconds += static_cast<double>(r.samples.size()) / 16000.0;
            LocalBackend backend(loop, recognizer);
            auto start = Clock::now();
            transcribeTake(loop, backend, r.samples);
            ourSeconds += std::chrono::duration<double>(Clock::now() - start).count();
            start = Clock::now();
            plain.decode(r.pcm, PlainDecoder::Input::live);
            plainSeconds += std::chrono::duration<double>(Clock::now() - start).count();
        }
    }
    quit(std::move(recognizer));
    state.counters["rtf_ours"] = ourSeconds / audioSeconds;
    state.counters["rtf_plain_same_search"] = plainSeconds / audioSeconds;
    state.counters["ours_over_plain"] = plainSeconds > 0 ? ourSeconds / plainSeconds : 0.0;
}
BENCHMARK(BM_RecognitionSpeed)->Iterations(1)->Unit(benchmark::kSecond);

// Takes at the pace of speech (0.1 s blocks every 0.1 s): the time from the end of the input to the
// final text, for the first take of each launch (which starts from an estimate an earlier launch
// learnt on other speech) and for the takes after it. Its floor, interleaved take by take on the same
// audio at the same pace: the library's decoder with the same search settings, loaded with the launch
// for its first take (a decoder's first utterance ends slower: 14 ms against 10 warm) and warm for
// the others. Both hear each recording cut at its last word: with its quiet tail our recogniser would
// end the utterance at the pause, before the end of the input, while the library's decoder has no
// such rule and would search the tail at the end.
// The takes speak the librivox sentences and the spoken command in turn, each launch starting one
// further along: the first takes speak every recording twice, the warm ones each four times, and each
// kind is judged against the floor of its own takes. A take's time swings with its words and with how
// far the decoders lag at the end: one recording's few takes are no measure.
// The end of decoding against the library's decoder on the same audio: within this.
constexpr double kOverFloorLimit = 1.25;

struct PacedRecording {
    std::vector<std::int16_t> pcm; // up to the last word
    std::vector<SharedPCMBuffer> blocks;
    QStringList reference;
};

std::vector<PacedRecording> pacedRecordings(std::vector<bench::LibrivoxLine> lines)
{
    std::vector<PacedRecording> paced;
    for (Recording &r : recordingsOf(std::move(lines))) {
        PacedRecording p;
        p.pcm = bench::wordsOnly(r.pcm);
        std::vector<float> samples;
        for (const std::int16_t sample : p.pcm)
            samples.push_back(float(sample) / 32767.0f);
        p.blocks = test::asMicBlocks(samples);
        p.reference = std::move(r.reference);
        paced.push_back(std::move(p));
    }
    return paced;
}

void BM_EndOfInputToFinalText(benchmark::State &state)
{
    QLoggingCategory::setFilterRules(QStringLiteral("io.quorvane.zepaquarn.*=false"));
    auto measuredLines = bench::librivoxLines();
    auto teacherLines = bench::reportLines();
    const auto command = std::find_if(teacherLines.begin(), teacherLines.end(), [](const auto &line) {
        return line.path.endsWith(QLatin1String("goforward.raw"));
    });
    if (command != teacherLines.end()) {
        measuredLines.push_back(*command);
        teacherLines.erase(command);
    }
    const std::vector<PacedRecording> recordings = pacedRecordings(std::move(measuredLines));
    const std::vector<Recording> teachers = recordingsOf(std::move(teacherLines));
    if (recordings.size() < 2 || teachers.empty() || !platform::PocketSphinxModel::debianEnglish().isInstalled()) {
        state.SkipWithError("pocketsphinx-testdata and pocketsphinx-en-us are needed");
        return;
    }
    constexpr int kLaunches = 12;
    constexpr int kTakesPerLaunch = 3;
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("speech-channel.json"));
    test::VirtualLoop loop;
    // A launch before the measured ones leaves its estimate, learnt on other speakers than the takes'.
    std::vector<const Recording *> others;
    for (const auto &r : teachers)
        others.push_back(&r);
    learn(loop, file, others);

    std::vector<double> first;
    std::vector<double> warm;
    std::vector<double> firstFloor;
    std::vector<double> warmFloor;
    PlainDecoder plain(bench::applicationSearch());
    plain.decode(recordings.front().pcm, PlainDecoder::Input::live);
    int wrong = 0;
    const QString learnt = folder.filePath(QStringLiteral("learnt-elsewhere.json"));
    QFile::copy(file, learnt);
    for (auto _ : state) {
        for (int l = 0; l < kLaunches; ++l) {
            // Every launch starts from what was learnt elsewhere, not from what the measured takes taught.
            QFile::remove(file);
            QFile::copy(learnt, file);
            auto recognizer = launch(file);
            PlainDecoder launched(bench::applicationSearch());
            std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the user reaches for the trigger
            for (int take = 0; take < kTakesPerLaunch; ++take) {
                const PacedRecording &said = recordings[std::size_t(l + take) % recordings.size()];
                rt::AsyncChannel<SharedPCMBuffer> stream;
                LocalBackend backend(loop, recognizer);
                auto outcome = run(loop, backend, liveSource(stream));
                Clock::time_point endOfInput;
                std::thread feeder([&] {
                    auto next = Clock::now();
                    for (const auto &block : said.blocks) {
                        std::this_thread::sleep_until(next);
                        stream.send(block);
                        next += std::chrono::milliseconds(100);
                    }
                    std::this_thread::sleep_until(next);
                    endOfInput = Clock::now();
                    stream.finish();
                });
                settle(loop, [&] { return outcome->done; });
                feeder.join();
                wrong += wordsOf(outcome->finalText) != said.reference ? 1 : 0;
                const double ms = std::chrono::duration<double, std::milli>(outcome->finalAt - endOfInput).count();
                (take == 0 ? first : warm).push_back(ms);
                (take == 0 ? firstFloor : warmFloor)
                    .push_back(1000.0 * (take == 0 ? launched : plain).endOfInputToFinal(said.pcm));
            }
            quit(std::move(recognizer));
        }
    }
    zq::bench::reportRatio(state, "warm_over_floor", warm, warmFloor, kOverFloorLimit);
    zq::bench::reportRatio(state, "first_over_floor", first, firstFloor, kOverFloorLimit);
    zq::bench::reportMedianAndWorst(state, std::move(first), "ms", 1.0, "first_");
    zq::bench::reportMedianAndWorst(state, std::move(warm), "ms", 1.0, "warm_");
    zq::bench::reportMedianAndWorst(state, std::move(firstFloor), "ms", 1.0, "floor_first_");
    zq::bench::reportMedianAndWorst(state, std::move(warmFloor), "ms", 1.0, "floor_warm_");
    state.counters["recordings"] = double(recordings.size());
    state.counters["wrong_takes"] = wrong;
}
BENCHMARK(BM_EndOfInputToFinalText)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char **argv)
{
    return zq::bench::runBenchmarks(argc, argv);
}

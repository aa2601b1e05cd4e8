// On-device transcription on the packaged recordings of real speech, in one run: the word errors
// of our final text beside those of the live decoder as it was (the model's stock search and
// channel estimate) and of a decode of each whole utterance, the real-time factors of our decode
// and of the plain one, and the time from the end of the input to the final text for the first
// take of a launch and for later ones.
#include "platform/AudioFile.h"
#include "platform/linux/PocketSphinxDecoder.h"
#include "platform/linux/PocketSphinxRecognizer.h"
#include "support/SpeechSamples.h"
#include "support/VirtualLoop.h"
#include "transcription/LocalBackend.h"

#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include "BenchmarkRun.h"
#include "PlainDecoder.h"
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

std::vector<Recording> librivox()
{
    std::vector<Recording> recordings;
    for (bench::LibrivoxLine &line : bench::librivoxLines()) {
        Recording r;
        r.path = std::move(line.path);
        r.reference = std::move(line.reference);
        r.samples = bench::readWav(r.path).value_or(std::vector<float>{});
        for (const float sample : r.samples)
            r.pcm.push_back(static_cast<std::int16_t>(std::lrint(std::clamp(sample, -1.0f, 1.0f) * 32767.0f)));
        recordings.push_back(std::move(r));
    }
    return recordings;
}

QStringList wordsOf(const QString &text)
{
    return text.toLower().split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

struct Outcome {
    QString finalText;
    bool done = false;
    Clock::time_point finalAt;
};

rt::Task<void> collect(rt::AsyncChannel<TranscriptUpdate> channel, std::shared_ptr<Outcome> outcome)
{
    try {
        while (auto update = co_await channel.next())
            if (update->isFinal()) {
                outcome->finalText = update->text;
                outcome->finalAt = Clock::now();
            }
    } catch (...) {
    }
    outcome->done = true;
}

bool settle(test::VirtualLoop &loop, const std::function<bool()> &predicate)
{
    for (int i = 0; i < 60000; ++i)
        if (loop.runUntil(predicate, std::chrono::milliseconds(2)))
            return true;
    return false;
}

std::shared_ptr<Outcome> run(test::VirtualLoop &loop, LocalBackend &backend, AudioSource source)
{
    auto outcome = std::make_shared<Outcome>();
    rt::spawn(loop, collect(backend.transcribe(std::move(source), QStringLiteral("en"), {}), outcome));
    return outcome;
}

AudioSource liveSource(rt::AsyncChannel<SharedPCMBuffer> stream)
{
    AudioFormat f;
    f.sampleRate = 48000;
    f.channelCount = 2;
    return AudioSource::stream(std::move(stream), f);
}

// A whole take handed over at once, as a microphone would have given it.
QString transcribeTake(test::VirtualLoop &loop, LocalBackend &backend, const std::vector<float> &samples)
{
    rt::AsyncChannel<SharedPCMBuffer> stream;
    for (auto &block : test::asMicBlocks(samples))
        stream.send(block);
    stream.finish();
    auto outcome = run(loop, backend, liveSource(stream));
    settle(loop, [&] { return outcome->done; });
    return outcome->finalText;
}

// A launch of the application's recogniser: a new model that reads the estimate `file` once loaded.
std::shared_ptr<platform::PocketSphinxRecognizer> launch(const QString &file)
{
    auto recognizer = std::make_shared<platform::PocketSphinxRecognizer>(
        platform::PocketSphinxModel::debianEnglish(), platform::PocketSphinxRecognizer::Preload::atOnce, file);
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (QFile::exists(file) && !recognizer->pool()->channelEstimate() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return recognizer;
}

// Quits a launch: drops the recogniser and waits until its last take has saved the estimate.
void quit(std::shared_ptr<platform::PocketSphinxRecognizer> recognizer)
{
    std::weak_ptr<platform::PocketSphinxDecoderPool> pool = recognizer->pool();
    recognizer.reset();
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!pool.expired() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

using bench::PlainDecoder;

void BM_WordErrorRate(benchmark::State &state)
{
    QLoggingCategory::setFilterRules(QStringLiteral("io.quorvane.zepaquarn.*=false"));
    const auto recordings = librivox();
    if (recordings.empty() || !platform::PocketSphinxModel::debianEnglish().isInstalled()) {
        state.SkipWithError("pocketsphinx-testdata and pocketsphinx-en-us are needed");
        return;
    }
    double audioSeconds = 0;
    int referenceWords = 0;
    for (const auto &r : recordings) {
        audioSeconds += static_cast<double>(r.samples.size()) / 16000.0;
        referenceWords += static_cast<int>(r.reference.size());
    }
    const auto percent = [&](int errors) { return 100.0 * errors / referenceWords; };

    for (auto _ : state) {
        // The live decoder as it was: stock search and estimate, the files one after another.
        PlainDecoder plain;
        if (!plain.isLoaded()) {
            state.SkipWithError("the speech model does not load");
            return;
        }
        int liveErrors = 0;
        for (const auto &r : recordings)
            liveErrors += bench::editDistance(r.reference, wordsOf(plain.decode(r.pcm, PlainDecoder::Input::live)));
        PlainDecoder plainOurSearch(bench::applicationSearch());
        int liveOurSearchErrors = 0;
        for (const auto &r : recordings)
            liveOurSearchErrors +=
                bench::editDistance(r.reference, wordsOf(plainOurSearch.decode(r.pcm, PlainDecoder::Input::live)));

        // Each whole utterance at once, with the stock search and with ours. A decoder that has
        // decoded live once normalises live from then on, so these are fresh ones.
        PlainDecoder whole;
        int wholeErrors = 0;
        for (const auto &r : recordings)
            wholeErrors +=
                bench::editDistance(r.reference, wordsOf(whole.decode(r.pcm, PlainDecoder::Input::wholeUtterance)));
        PlainDecoder ourSearch(bench::applicationSearch());
        int wholeOurSearchErrors = 0;
        for (const auto &r : recordings)
            wholeOurSearchErrors +=
                bench::editDistance(r.reference, wordsOf(ourSearch.decode(r.pcm, PlainDecoder::Input::wholeUtterance)));

        // Ours, through the engine: each recording is the first take of a launch that starts from
        // what an earlier launch learnt from the other recordings. (A later take of one launch
        // starts from the same estimate, carried in memory instead of in the file.)
        test::VirtualLoop loop;
        int ourErrors = 0;
        for (std::size_t i = 0; i < recordings.size(); ++i) {
            QTemporaryDir state;
            const QString file = state.filePath(QStringLiteral("speech-channel.json"));
            auto earlier = launch(file);
            for (std::size_t j = 0; j < recordings.size(); ++j)
                if (j != i) {
                    LocalBackend backend(loop, earlier);
                    transcribeTake(loop, backend, recordings[j].samples);
                }
            quit(std::move(earlier));
            auto recognizer = launch(file);
            {
                LocalBackend backend(loop, recognizer);
                ourErrors += bench::editDistance(recordings[i].reference,
                                                 wordsOf(transcribeTake(loop, backend, recordings[i].samples)));
            }
            quit(std::move(recognizer));
        }

        // Ours on a first launch ever: nothing learnt yet.
        int firstEverErrors = 0;
        for (const auto &r : recordings) {
            auto recognizer = launch({});
            {
                LocalBackend backend(loop, recognizer);
                firstEverErrors += bench::editDistance(r.reference, wordsOf(transcribeTake(loop, backend, r.samples)));
            }
            quit(std::move(recognizer));
        }

        state.counters["audio_s"] = audioSeconds;
        state.counters["wer_ours_%"] = percent(ourErrors);
        state.counters["wer_live_alone_%"] = percent(liveErrors);
        state.counters["wer_live_our_search_%"] = percent(liveOurSearchErrors);
        state.counters["wer_whole_%"] = percent(wholeErrors);
        state.counters["wer_whole_our_search_%"] = percent(wholeOurSearchErrors);
        state.counters["wer_ours_first_launch_%"] = percent(firstEverErrors);
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
// final text, for the first take of each launch (which starts from the estimate the launch before
// saved) and for the takes after it. Its floor, interleaved take by take on the same audio at the same
// pace: the library's decoder with the same search settings, warm.
void BM_EndOfInputToFinalText(benchmark::State &state)
{
    QLoggingCategory::setFilterRules(QStringLiteral("io.quorvane.zepaquarn.*=false"));
    const std::vector<float> samples = test::loadRawSpeech(test::kGoForwardSpeech);
    if (samples.empty() || !platform::PocketSphinxModel::debianEnglish().isInstalled()) {
        state.SkipWithError("pocketsphinx-testdata and pocketsphinx-en-us are needed");
        return;
    }
    constexpr int kLaunches = 3;
    constexpr int kTakesPerLaunch = 4;
    const auto blocks = test::asMicBlocks(samples);
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("speech-channel.json"));
    test::VirtualLoop loop;
    auto earlier = launch(file); // a launch before the measured ones leaves its estimate
    {
        LocalBackend backend(loop, earlier);
        transcribeTake(loop, backend, samples);
    }
    quit(std::move(earlier));

    std::vector<double> first;
    std::vector<double> warm;
    std::vector<double> floor;
    std::vector<std::int16_t> pcm;
    for (const float sample : samples)
        pcm.push_back(static_cast<std::int16_t>(std::lrint(std::clamp(sample, -1.0f, 1.0f) * 32767.0f)));
    PlainDecoder plain(bench::applicationSearch());
    plain.decode(pcm, PlainDecoder::Input::live);
    int wrong = 0;
    for (auto _ : state) {
        for (int l = 0; l < kLaunches; ++l) {
            auto recognizer = launch(file);
            std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the user reaches for the trigger
            for (int take = 0; take < kTakesPerLaunch; ++take) {
                rt::AsyncChannel<SharedPCMBuffer> stream;
                LocalBackend backend(loop, recognizer);
                auto outcome = run(loop, backend, liveSource(stream));
                Clock::time_point endOfInput;
                std::thread feeder([&] {
                    auto next = Clock::now();
                    for (const auto &block : blocks) {
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
                wrong += outcome->finalText != QLatin1String("go forward ten meters") ? 1 : 0;
                const double ms = std::chrono::duration<double, std::milli>(outcome->finalAt - endOfInput).count();
                (take == 0 ? first : warm).push_back(ms);
                floor.push_back(1000.0 * plain.endOfInputToFinal(pcm));
            }
            quit(std::move(recognizer));
        }
    }
    zq::bench::reportRatio(state, "warm_over_floor", warm, floor);
    zq::bench::reportRatio(state, "first_over_floor", first, floor);
    zq::bench::reportMedianAndWorst(state, std::move(first), "ms", 1.0, "first_");
    zq::bench::reportMedianAndWorst(state, std::move(warm), "ms", 1.0, "warm_");
    zq::bench::reportMedianAndWorst(state, std::move(floor), "ms", 1.0, "floor_");
    state.counters["wrong_takes"] = wrong;
}
BENCHMARK(BM_EndOfInputToFinalText)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char **argv)
{
    return zq::bench::runBenchmarks(argc, argv);
}

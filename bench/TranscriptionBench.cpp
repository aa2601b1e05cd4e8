// On-device transcription: speed (real-time factor, end of input to final text) and accuracy
// (word error rate on the packaged recordings of real speech) through the engine's own file and
// live-stream paths, beside a plain decode of the same files with the same model.
#include "platform/AudioFile.h"
#include "platform/linux/PocketSphinxDecoder.h"
#include "platform/linux/PocketSphinxRecognizer.h"
#include "support/SpeechSamples.h"
#include "support/VirtualLoop.h"
#include "transcription/LocalBackend.h"

#include <QFile>
#include <QLoggingCategory>
#include <QRegularExpression>

#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>

using namespace zq;
using platform::AudioFormat;
using platform::SharedPCMBuffer;
using Clock = std::chrono::steady_clock;

namespace {

const QString kLibrivox = QStringLiteral("/usr/share/pocketsphinx/test/data/librivox/");

struct Recording {
    QString path;
    QStringList reference;
    std::vector<float> samples; // 16 kHz mono
};

std::vector<float> readWav(const QString &path)
{
    std::vector<float> samples;
    auto file = platform::AudioFile::openForReading(path);
    if (!file)
        return samples;
    for (;;) {
        auto block = file.value()->read(8192);
        if (!block || block.value()->frameLength() == 0)
            break;
        samples.insert(samples.end(), block.value()->channelData(0),
                       block.value()->channelData(0) + block.value()->frameLength());
    }
    return samples;
}

std::vector<Recording> librivox()
{
    std::vector<Recording> recordings;
    QFile list(kLibrivox + QStringLiteral("transcription"));
    if (!list.open(QIODevice::ReadOnly))
        return recordings;
    static const QRegularExpression line(QStringLiteral(R"(<s>\s*(.*?)\s*</s>\s*\((\S+)\))"));
    for (const QString &text : QString::fromUtf8(list.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const auto match = line.match(text);
        if (!match.hasMatch())
            continue;
        Recording r;
        r.path = kLibrivox + match.captured(2) + QStringLiteral(".wav");
        r.reference = match.captured(1).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        r.samples = readWav(r.path);
        recordings.push_back(std::move(r));
    }
    return recordings;
}

int editDistance(const QStringList &a, const QStringList &b)
{
    std::vector<int> row(static_cast<std::size_t>(b.size()) + 1);
    for (std::size_t j = 0; j < row.size(); ++j)
        row[j] = static_cast<int>(j);
    for (qsizetype i = 1; i <= a.size(); ++i) {
        int diagonal = row[0];
        row[0] = static_cast<int>(i);
        for (qsizetype j = 1; j <= b.size(); ++j) {
            const int up = row[static_cast<std::size_t>(j)];
            row[static_cast<std::size_t>(j)] =
                std::min({up + 1, row[static_cast<std::size_t>(j - 1)] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = up;
        }
    }
    return row.back();
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

    for (auto _ : state) {
        // Plain: one decoder, each file one utterance fed whole.
        auto decoder = platform::PocketSphinxDecoder::load(platform::PocketSphinxModel::debianEnglish()).value();
        int plainErrors = 0;
        const auto plainStart = Clock::now();
        for (const auto &r : recordings) {
            std::vector<std::int16_t> pcm(r.samples.size());
            for (std::size_t i = 0; i < pcm.size(); ++i)
                pcm[i] = static_cast<std::int16_t>(std::clamp(r.samples[i], -1.0f, 1.0f) * 32767.0f);
            decoder->startUtterance();
            decoder->process(pcm.data(), pcm.size());
            decoder->endUtterance();
            plainErrors += editDistance(r.reference, wordsOf(decoder->hypothesis()));
        }
        const double plainSeconds = std::chrono::duration<double>(Clock::now() - plainStart).count();

        // The engine's file path.
        test::VirtualLoop loop;
        auto recognizer = std::make_shared<platform::PocketSphinxRecognizer>();
        settle(loop, [&] { return recognizer->pool()->loadCount() == 1; });
        std::this_thread::sleep_for(std::chrono::milliseconds(800)); // the background load finishes
        LocalBackend backend(loop, recognizer);
        int fileErrors = 0;
        const auto fileStart = Clock::now();
        for (const auto &r : recordings) {
            auto outcome = run(loop, backend, AudioSource::file(r.path));
            settle(loop, [&] { return outcome->done; });
            fileErrors += editDistance(r.reference, wordsOf(outcome->finalText));
        }
        const double fileSeconds = std::chrono::duration<double>(Clock::now() - fileStart).count();

        // The engine's live path, on a fresh model (so its first take is a cold one).
        auto liveRecognizer = std::make_shared<platform::PocketSphinxRecognizer>();
        LocalBackend liveBackend(loop, liveRecognizer);
        int streamErrors = 0;
        for (const auto &r : recordings) {
            rt::AsyncChannel<SharedPCMBuffer> stream;
            for (auto &block : test::asMicBlocks(r.samples))
                stream.send(block);
            stream.finish();
            AudioFormat f;
            f.sampleRate = 48000;
            f.channelCount = 2;
            auto outcome = run(loop, liveBackend, AudioSource::stream(stream, f));
            settle(loop, [&] { return outcome->done; });
            streamErrors += editDistance(r.reference, wordsOf(outcome->finalText));
        }

        state.counters["audio_s"] = audioSeconds;
        state.counters["wer_plain_%"] = 100.0 * plainErrors / referenceWords;
        state.counters["wer_file_%"] = 100.0 * fileErrors / referenceWords;
        state.counters["wer_stream_%"] = 100.0 * streamErrors / referenceWords;
        state.counters["rtf_plain"] = plainSeconds / audioSeconds;
        state.counters["rtf_file"] = fileSeconds / audioSeconds;
    }
}
BENCHMARK(BM_WordErrorRate)->Iterations(1)->Unit(benchmark::kSecond);

// A live take at the pace of speech (0.1 s blocks every 0.1 s): time from the end of the input to
// the final text.
void BM_EndOfInputToFinalText(benchmark::State &state)
{
    QLoggingCategory::setFilterRules(QStringLiteral("io.quorvane.zepaquarn.*=false"));
    const std::vector<float> samples = test::loadRawSpeech(test::kGoForwardSpeech);
    if (samples.empty() || !platform::PocketSphinxModel::debianEnglish().isInstalled()) {
        state.SkipWithError("pocketsphinx-testdata and pocketsphinx-en-us are needed");
        return;
    }
    const auto blocks = test::asMicBlocks(samples);

    test::VirtualLoop loop;
    auto recognizer = std::make_shared<platform::PocketSphinxRecognizer>();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    LocalBackend backend(loop, recognizer);
    double totalMs = 0;
    double worstMs = 0;
    int takes = 0;
    for (auto _ : state) {
        rt::AsyncChannel<SharedPCMBuffer> stream;
        AudioFormat f;
        f.sampleRate = 48000;
        f.channelCount = 2;
        auto outcome = run(loop, backend, AudioSource::stream(stream, f));
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
        if (outcome->finalText != QLatin1String("go forward ten meters"))
            state.SkipWithError("wrong text");
        const double ms = std::chrono::duration<double, std::milli>(outcome->finalAt - endOfInput).count();
        totalMs += ms;
        worstMs = std::max(worstMs, ms);
        ++takes;
    }
    state.counters["end_to_final_ms"] = takes ? totalMs / takes : 0;
    state.counters["worst_ms"] = worstMs;
}
BENCHMARK(BM_EndOfInputToFinalText)->Iterations(5)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();

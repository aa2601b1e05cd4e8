// The user's dictionary on the on-device recogniser, in one run: how often the dictionary's names
// and jargon come out right in phrases spoken by espeak-ng voices, with the dictionary and without;
// the word error rate on the packaged recordings of real speech with and without it; the real-time
// factor both ways; and what setting a vocabulary on a decoder costs when it changes and when it
// stays the same.
#include "platform/AudioFile.h"
#include "platform/linux/speech/EspeakPronouncer.h"
#include "platform/linux/speech/PocketSphinxDecoder.h"
#include "platform/linux/speech/PocketSphinxRecognizer.h"
#include "support/SpeechSamples.h"
#include "support/SpokenText.h"
#include "support/VirtualLoop.h"
#include "transcription/LocalBackend.h"

#include <QFile>
#include <QLoggingCategory>
#include <QSet>

#include "BenchmarkRun.h"
#include "SpeechLaunch.h"
#include "SpeechScoring.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <tuple>

using namespace zq;
using platform::AudioFormat;
using platform::SharedPCMBuffer;
using Clock = std::chrono::steady_clock;

namespace {

// The voices that the packaged model understands best; every phrase is spoken by each.
const QStringList kVoices = {QStringLiteral("en-us"), QStringLiteral("en-us+m1"), QStringLiteral("en-us+m7")};

struct Take {
    QStringList reference;       // lower case
    QStringList dictionaryWords; // the reference's words that come from the dictionary, lower case
    std::vector<float> samples;  // 16 kHz mono
};

struct Phrases {
    QStringList entries;
    std::vector<Take> takes;
};

// The dictionary entries and the phrases of the data file.
std::pair<QStringList, QStringList> phraseFile()
{
    QStringList entries;
    QStringList lines;
    QFile file(QStringLiteral(ZQ_BENCH_DATA_DIR "/dictionary-phrases.txt"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    for (const QString &line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1String("entry: ")))
            entries << line.mid(7).trimmed();
        else
            lines << line.trimmed();
    }
    return {entries, lines};
}

Phrases spokenPhrases()
{
    Phrases phrases;
    QStringList lines;
    std::tie(phrases.entries, lines) = phraseFile();
    QSet<QString> dictionaryWords;
    for (const QString &entry : phrases.entries)
        for (const QString &word : entry.split(QLatin1Char(' '), Qt::SkipEmptyParts))
            dictionaryWords.insert(word.toLower());
    for (const QString &voice : kVoices) {
        for (const QString &line : lines) {
            Take take;
            take.reference = line.toLower().split(QLatin1Char(' '), Qt::SkipEmptyParts);
            for (const QString &word : take.reference)
                if (dictionaryWords.contains(word))
                    take.dictionaryWords << word;
            take.samples = test::speakText(line, voice);
            if (take.samples.empty())
                return {};
            phrases.takes.push_back(std::move(take));
        }
    }
    return phrases;
}

std::vector<Take> librivox()
{
    std::vector<Take> takes;
    for (bench::LibrivoxLine &line : bench::librivoxLines()) {
        Take take;
        take.reference = std::move(line.reference);
        auto samples = bench::readWav(line.path);
        if (!samples)
            return {};
        take.samples = std::move(*samples);
        takes.push_back(std::move(take));
    }
    return takes;
}

// How many of the expected dictionary words the text holds (each occurrence counted once).
int dictionaryWordsRight(const QStringList &expected, QStringList heard)
{
    int right = 0;
    for (const QString &word : expected) {
        if (const qsizetype at = heard.indexOf(word); at >= 0) {
            heard.removeAt(at);
            ++right;
        }
    }
    return right;
}

struct Outcome {
    QString finalText;
    bool done = false;
};

rt::Task<void> collect(rt::AsyncChannel<TranscriptUpdate> channel, std::shared_ptr<Outcome> outcome)
{
    try {
        while (auto update = co_await channel.next())
            if (update->isFinal())
                outcome->finalText = update->text;
    } catch (...) {
    }
    outcome->done = true;
}

// One whole take handed over at once, as a microphone would have given it; the final text in lower case.
QStringList transcribe(test::VirtualLoop &loop, LocalBackend &backend, const Take &take, const QStringList &dictionary)
{
    rt::AsyncChannel<SharedPCMBuffer> stream;
    for (auto &block : test::asMicBlocks(take.samples))
        stream.send(block);
    stream.finish();
    AudioFormat format;
    format.sampleRate = 48000;
    format.channelCount = 2;
    auto outcome = std::make_shared<Outcome>();
    rt::spawn(loop, collect(backend.transcribe(AudioSource::stream(stream, format), QStringLiteral("en"), dictionary),
                            outcome));
    for (int i = 0; i < 60000 && !outcome->done; ++i)
        loop.runUntil([&] { return outcome->done; }, std::chrono::milliseconds(2));
    return outcome->finalText.toLower().split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

struct Score {
    int dictionaryWords = 0;
    int dictionaryWordsRight = 0;
    int phraseErrors = 0;
    int phraseWords = 0;
    int generalErrors = 0;
    int generalWords = 0;
    double seconds = 0;
};

// Every take on a recogniser of its own, in the same order, so both runs learn the same channel estimate.
Score score(const Phrases &phrases, const std::vector<Take> &general, const QStringList &dictionary)
{
    test::VirtualLoop loop;
    auto recognizer = std::make_shared<platform::PocketSphinxRecognizer>(
        platform::PocketSphinxModel::debianEnglish(), platform::PocketSphinxRecognizer::Preload::onFirstUse, QString(),
        bench::dictionaryCacheFolder());
    Score score;
    LocalBackend warmUp(loop, recognizer);
    transcribe(loop, warmUp, general.front(), dictionary); // loads the model and sets the vocabulary
    for (const Take &take : phrases.takes) {
        LocalBackend backend(loop, recognizer);
        const auto start = Clock::now();
        const QStringList heard = transcribe(loop, backend, take, dictionary);
        score.seconds += std::chrono::duration<double>(Clock::now() - start).count();
        score.dictionaryWords += static_cast<int>(take.dictionaryWords.size());
        score.dictionaryWordsRight += dictionaryWordsRight(take.dictionaryWords, heard);
        score.phraseErrors += bench::editDistance(take.reference, heard);
        score.phraseWords += static_cast<int>(take.reference.size());
    }
    for (const Take &take : general) {
        LocalBackend backend(loop, recognizer);
        const auto start = Clock::now();
        score.generalErrors += bench::editDistance(take.reference, transcribe(loop, backend, take, dictionary));
        score.seconds += std::chrono::duration<double>(Clock::now() - start).count();
        score.generalWords += static_cast<int>(take.reference.size());
    }
    return score;
}

void BM_DictionaryWordsAndGeneralSpeech(benchmark::State &state)
{
    QLoggingCategory::setFilterRules(QStringLiteral("io.quorvane.zepaquarn.*=false"));
    if (!platform::PocketSphinxModel::debianEnglish().isInstalled()) {
        state.SkipWithError("pocketsphinx-en-us is needed");
        return;
    }
    const Phrases phrases = spokenPhrases();
    const std::vector<Take> general = librivox();
    if (phrases.takes.empty() || general.empty()) {
        state.SkipWithError("espeak-ng and pocketsphinx-testdata are needed");
        return;
    }
    double audioSeconds = 0;
    for (const auto *takes : {&phrases.takes, &general})
        for (const Take &take : *takes)
            audioSeconds += static_cast<double>(take.samples.size()) / 16000.0;
    const auto percent = [](int part, int whole) { return whole ? 100.0 * part / whole : 0.0; };
    bench::prepareDictionaryCut();

    for (auto _ : state) {
        const Score without = score(phrases, general, {});
        const Score with = score(phrases, general, phrases.entries);
        state.counters["dict_words"] = with.dictionaryWords;
        state.counters["dict_right_without_%"] = percent(without.dictionaryWordsRight, without.dictionaryWords);
        state.counters["dict_right_with_%"] = percent(with.dictionaryWordsRight, with.dictionaryWords);
        state.counters["phrase_wer_without_%"] = percent(without.phraseErrors, without.phraseWords);
        state.counters["phrase_wer_with_%"] = percent(with.phraseErrors, with.phraseWords);
        state.counters["general_wer_without_%"] = percent(without.generalErrors, without.generalWords);
        state.counters["general_wer_with_%"] = percent(with.generalErrors, with.generalWords);
        state.counters["rtf_without"] = without.seconds / audioSeconds;
        state.counters["rtf_with"] = with.seconds / audioSeconds;
    }
}
BENCHMARK(BM_DictionaryWordsAndGeneralSpeech)->Iterations(1)->Unit(benchmark::kSecond);

// What a take pays before it decodes: the vocabulary planned and set on the decoder it gets,
// when the dictionary changed since that decoder's last take, and when it did not.
void BM_SettingTheVocabulary(benchmark::State &state)
{
    QLoggingCategory::setFilterRules(QStringLiteral("io.quorvane.zepaquarn.*=false"));
    auto loaded = platform::PocketSphinxDecoder::load(platform::PocketSphinxModel::debianEnglish());
    if (!loaded) {
        state.SkipWithError("pocketsphinx-en-us is needed");
        return;
    }
    platform::PocketSphinxDecoder &decoder = *loaded.value();
    const platform::EspeakPronouncer pronouncer;
    const QStringList entries = phraseFile().first;
    auto set = [&](const QStringList &entries) {
        const auto start = Clock::now();
        decoder.useVocabulary(platform::PocketSphinxVocabulary::plan(
            entries, [&](const QString &word) { return decoder.pronunciations(word); },
            [&](const QString &word) { return pronouncer.pronounce(word); }));
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    };
    std::vector<double> changed;
    std::vector<double> same;
    std::vector<double> cleared;
    for (auto _ : state) {
        changed.push_back(set(entries));
        same.push_back(set(entries));
        cleared.push_back(set({}));
    }
    bench::reportMedianAndWorst(state, std::move(changed), "ms", 1.0, "changed_");
    bench::reportMedianAndWorst(state, std::move(same), "ms", 1.0, "same_");
    bench::reportMedianAndWorst(state, std::move(cleared), "ms", 1.0, "cleared_");
}
BENCHMARK(BM_SettingTheVocabulary)->Iterations(5)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();

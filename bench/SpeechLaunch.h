#pragma once

// The application's recogniser launched inside a benchmark: takes handed to it as a microphone would
// hand them over, a launch that reads the channel estimate its predecessor saved, and a quit that
// waits for the estimate to be saved.
#include "pipeline/AudioSource.h"
#include "platform/linux/speech/PocketSphinxRecognizer.h"
#include "runtime/AsyncChannel.h"
#include "support/SpeechSamples.h"
#include "support/VirtualLoop.h"
#include "transcription/LocalBackend.h"

#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace zq::bench {

using Clock = std::chrono::steady_clock;

struct Outcome {
    QString finalText;
    bool done = false;
    Clock::time_point finalAt;
};

inline rt::Task<void> collect(rt::AsyncChannel<TranscriptUpdate> channel, std::shared_ptr<Outcome> outcome)
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

inline bool settle(test::VirtualLoop &loop, const std::function<bool()> &predicate)
{
    for (int i = 0; i < 60000; ++i)
        if (loop.runUntil(predicate, std::chrono::milliseconds(2)))
            return true;
    return false;
}

inline std::shared_ptr<Outcome> run(test::VirtualLoop &loop, LocalBackend &backend, AudioSource source)
{
    auto outcome = std::make_shared<Outcome>();
    rt::spawn(loop, collect(backend.transcribe(std::move(source), QStringLiteral("en"), {}), outcome));
    return outcome;
}

inline AudioSource liveSource(rt::AsyncChannel<platform::SharedPCMBuffer> stream)
{
    platform::AudioFormat f;
    f.sampleRate = 48000;
    f.channelCount = 2;
    return AudioSource::stream(std::move(stream), f);
}

// A whole take handed over at once, as a microphone would have given it.
inline QString transcribeTake(test::VirtualLoop &loop, LocalBackend &backend, const std::vector<float> &samples)
{
    rt::AsyncChannel<platform::SharedPCMBuffer> stream;
    for (auto &block : test::asMicBlocks(samples))
        stream.send(block);
    stream.finish();
    auto outcome = run(loop, backend, liveSource(stream));
    settle(loop, [&] { return outcome->done; });
    return outcome->finalText;
}

// Where launches keep the dictionary cut, as the application keeps it in its cache folder: a folder of
// this run. Empty (every launch reads the whole dictionary, as launches did before the cut) when
// ZQ_BENCH_WHOLE_DICTIONARY is set, for comparing the two in word errors.
inline QString dictionaryCacheFolder()
{
    static QTemporaryDir folder;
    return qEnvironmentVariableIsSet("ZQ_BENCH_WHOLE_DICTIONARY") ? QString() : folder.path();
}

// Makes the dictionary cut before anything is measured, so every launch reads it.
inline void prepareDictionaryCut()
{
    const QString folder = dictionaryCacheFolder();
    if (folder.isEmpty())
        return;
    const auto model = platform::PocketSphinxModel::debianEnglish();
    auto kept = [&] {
        return platform::PocketSphinxDictionaryCut::open(
                   QFile::encodeName(folder).toStdString(), QFile::encodeName(model.dictionary).toStdString(),
                   QFile::encodeName(model.languageModel).toStdString()) != nullptr;
    };
    platform::PocketSphinxRecognizer maker(model, platform::PocketSphinxRecognizer::Preload::atOnce, {}, folder);
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (!kept() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

// A launch of the application's recogniser: a new model that reads the estimate `file` once loaded.
inline std::shared_ptr<platform::PocketSphinxRecognizer> launch(const QString &file)
{
    auto recognizer = std::make_shared<platform::PocketSphinxRecognizer>(
        platform::PocketSphinxModel::debianEnglish(), platform::PocketSphinxRecognizer::Preload::atOnce, file,
        dictionaryCacheFolder());
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (QFile::exists(file) && !recognizer->pool()->channelEstimate() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return recognizer;
}

// Quits a launch: drops the recogniser and waits until its last take has saved the estimate.
inline void quit(std::shared_ptr<platform::PocketSphinxRecognizer> recognizer)
{
    std::weak_ptr<platform::PocketSphinxDecoderPool> pool = recognizer->pool();
    recognizer.reset();
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (!pool.expired() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// What a launch that dictated `takes` (16 kHz mono) leaves in `file` for the next launch.
inline void learnEstimate(test::VirtualLoop &loop, const QString &file, const std::vector<std::vector<float>> &takes)
{
    auto earlier = launch(file);
    for (const auto &samples : takes) {
        LocalBackend backend(loop, earlier);
        transcribeTake(loop, backend, samples);
    }
    quit(std::move(earlier));
}

} // namespace zq::bench

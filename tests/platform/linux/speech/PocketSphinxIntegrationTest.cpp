// The on-device recogniser on real recorded speech, through the transcription engine's own path.
#include "platform/linux/speech/PocketSphinxChannelEstimate.h"
#include "platform/linux/speech/PocketSphinxRecognizer.h"
#include "support/FakeCaptureCore.h"
#include "support/ServiceEnvironment.h"
#include "support/SpeechSamples.h"
#include "support/TestFiles.h"
#include "support/TranscriptCollector.h"
#include "support/VirtualLoop.h"
#include "transcription/LocalBackend.h"

#include "pipeline/ZEPAError.h"
#include "platform/AudioFile.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>

using namespace zq;
using platform::AudioFormat;
using platform::PCMBuffer;
using platform::SharedPCMBuffer;
using test::asMicBlocks;
using test::collectTranscript;
using test::kGoForwardSpeech;
using test::loadRawSpeech;
using test::TranscriptOutcome;

namespace {

class PocketSphinxIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ZQ_REQUIRE_SERVICE(platform::PocketSphinxModel::debianEnglish().isInstalled() &&
                               QFile::exists(kGoForwardSpeech),
                           "the pocketsphinx-en-us model and pocketsphinx-testdata are needed");
    }

    // Decoding is CPU-bound: with every core busy a take of a few seconds can take a minute, so the
    // deadline is only there to end a hung test.
    bool settle(const std::function<bool()> &predicate, std::chrono::milliseconds timeout = std::chrono::minutes(3))
    {
        return loop.runUntil(predicate, timeout);
    }

    std::shared_ptr<TranscriptOutcome> transcribe(AudioSource source)
    {
        LocalBackend backend(loop, recognizer, QLocale(QStringLiteral("en_US")));
        auto outcome = std::make_shared<TranscriptOutcome>();
        consumer = rt::spawn(loop, collectTranscript(backend.transcribe(std::move(source), "auto", {}), outcome));
        return outcome;
    }

    std::shared_ptr<TranscriptOutcome> transcribeLive(const std::vector<float> &samples)
    {
        rt::AsyncChannel<SharedPCMBuffer> stream;
        for (auto &block : asMicBlocks(samples))
            stream.send(block);
        stream.finish();
        AudioFormat f;
        f.sampleRate = 48000;
        f.channelCount = 2;
        auto outcome = transcribe(AudioSource::stream(stream, f));
        EXPECT_TRUE(settle([&] { return outcome->done; }));
        return outcome;
    }

    // A second of faint noise, as a room sounds through the microphone, then `speech`.
    static std::vector<float> withQuietSecondBefore(const std::vector<float> &speech, float gain = 1.0f)
    {
        std::vector<float> take = quietSecond(gain);
        take.insert(take.end(), speech.begin(), speech.end());
        return take;
    }

    static std::vector<float> quietSecond(float gain = 1.0f)
    {
        std::vector<float> second(16000);
        std::uint32_t seed = 12345;
        for (float &sample : second) {
            seed = seed * 1664525u + 1013904223u;
            sample = gain * (static_cast<float>(seed >> 8) / 16777216.0f - 0.5f) * (16.0f / 32768.0f);
        }
        return second;
    }

    test::VirtualLoop loop;
    std::shared_ptr<platform::PocketSphinxRecognizer> recognizer = std::make_shared<platform::PocketSphinxRecognizer>();
    rt::TaskHandle<void> consumer;
};

} // namespace

TEST_F(PocketSphinxIntegrationTest, RecordedSpeechComesOutExactlyWithPartialsBeforeTheFinal)
{
    auto outcome = transcribeLive(loadRawSpeech(kGoForwardSpeech));
    ASSERT_FALSE(outcome->error);
    ASSERT_GE(outcome->updates.size(), 2u) << "at least one partial, then the final";
    EXPECT_EQ(outcome->updates.back(), TranscriptUpdate::final("go forward ten meters"));
    for (std::size_t i = 0; i + 1 < outcome->updates.size(); ++i)
        EXPECT_FALSE(outcome->updates[i].isFinal());
    EXPECT_FALSE(outcome->updates.front().text.isEmpty());

    // The same model serves the next take: nothing is loaded again.
    outcome = transcribeLive(loadRawSpeech(kGoForwardSpeech));
    EXPECT_EQ(outcome->updates.back(), TranscriptUpdate::final("go forward ten meters"));
    EXPECT_EQ(recognizer->pool()->loadCount(), 1);
}

TEST_F(PocketSphinxIntegrationTest, NextLaunchStartsFromWhatThisOneLearntAboutTheMicrophone)
{
    // A quiet microphone (-30 dB) and a second of room noise before the phrase: a model starting from
    // its stock channel estimate mishears it.
    const auto take = withQuietSecondBefore(loadRawSpeech(kGoForwardSpeech, 0.03f), 0.03f);
    QTemporaryDir state;
    const QString file = state.filePath("speech-channel.json");
    {
        recognizer = std::make_shared<platform::PocketSphinxRecognizer>(
            platform::PocketSphinxModel::debianEnglish(), platform::PocketSphinxRecognizer::Preload::atOnce, file);
        const auto first = transcribeLive(take);
        EXPECT_NE(first->updates.back(), TranscriptUpdate::final("go forward ten meters"))
            << "the stock estimate already fits this microphone, so this test proves nothing";
        transcribeLive(take);
        ASSERT_TRUE(settle([&] { return QFile::exists(file); })) << "the estimate is kept after a take";
        // Quitting once the last take's thread has handed its decoder back: what it learnt is saved
        // as the recogniser goes.
        ASSERT_TRUE(settle([&] { return recognizer->pool().use_count() == 1; }));
        std::weak_ptr<platform::PocketSphinxDecoderPool> pool = recognizer->pool();
        recognizer.reset();
        ASSERT_TRUE(settle([&] { return pool.expired(); }));
    }
    const auto saved = platform::PocketSphinxChannelEstimate::read(
        file, platform::PocketSphinxModel::debianEnglish().fingerprint(), 13);
    ASSERT_TRUE(saved);

    recognizer = std::make_shared<platform::PocketSphinxRecognizer>(
        platform::PocketSphinxModel::debianEnglish(), platform::PocketSphinxRecognizer::Preload::atOnce, file);
    ASSERT_TRUE(settle([&] { return recognizer->pool()->channelEstimate().has_value(); }));
    EXPECT_EQ(recognizer->pool()->channelEstimate(), saved->cepstralMean);
    const auto first = transcribeLive(take);
    ASSERT_FALSE(first->error);
    EXPECT_EQ(first->updates.back(), TranscriptUpdate::final("go forward ten meters"));
    EXPECT_EQ(recognizer->pool()->loadCount(), 1);
}

TEST_F(PocketSphinxIntegrationTest, UnusableSavedEstimateIsIgnoredWithALogLineAndTheDecoderStillWorks)
{
    using platform::PocketSphinxChannelEstimate;
    const auto model = platform::PocketSphinxModel::debianEnglish();
    const PocketSphinxChannelEstimate usable{model.fingerprint(), std::vector<float>(13, 2.0f)};
    const struct {
        const char *name;
        QByteArray data;
    } files[] = {
        {"corrupt", QByteArray("\x7f\x00not json", 10)},
        {"truncated", usable.encode().left(30)},
        {"wrong length", PocketSphinxChannelEstimate{usable.model, std::vector<float>(12, 2.0f)}.encode()},
        {"other model", PocketSphinxChannelEstimate{QStringLiteral("another"), usable.cepstralMean}.encode()},
    };
    const std::vector<std::int16_t> speech = test::asPcm16(loadRawSpeech(kGoForwardSpeech));
    const std::vector<float> stock =
        platform::PocketSphinxDecoder::load(model).value()->channelEstimate(); // the model's own

    QTemporaryDir state;
    const QString path = state.filePath("speech-channel.json");
    for (const auto &f : files) {
        test::writeFile(path, f.data);
        test::AudioLogCapture log;
        platform::PocketSphinxDecoderPool pool(model, path);
        auto decoder = pool.acquire({}).value();
        EXPECT_TRUE(log.contains("saved channel estimate ignored")) << f.name;
        EXPECT_EQ(decoder->channelEstimate(), stock) << f.name;
        ASSERT_TRUE(decoder->startUtterance());
        ASSERT_TRUE(decoder->process(speech.data(), speech.size()));
        ASSERT_TRUE(decoder->endUtterance());
        EXPECT_EQ(decoder->hypothesis(), "go forward ten meters") << f.name;
    }
    // A usable file is taken as it is.
    ASSERT_TRUE(usable.write(path));
    platform::PocketSphinxDecoderPool pool(model, path);
    auto paused = pool.acquire({}).value();
    EXPECT_EQ(paused->channelEstimate(), usable.cepstralMean);
    // And weighed as a learnt history the take goes on from, whether its speaker paused (the words
    // after the pause are an utterance of their own) or not.
    auto straight = platform::PocketSphinxDecoder::load(model).value();
    ASSERT_TRUE(straight->setChannelEstimate(usable.cepstralMean) && straight->startUtterance());
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(straight->process(speech.data(), speech.size()) && paused->startUtterance() &&
                    paused->process(speech.data(), speech.size()) && paused->endUtterance());
    ASSERT_TRUE(straight->endUtterance());
    for (std::size_t i = 0; i < usable.cepstralMean.size(); ++i) {
        const float learnt = straight->channelEstimate()[i];
        EXPECT_NEAR(paused->channelEstimate()[i], learnt, 0.15 + 0.02 * std::abs(learnt - usable.cepstralMean[i]));
    }
}

// A speaker who pauses before releasing gets the words as soon as the pause is heard, not after the
// release: each stretch of speech followed by a pause of a fifth of a second is final while the input
// still runs.
TEST_F(PocketSphinxIntegrationTest, WordsFollowedByAPauseAreFinalBeforeTheInputEnds)
{
    // The recording's last word ends 2.4 s in, on 0.4 s of its own quiet: 0.1 s of it stays.
    std::vector<float> said = loadRawSpeech(kGoForwardSpeech);
    said.resize(std::min<std::size_t>(said.size(), 40000));
    const std::vector<float> words = withQuietSecondBefore(said);
    std::vector<float> pause = quietSecond();
    pause.resize(pause.size() / 10);
    const auto join = [](std::initializer_list<std::vector<float>> parts) {
        std::vector<float> all;
        for (const auto &part : parts)
            all.insert(all.end(), part.begin(), part.end());
        return all;
    };
    const struct {
        const char *name;
        std::vector<float> audio;
        QStringList finalsBeforeTheEnd;
    } cases[] = {
        {"words, then a pause", join({words, pause}), {"go forward ten meters"}},
        {"words, a pause, the words again, a pause",
         join({words, pause, words, pause}),
         {"go forward ten meters", "go forward ten meters"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::shared_ptr<platform::SpeechAnalyzer> analyzer = recognizer->makeAnalyzer(QStringLiteral("en-US"));
        ASSERT_TRUE(analyzer->start());
        auto results = std::make_shared<std::vector<platform::SpeechResult>>();
        auto ended = std::make_shared<bool>(false);
        consumer = rt::spawn(loop,
                             [](rt::AsyncChannel<platform::SpeechResult> channel,
                                std::shared_ptr<std::vector<platform::SpeechResult>> out,
                                std::shared_ptr<bool> done) -> rt::Task<void> {
                                 while (std::optional<platform::SpeechResult> result = co_await channel.next())
                                     out->push_back(*result);
                                 *done = true;
                             }(analyzer->results(), results, ended));
        for (auto &block : asMicBlocks(c.audio))
            analyzer->feed(block);

        const auto finals = [&] {
            QStringList texts;
            for (const platform::SpeechResult &result : *results)
                if (result.isFinal)
                    texts << result.text;
            return texts;
        };
        EXPECT_TRUE(settle([&] { return finals().size() >= c.finalsBeforeTheEnd.size(); }));
        EXPECT_EQ(finals(), c.finalsBeforeTheEnd) << "before the input ended";
        EXPECT_FALSE(*ended);

        // Nothing was said after the last pause: the end of input adds no words and no empty final.
        analyzer->finishInput();
        ASSERT_TRUE(settle([&] { return *ended; }));
        EXPECT_EQ(finals(), c.finalsBeforeTheEnd);
        EXPECT_TRUE(analyzer->finalizeAndFinishThroughEndOfInput({}));

        const auto outcome = transcribeLive(c.audio);
        EXPECT_EQ(outcome->updates.back(), TranscriptUpdate::final(c.finalsBeforeTheEnd.join(u' ')));
    }
}

TEST_F(PocketSphinxIntegrationTest, FirstTakeOfAFreshModelIsRightAfterAPauseBeforeSpeaking)
{
    // People pause after pressing the trigger: a second of room noise opens the take. A decoder primed
    // with that second alone hears "go forward years".
    auto outcome = transcribeLive(withQuietSecondBefore(loadRawSpeech(kGoForwardSpeech)));
    ASSERT_FALSE(outcome->error);
    EXPECT_EQ(outcome->updates.back(), TranscriptUpdate::final("go forward ten meters"));
}

TEST_F(PocketSphinxIntegrationTest, RecordingFileDecodesAndBadFilesFailWithTheMicSentence)
{
    QTemporaryDir dir;
    const QString wav = dir.filePath("kept.wav");
    {
        AudioFormat f;
        f.sampleRate = 16000;
        f.channelCount = 1;
        f.commonFormat = AudioFormat::CommonFormat::int16;
        auto file = platform::AudioFile::createForWriting(wav, f);
        ASSERT_TRUE(file);
        const auto samples = loadRawSpeech(kGoForwardSpeech);
        PCMBuffer buffer(f, static_cast<std::uint32_t>(samples.size()));
        std::copy(samples.begin(), samples.end(), buffer.channelData(0));
        buffer.setFrameLength(static_cast<std::uint32_t>(samples.size()));
        ASSERT_TRUE(file.value()->write(buffer));
    }
    auto outcome = transcribe(AudioSource::file(wav));
    ASSERT_TRUE(settle([&] { return outcome->done; }));
    ASSERT_FALSE(outcome->error);
    EXPECT_EQ(outcome->updates.back(), TranscriptUpdate::final("go forward ten meters"));

    QFile text(dir.filePath("notes.wav"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("not audio");
    text.close();
    QFile(dir.filePath("empty.wav")).open(QIODevice::WriteOnly);
    for (const QString &path : {text.fileName(), dir.filePath("empty.wav"), kGoForwardSpeech /* raw: no header */}) {
        outcome = transcribe(AudioSource::file(path));
        ASSERT_TRUE(settle([&] { return outcome->done; }));
        ASSERT_TRUE(outcome->error) << path.toStdString();
        try {
            std::rethrow_exception(outcome->error);
        } catch (const ZEPAError &e) {
            EXPECT_EQ(e.errorDescription(), "No audio captured — check the mic");
        }
    }
}

TEST_F(PocketSphinxIntegrationTest, CancelMidStreamEndsTheDecodeAtOnce)
{
    ASSERT_TRUE(settle([&] { return recognizer->pool()->loadCount() == 1; }));
    // Ten minutes of audio queued: decoding all of it would take a minute or more.
    std::vector<float> samples;
    const auto speech = loadRawSpeech(kGoForwardSpeech);
    while (samples.size() < 16000u * 600)
        samples.insert(samples.end(), speech.begin(), speech.end());
    rt::AsyncChannel<SharedPCMBuffer> stream;
    for (auto &block : asMicBlocks(samples))
        stream.send(block);
    AudioFormat f;
    f.sampleRate = 48000;
    f.channelCount = 2;
    auto outcome = transcribe(AudioSource::stream(stream, f));
    ASSERT_TRUE(settle([&] { return !outcome->updates.empty(); })) << "decoding has begun";

    const auto cancelledAt = std::chrono::steady_clock::now();
    consumer.cancel();
    ASSERT_TRUE(settle([&] { return outcome->done; }));
    // The decode thread hands the decoder back once it has stopped.
    // Timed on its own: decoding the next take is slowed by a loaded machine, a prompt cancel is not.
    ASSERT_TRUE(settle([&] { return recognizer->pool()->idleCount() == 1; }));
    const auto elapsed = std::chrono::steady_clock::now() - cancelledAt;
    // Decoding the rest would take over a minute on an idle machine.
    EXPECT_LT(elapsed, std::chrono::seconds(20)) << "the cancelled decode kept the decoder busy";
    auto next = transcribeLive(loadRawSpeech(kGoForwardSpeech));
    EXPECT_EQ(next->updates.back(), TranscriptUpdate::final("go forward ten meters"));
    EXPECT_EQ(recognizer->pool()->loadCount(), 1) << "the next take got the freed decoder";
    EXPECT_FALSE(stream.send(asMicBlocks(speech).front())) << "the live stream is no longer read";
}

TEST_F(PocketSphinxIntegrationTest, OtherLanguagesFailWithAClearSentence)
{
    EXPECT_EQ(recognizer->supportedLocale("en_GB"), std::optional<QString>("en-US"));
    EXPECT_EQ(recognizer->supportedLocale("de"), std::nullopt);
    LocalBackend backend(loop, recognizer);
    auto outcome = std::make_shared<TranscriptOutcome>();
    rt::AsyncChannel<SharedPCMBuffer> stream;
    stream.finish();
    consumer =
        rt::spawn(loop, collectTranscript(backend.transcribe(AudioSource::stream(stream, {}), "de", {}), outcome));
    ASSERT_TRUE(settle([&] { return outcome->done; }));
    ASSERT_TRUE(outcome->error);
    try {
        std::rethrow_exception(outcome->error);
    } catch (const std::exception &e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).contains("German")) << e.what();
    }
}

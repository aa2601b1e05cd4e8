// The on-device recogniser on real recorded speech, through the transcription engine's own path.
#include "platform/linux/PocketSphinxRecognizer.h"
#include "support/ServiceEnvironment.h"
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

namespace {

const QString kGoForward = QStringLiteral("/usr/share/pocketsphinx/test/data/goforward.raw");

// 16 kHz mono 16-bit raw samples as float, scaled by `gain`.
std::vector<float> loadRaw(const QString &path, float gain = 1.0f)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    std::vector<float> samples(static_cast<std::size_t>(bytes.size()) / 2);
    const auto *raw = reinterpret_cast<const std::int16_t *>(bytes.constData());
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = gain * static_cast<float>(raw[i]) / 32768.0f;
    return samples;
}

// The samples as a live microphone would give them: 48 kHz stereo (a naive 3x hold is enough for
// speech below 8 kHz once the engine filters it back down), in 0.1 s blocks.
std::vector<SharedPCMBuffer> asMicBlocks(const std::vector<float> &samples)
{
    AudioFormat f;
    f.sampleRate = 48000;
    f.channelCount = 2;
    std::vector<SharedPCMBuffer> blocks;
    const std::size_t perBlock = 1600;
    for (std::size_t offset = 0; offset < samples.size(); offset += perBlock) {
        const std::size_t n = std::min(perBlock, samples.size() - offset);
        auto block = std::make_shared<PCMBuffer>(f, static_cast<std::uint32_t>(n * 3));
        for (std::size_t i = 0; i < n * 3; ++i)
            block->channelData(0)[i] = block->channelData(1)[i] = samples[offset + i / 3];
        block->setFrameLength(static_cast<std::uint32_t>(n * 3));
        blocks.push_back(block);
    }
    return blocks;
}

struct Outcome {
    std::vector<TranscriptUpdate> updates;
    std::exception_ptr error;
    bool done = false;
};

rt::Task<void> collect(rt::AsyncChannel<TranscriptUpdate> channel, std::shared_ptr<Outcome> outcome)
{
    try {
        while (auto update = co_await channel.next())
            outcome->updates.push_back(*update);
    } catch (...) {
        outcome->error = std::current_exception();
    }
    outcome->done = true;
}

class PocketSphinxIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ZQ_REQUIRE_SERVICE(platform::PocketSphinxModel::debianEnglish().isInstalled() && QFile::exists(kGoForward),
                           "the pocketsphinx-en-us model and pocketsphinx-testdata are needed");
    }

    bool settle(const std::function<bool()> &predicate, int seconds = 30)
    {
        for (int i = 0; i < seconds * 50; ++i)
            if (loop.runUntil(predicate, std::chrono::milliseconds(20)))
                return true;
        return false;
    }

    std::shared_ptr<Outcome> transcribe(AudioSource source)
    {
        LocalBackend backend(loop, recognizer, QLocale(QStringLiteral("en_US")));
        auto outcome = std::make_shared<Outcome>();
        consumer = rt::spawn(loop, collect(backend.transcribe(std::move(source), "auto", {}), outcome));
        return outcome;
    }

    std::shared_ptr<Outcome> transcribeLive(const std::vector<float> &samples)
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

    test::VirtualLoop loop;
    std::shared_ptr<platform::PocketSphinxRecognizer> recognizer = std::make_shared<platform::PocketSphinxRecognizer>();
    rt::TaskHandle<void> consumer;
};

} // namespace

TEST_F(PocketSphinxIntegrationTest, RecordedSpeechComesOutExactlyWithPartialsBeforeTheFinal)
{
    auto outcome = transcribeLive(loadRaw(kGoForward));
    ASSERT_FALSE(outcome->error);
    ASSERT_GE(outcome->updates.size(), 2u) << "at least one partial, then the final";
    EXPECT_EQ(outcome->updates.back(), TranscriptUpdate::final("go forward ten meters"));
    for (std::size_t i = 0; i + 1 < outcome->updates.size(); ++i)
        EXPECT_FALSE(outcome->updates[i].isFinal());
    EXPECT_FALSE(outcome->updates.front().text.isEmpty());

    // The same model serves the next take: nothing is loaded again.
    outcome = transcribeLive(loadRaw(kGoForward));
    EXPECT_EQ(outcome->updates.back(), TranscriptUpdate::final("go forward ten meters"));
    EXPECT_EQ(recognizer->pool()->loadCount(), 1);
}

TEST_F(PocketSphinxIntegrationTest, FirstTakeOfAFreshModelIsRightEvenFromAQuietMicrophone)
{
    // At -30 dB a fresh decoder without a primer hears "go forward and me".
    auto outcome = transcribeLive(loadRaw(kGoForward, 0.03f));
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
        const auto samples = loadRaw(kGoForward);
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
    for (const QString &path : {text.fileName(), dir.filePath("empty.wav"), kGoForward /* raw: no header */}) {
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
    const auto speech = loadRaw(kGoForward);
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
    ASSERT_TRUE(settle([&] { return outcome->done; }, 2));
    // The decoder goes back to the pool once its thread has stopped; a new take gets it at once.
    auto next = transcribeLive(loadRaw(kGoForward));
    const auto elapsed = std::chrono::steady_clock::now() - cancelledAt;
    EXPECT_EQ(next->updates.back(), TranscriptUpdate::final("go forward ten meters"));
    EXPECT_LT(elapsed, std::chrono::seconds(3)) << "the cancelled decode kept the decoder busy";
    EXPECT_FALSE(stream.send(asMicBlocks(speech).front())) << "the live stream is no longer read";
}

TEST_F(PocketSphinxIntegrationTest, OtherLanguagesFailWithAClearSentence)
{
    EXPECT_EQ(recognizer->supportedLocale("en_GB"), std::optional<QString>("en-US"));
    EXPECT_EQ(recognizer->supportedLocale("de"), std::nullopt);
    LocalBackend backend(loop, recognizer);
    auto outcome = std::make_shared<Outcome>();
    rt::AsyncChannel<SharedPCMBuffer> stream;
    stream.finish();
    consumer = rt::spawn(loop, collect(backend.transcribe(AudioSource::stream(stream, {}), "de", {}), outcome));
    ASSERT_TRUE(settle([&] { return outcome->done; }));
    ASSERT_TRUE(outcome->error);
    try {
        std::rethrow_exception(outcome->error);
    } catch (const std::exception &e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).contains("“de”")) << e.what();
    }
}

#include "platform/AudioFile.h"
#include "support/AudioFormats.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>

using zq::platform::AudioFile;
using zq::platform::AudioFormat;
using zq::platform::PCMBuffer;
using zq::test::audioFormat;

namespace {

// Channel c holds (c + 1) * ramp so that a swapped or smeared channel shows.
PCMBuffer ramp(const AudioFormat &f, std::uint32_t frames, std::uint32_t offset)
{
    PCMBuffer buffer(f, frames);
    for (int c = 0; c < f.channelCount; ++c)
        for (std::uint32_t i = 0; i < frames; ++i)
            buffer.channelData(c)[i] = static_cast<float>(c + 1) * static_cast<float>((offset + i) % 1000) / 2000.0f;
    buffer.setFrameLength(frames);
    return buffer;
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

} // namespace

TEST(AudioFileTest, FloatStereoRoundTripsExactlyAcrossBlockBoundaries)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("take.wav");
    const AudioFormat f = audioFormat(48000, 2);
    {
        auto created = AudioFile::createForWriting(path, f);
        ASSERT_TRUE(created) << created.error().message.toStdString();
        auto &file = *created.value();
        ASSERT_TRUE(file.write(ramp(f, 4800, 0)));
        ASSERT_TRUE(file.write(ramp(f, 1234, 4800)));
        EXPECT_EQ(file.length(), 6034);
        ASSERT_TRUE(file.close());
    }
    auto opened = AudioFile::openForReading(path);
    ASSERT_TRUE(opened) << opened.error().message.toStdString();
    auto &file = *opened.value();
    EXPECT_EQ(file.length(), 6034);
    EXPECT_EQ(file.fileFormat().commonFormat, AudioFormat::CommonFormat::float32);
    EXPECT_EQ(file.processingFormat(), audioFormat(48000, 2));

    std::uint32_t total = 0;
    for (;;) {
        auto block = file.read(1000);
        ASSERT_TRUE(block);
        const auto &buffer = *block.value();
        if (buffer.frameLength() == 0)
            break;
        const PCMBuffer expected = ramp(f, buffer.frameLength(), total);
        for (int c = 0; c < 2; ++c)
            for (std::uint32_t i = 0; i < buffer.frameLength(); ++i)
                ASSERT_EQ(buffer.channelData(c)[i], expected.channelData(c)[i]) << "channel " << c << " frame " << i;
        total += buffer.frameLength();
    }
    EXPECT_EQ(total, 6034u);
}

TEST(AudioFileTest, SixteenBitFileClipsLoudSamplesInsteadOfWrapping)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("upload.wav");
    const AudioFormat f = audioFormat(16000, 1, AudioFormat::CommonFormat::int16);
    {
        auto file = AudioFile::createForWriting(path, f);
        ASSERT_TRUE(file);
        PCMBuffer loud(f, 3);
        loud.channelData(0)[0] = 1.7f;
        loud.channelData(0)[1] = -2.5f;
        loud.channelData(0)[2] = 0.5f;
        loud.setFrameLength(3);
        ASSERT_TRUE(file.value()->write(loud));
    }
    auto file = AudioFile::openForReading(path);
    ASSERT_TRUE(file);
    EXPECT_EQ(file.value()->fileFormat().commonFormat, AudioFormat::CommonFormat::int16);
    EXPECT_EQ(QFile(path).size(), 44 + 3 * 2) << "a plain 16-bit WAV";
    auto block = file.value()->read(16);
    ASSERT_TRUE(block);
    ASSERT_EQ(block.value()->frameLength(), 3u);
    EXPECT_GT(block.value()->channelData(0)[0], 0.99f);
    EXPECT_LE(block.value()->channelData(0)[1], -0.99f);
    EXPECT_NEAR(block.value()->channelData(0)[2], 0.5f, 1e-4);
}

TEST(AudioFileTest, FilesThatAreNotUsableAudioGiveErrorsNotCrashes)
{
    QTemporaryDir dir;
    const QString text = dir.filePath("notes.wav");
    writeBytes(text, "this is not audio at all, just some words in a file\n");
    const QString empty = dir.filePath("empty.wav");
    writeBytes(empty, {});
    const QString truncated = dir.filePath("truncated.wav");
    writeBytes(truncated, QByteArray("RIFF\x24\x00\x00\x00WAVEfmt ", 16));
    // A RIFF/WAVE header whose format tag (0x7777) no decoder knows.
    QByteArray odd("RIFF\x26\x00\x00\x00WAVEfmt \x12\x00\x00\x00\x77\x77\x01\x00\x80\x3e\x00\x00\x00\x7d\x00\x00"
                   "\x02\x00\x10\x00\x00\x00data\x00\x00\x00\x00",
                   46);
    const QString unsupported = dir.filePath("odd.wav");
    writeBytes(unsupported, odd);

    for (const QString &path : {text, empty, truncated, unsupported, dir.filePath("missing.wav"), dir.path()}) {
        auto result = AudioFile::openForReading(path);
        ASSERT_FALSE(result) << path.toStdString();
        EXPECT_FALSE(result.error().message.isEmpty());
        EXPECT_EQ(result.error().domain, AudioFile::errorDomain);
    }
    EXPECT_EQ(AudioFile::openForReading(text).error().message, "The file is not a recognised audio file.");
    EXPECT_EQ(AudioFile::openForReading(empty).error().message, "The file is not a recognised audio file.");
    EXPECT_EQ(AudioFile::openForReading(dir.filePath("missing.wav")).error().message, "The audio file does not exist.");
}

TEST(AudioFileTest, WritingRejectsMismatchedBuffersAndBadSettings)
{
    QTemporaryDir dir;
    EXPECT_FALSE(AudioFile::createForWriting(dir.filePath("a.wav"), audioFormat(0, 1)));
    EXPECT_FALSE(AudioFile::createForWriting(dir.filePath("b.wav"), audioFormat(16000, 0)));
    EXPECT_FALSE(AudioFile::createForWriting(dir.filePath("missing-folder/c.wav"), audioFormat(16000, 1)));

    auto file = AudioFile::createForWriting(dir.filePath("d.wav"), audioFormat(16000, 1));
    ASSERT_TRUE(file);
    EXPECT_FALSE(file.value()->write(ramp(audioFormat(16000, 2), 10, 0))) << "channel count differs";
    EXPECT_FALSE(file.value()->write(ramp(audioFormat(48000, 1), 10, 0))) << "sample rate differs";
    EXPECT_FALSE(file.value()->read(10)) << "not open for reading";
    ASSERT_TRUE(file.value()->close());
    EXPECT_FALSE(file.value()->write(ramp(audioFormat(16000, 1), 10, 0))) << "closed";
    EXPECT_TRUE(file.value()->close()) << "closing twice is harmless";
}

TEST(AudioFileTest, HeaderOnlyFileOpensWithNoFrames)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("silent.wav");
    ASSERT_TRUE(AudioFile::createForWriting(path, audioFormat(16000, 1)).value()->close());
    auto file = AudioFile::openForReading(path);
    ASSERT_TRUE(file);
    EXPECT_EQ(file.value()->length(), 0);
    auto block = file.value()->read(8192);
    ASSERT_TRUE(block);
    EXPECT_EQ(block.value()->frameLength(), 0u);
}

#include "platform/AudioConverter.h"
#include "support/AudioFormats.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

using zq::platform::AudioConverter;
using zq::platform::AudioFormat;
using zq::platform::PCMBuffer;
using zq::test::audioFormat;

namespace {

PCMBuffer sine(const AudioFormat &f, double hz, std::uint32_t frames, std::uint32_t offset = 0)
{
    PCMBuffer buffer(f, frames);
    for (int c = 0; c < f.channelCount; ++c)
        for (std::uint32_t i = 0; i < frames; ++i)
            buffer.channelData(c)[i] =
                0.5f * static_cast<float>(std::sin(2 * std::numbers::pi * hz * (offset + i) / f.sampleRate));
    buffer.setFrameLength(frames);
    return buffer;
}

void append(std::vector<float> &out, const PCMBuffer &buffer)
{
    out.insert(out.end(), buffer.channelData(0), buffer.channelData(0) + buffer.frameLength());
}

} // namespace

TEST(AudioConverterTest, StreamingInBlocksMatchesOneShotAndKeepsTheLength)
{
    const AudioFormat in = audioFormat(48000, 1);
    const AudioFormat out = audioFormat(16000, 1);
    const PCMBuffer whole = sine(in, 440, 48000);

    auto oneShot = AudioConverter::create(in, out);
    ASSERT_TRUE(oneShot);
    std::vector<float> expected;
    append(expected, *oneShot.value()->convert(whole).value());
    append(expected, *oneShot.value()->flush().value());
    EXPECT_NEAR(static_cast<double>(expected.size()), 16000.0, 2.0) << "one second in, one second out";

    auto streaming = AudioConverter::create(in, out);
    ASSERT_TRUE(streaming);
    std::vector<float> got;
    for (std::uint32_t offset = 0; offset < 48000; offset += 1031) {
        const std::uint32_t n = std::min<std::uint32_t>(1031, 48000 - offset);
        auto block = streaming.value()->convert(sine(in, 440, n, offset));
        ASSERT_TRUE(block);
        EXPECT_EQ(block.value()->format().sampleRate, 16000);
        append(got, *block.value());
    }
    EXPECT_GE(got.size(), 16000u - 16 * 12) << "no more than 12 ms held back until the flush";
    append(got, *streaming.value()->flush().value());
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i)
        ASSERT_NEAR(got[i], expected[i], 1e-5) << "frame " << i;

    // The 440 Hz tone survives: its level stays where it was (RMS of a 0.5 sine is ~0.354).
    double sum = 0;
    for (std::size_t i = 1000; i < 15000; ++i)
        sum += got[i] * got[i];
    EXPECT_NEAR(std::sqrt(sum / 14000), 0.3536, 0.01);
}

TEST(AudioConverterTest, MixesChannelsDownToTheirMean)
{
    const AudioFormat in = audioFormat(16000, 3);
    auto converter = AudioConverter::create(in, audioFormat(16000, 1));
    ASSERT_TRUE(converter);
    PCMBuffer buffer(in, 4);
    for (std::uint32_t i = 0; i < 4; ++i) {
        buffer.channelData(0)[i] = 0.3f;
        buffer.channelData(1)[i] = -0.3f;
        buffer.channelData(2)[i] = 0.6f * static_cast<float>(i);
    }
    buffer.setFrameLength(4);
    auto mono = converter.value()->convert(buffer);
    ASSERT_TRUE(mono);
    ASSERT_EQ(mono.value()->channelCount(), 1);
    ASSERT_EQ(mono.value()->frameLength(), 4u);
    for (std::uint32_t i = 0; i < 4; ++i)
        EXPECT_FLOAT_EQ(mono.value()->channelData(0)[i], 0.2f * static_cast<float>(i));
}

TEST(AudioConverterTest, ResamplesEachChannelOnItsOwn)
{
    const AudioFormat in = audioFormat(44100, 2);
    auto converter = AudioConverter::create(in, audioFormat(48000, 2));
    ASSERT_TRUE(converter);
    PCMBuffer buffer = sine(in, 1000, 44100);
    for (std::uint32_t i = 0; i < buffer.frameLength(); ++i)
        buffer.channelData(1)[i] = 0; // the right channel is silent
    std::vector<float> left, right;
    auto first = converter.value()->convert(buffer).value();
    auto tail = converter.value()->flush().value();
    for (const auto &b : {first, tail}) {
        left.insert(left.end(), b->channelData(0), b->channelData(0) + b->frameLength());
        right.insert(right.end(), b->channelData(1), b->channelData(1) + b->frameLength());
    }
    EXPECT_NEAR(static_cast<double>(left.size()), 48000.0, 2.0);
    float loudestRight = 0, loudestLeft = 0;
    for (std::size_t i = 0; i < left.size(); ++i) {
        loudestLeft = std::max(loudestLeft, std::abs(left[i]));
        loudestRight = std::max(loudestRight, std::abs(right[i]));
    }
    EXPECT_GT(loudestLeft, 0.45f);
    EXPECT_LT(loudestRight, 1e-6f) << "no crosstalk between channels";
}

TEST(AudioConverterTest, RefusesWhatItCannotDo)
{
    EXPECT_FALSE(AudioConverter::create(audioFormat(0, 1), audioFormat(16000, 1)));
    EXPECT_FALSE(AudioConverter::create(audioFormat(48000, 2), audioFormat(16000, 3))) << "only N to N or N to 1";
    AudioFormat int16Target = audioFormat(16000, 1);
    int16Target.commonFormat = AudioFormat::CommonFormat::int16;
    EXPECT_FALSE(AudioConverter::create(audioFormat(48000, 1), int16Target));

    auto converter = AudioConverter::create(audioFormat(48000, 2), audioFormat(16000, 1));
    ASSERT_TRUE(converter);
    EXPECT_FALSE(converter.value()->convert(sine(audioFormat(48000, 1), 440, 10))) << "wrong channel count";
    auto empty = converter.value()->convert(sine(audioFormat(48000, 2), 440, 0));
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty.value()->frameLength(), 0u);
}

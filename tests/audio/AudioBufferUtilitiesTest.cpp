#include "audio/AudioBufferUtilities.h"
#include "support/FakeAudioHardware.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cmath>

using zq::platform::AudioFormat;
using zq::platform::PCMBuffer;

namespace {

AudioFormat floatFormat(double rate, int channels, bool interleaved = false)
{
    AudioFormat format;
    format.sampleRate = rate;
    format.channelCount = channels;
    format.interleaved = interleaved;
    return format;
}

} // namespace

TEST(AudioBufferUtilitiesTest, MakeCopiesEveryChannelOrRefusesBadInput)
{
    const float left[] = {0.1f, 0.2f, 0.3f};
    const float right[] = {-0.1f, -0.2f, -0.3f};
    const float *planes[] = {left, right};
    auto buffer = zq::makePCMBuffer(planes, 2, 3, floatFormat(48000, 2));
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->frameLength(), 3u);
    EXPECT_EQ(buffer->channelData(1)[2], -0.3f);

    EXPECT_FALSE(zq::makePCMBuffer(planes, 2, 3, floatFormat(48000, 1))) << "two pointers for a mono format";
    EXPECT_FALSE(zq::makePCMBuffer(planes, 1, 0, floatFormat(48000, 1))) << "zero frames";
    EXPECT_FALSE(zq::makePCMBuffer(planes, 1, -4, floatFormat(48000, 1)));
    const float *missing[] = {nullptr};
    EXPECT_FALSE(zq::makePCMBuffer(missing, 1, 3, floatFormat(48000, 1))) << "a null plane is never read";
    AudioFormat integer = floatFormat(48000, 1);
    integer.commonFormat = AudioFormat::CommonFormat::int16;
    EXPECT_FALSE(zq::makePCMBuffer(planes, 1, 3, integer));
}

TEST(AudioBufferUtilitiesTest, CopyIsPlanarAndRefusesInterleavedStereo)
{
    PCMBuffer mono(floatFormat(16000, 1, true), 4);
    mono.setFrameLength(3);
    mono.channelData(0)[2] = 0.5f;
    auto copy = zq::copyPCMBuffer(mono);
    ASSERT_TRUE(copy);
    EXPECT_FALSE(copy->format().interleaved) << "an interleaved mono buffer copies to a planar one";
    EXPECT_EQ(copy->frameLength(), 3u);
    EXPECT_EQ(copy->channelData(0)[2], 0.5f);

    PCMBuffer stereo(floatFormat(16000, 2, true), 4);
    stereo.setFrameLength(4);
    EXPECT_FALSE(zq::copyPCMBuffer(stereo));
    PCMBuffer empty(floatFormat(16000, 1), 4);
    EXPECT_FALSE(zq::copyPCMBuffer(empty));
}

TEST(AudioBufferUtilitiesTest, ChunkRMSCoversEveryFrameOfChannelZero)
{
    PCMBuffer buffer(floatFormat(48000, 2), 480);
    buffer.setFrameLength(480);
    for (std::uint32_t i = 0; i < 480; ++i) {
        buffer.channelData(0)[i] = i < 400 ? 0.5f : -0.25f;
        buffer.channelData(1)[i] = 1.0f;
    }
    const std::vector<double> rms = zq::chunkRMS(buffer, 100);
    ASSERT_EQ(rms.size(), 5u) << "the last chunk is 80 frames";
    EXPECT_NEAR(rms[0], 0.5, 1e-6);
    EXPECT_NEAR(rms[4], 0.25, 1e-6) << "channel 1 is ignored";

    EXPECT_EQ(zq::chunkRMS(buffer, 480).size(), 1u);
    EXPECT_TRUE(zq::chunkRMS(buffer, 0).empty());
    PCMBuffer empty(floatFormat(48000, 1), 10);
    EXPECT_TRUE(zq::chunkRMS(empty, 5).empty());
}

TEST(AudioBufferUtilitiesTest, BoundInputDeviceIgnoresZeroAndMissingUnits)
{
    zq::test::FakeAudioHardware hardware;
    EXPECT_FALSE(zq::boundInputDevice(nullptr));
    auto unit = hardware.makeRecordStream();
    ASSERT_TRUE(unit);
    EXPECT_FALSE(zq::boundInputDevice(unit.value().get())) << "no device and no default input reads as 0";
    const auto mic = hardware.addDevice({QStringLiteral("mic"), QStringLiteral("Mic")});
    ASSERT_TRUE(unit.value()->setCurrentDevice(mic));
    EXPECT_EQ(zq::boundInputDevice(unit.value().get()), mic);
}

TEST(AudioBufferUtilitiesTest, WritableAudioFileTakesBuffersOrPassesTheErrorOn)
{
    QTemporaryDir dir;
    auto file = zq::makeWritableAudioFile(dir.filePath(QStringLiteral("take.wav")), floatFormat(16000, 1));
    ASSERT_TRUE(file) << file.error().message.toStdString();
    PCMBuffer buffer(floatFormat(16000, 1), 160);
    buffer.setFrameLength(160);
    ASSERT_TRUE(file.value()->write(buffer));
    EXPECT_EQ(file.value()->length(), 160);

    auto refused = zq::makeWritableAudioFile(dir.filePath(QStringLiteral("missing/take.wav")), floatFormat(16000, 1));
    EXPECT_FALSE(refused) << "a folder that does not exist cannot hold the take";
}

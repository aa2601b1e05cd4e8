#include "audio/CaptureCore.h"
#include "audio/AUHALCaptureCore.h"
#include "audio/AVAudioEngineCaptureCore.h"
#include "support/FakeAudioHardware.h"
#include "support/FakeCaptureCore.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

TEST(CaptureCoreTest, HiddenSettingSelectsTheCore)
{
    EXPECT_EQ(zq::captureCoreKind(QStringLiteral("avfaudio")), zq::CaptureCoreKind::avfaudio);
    for (const QString &value : {QString(), QStringLiteral("auhal"), QStringLiteral("AVFAUDIO"), QStringLiteral("x")})
        EXPECT_EQ(zq::captureCoreKind(value), zq::CaptureCoreKind::auhal) << value.toStdString();
    EXPECT_EQ(zq::captureCoreName(zq::CaptureCoreKind::avfaudio), QStringLiteral("avfaudio"));
    EXPECT_EQ(zq::captureCoreName(zq::CaptureCoreKind::auhal), QStringLiteral("auhal"));

    zq::test::FakeAudioHardware hardware;
    zq::test::CaptureCoreTestServices harness(hardware);
    EXPECT_TRUE(std::dynamic_pointer_cast<zq::AVAudioEngineCaptureCore>(
        zq::makeCaptureCore(zq::CaptureCoreKind::avfaudio, harness.services())));
    EXPECT_TRUE(std::dynamic_pointer_cast<zq::AUHALCaptureCore>(
        zq::makeCaptureCore(zq::CaptureCoreKind::auhal, harness.services())));
}

TEST(CaptureCoreTest, SampleTimesThatDoNotFitAreHeldInRange)
{
    EXPECT_EQ(zq::captureSampleTime(480.75), 480);
    EXPECT_EQ(zq::captureSampleTime(-3.5), -3);
    EXPECT_EQ(zq::captureSampleTime(std::nan("")), 0);
    EXPECT_EQ(zq::captureSampleTime(std::numeric_limits<double>::infinity()), 0);
    EXPECT_EQ(zq::captureSampleTime(1e300), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(zq::captureSampleTime(-1e300), std::numeric_limits<std::int64_t>::min());
}

TEST(CaptureCoreTest, PoolHandsOutOnlyBuffersNobodyHolds)
{
    zq::CaptureBufferPool pool(zq::platform::AudioFormat{48000, 1}, 256, 2);
    auto first = pool.acquire();
    auto second = pool.acquire();
    ASSERT_TRUE(first && second);
    EXPECT_NE(first, second);
    EXPECT_EQ(pool.acquire(), nullptr);
    const auto *released = first.get();
    first.reset();
    EXPECT_EQ(pool.acquire().get(), released);
    EXPECT_EQ(second->frameCapacity(), 256u);
}

} // namespace

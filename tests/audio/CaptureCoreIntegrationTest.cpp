#include "audio/AudioInputDevice.h"
#include "audio/CaptureCore.h"
#include "platform/linux/pulse/PulseAudioHardware.h"
#include "runtime/Clocks.h"
#include "support/FakeCaptureCore.h"
#include "support/Polling.h"
#include "support/PulseServer.h"
#include "support/ServiceEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

using namespace std::chrono_literals;
using zq::AudioInputDevice;
using zq::CaptureCoreKind;
using zq::platform::AudioDeviceId;
using zq::platform::AudioHardware;
using zq::platform::PulseAudioHardware;
using zq::test::kLoadedMachineTimeout;
using zq::test::PulseServer;
using zq::test::waitFor;

namespace {

// Frames and the loudest sample the tap saw, from the audio thread.
struct Captured {
    std::atomic<std::uint64_t> frames{0};
    std::atomic<float> peak{0};
    std::atomic<int> recoveries{0};
};

class CaptureCoreIntegrationTest : public ::testing::TestWithParam<CaptureCoreKind> {
protected:
    void SetUp() override
    {
        zq::test::PulseDevices devices;
        devices.defaultSource = QLatin1String(PulseServer::kUsbMicrophone);
        const bool started = server.start(devices);
        ASSERT_TRUE(zq::test::requireService(started, server.errorString()));
        hardware = std::make_unique<PulseAudioHardware>(server.serverAddress());
        harness = std::make_unique<zq::test::CaptureCoreTestServices>(*hardware);
    }
    void TearDown() override
    {
        if (core)
            core->stop();
        core.reset();
        if (harness) {
            // The stopped unit is released while the server and the hardware still exist.
            harness->releaseStopped();
            harness.reset();
        }
    }

    // Real clocks and sleeps: the readiness wait runs against the real server.
    zq::CaptureCoreServices services() { return harness->realTimeServices(clocks); }

    zq::CaptureCoreSetup start(const QString &pref)
    {
        resolved = AudioInputDevice::resolve(*hardware, pref);
        core = zq::makeCaptureCore(GetParam(), services());
        auto seen = captured;
        return core->start(
            pref, resolved,
            [seen](const zq::platform::SharedPCMBuffer &buffer, const zq::CaptureTime &) {
                float peak = seen->peak.load();
                for (std::uint32_t i = 0; i < buffer->frameLength(); ++i)
                    peak = std::max(peak, std::abs(buffer->channelData(0)[i]));
                seen->peak = peak;
                seen->frames += buffer->frameLength();
            },
            [seen] { ++seen->recoveries; });
    }

    QString uidOf(std::optional<AudioDeviceId> device)
    {
        if (!device)
            return {};
        return hardware->stringProperty(*device, AudioHardware::StringProperty::uid).value_or(QString());
    }

    PulseServer server;
    std::unique_ptr<PulseAudioHardware> hardware;
    std::unique_ptr<zq::test::CaptureCoreTestServices> harness;
    zq::rt::SystemClocks clocks;
    std::shared_ptr<zq::CaptureCore> core;
    std::shared_ptr<Captured> captured = std::make_shared<Captured>();
    std::optional<AudioDeviceId> resolved;
};

TEST_P(CaptureCoreIntegrationTest, CapturesOneSecondFromAChosenSource)
{
    zq::test::PipeFeeder feeder(server.micFifoPath(), 0);
    ASSERT_TRUE(feeder.start()) << feeder.errorString().toStdString();
    feeder.speak(zq::test::PipeFeeder::tone(440, 1500ms, 16000));

    const zq::CaptureCoreSetup setup = start(QLatin1String(PulseServer::kPipeMicrophone));
    ASSERT_TRUE(resolved);
    EXPECT_EQ(setup.boundDevice, resolved);
    EXPECT_EQ(setup.deviceNominalRate, 16000.0);
    EXPECT_EQ(setup.format.sampleRate, 16000.0);
    EXPECT_TRUE(setup.boundDeviceName.has_value());

    ASSERT_TRUE(waitFor([&] { return captured->frames.load() >= 16000; }, kLoadedMachineTimeout))
        << "captured " << captured->frames.load() << " frames";
    EXPECT_GT(captured->peak.load(), 0.2f) << "the tone reached the tap";

    const zq::CaptureRouteInspection route = core->inspectRoute(false);
    EXPECT_EQ(route.boundDevice, resolved);
    EXPECT_EQ(uidOf(route.boundDevice), QLatin1String(PulseServer::kPipeMicrophone));
    EXPECT_EQ(captured->recoveries.load(), 0);
}

TEST_P(CaptureCoreIntegrationTest, CapturesOneSecondFromTheDefaultSourceAndSignalsItsLoss)
{
    const zq::CaptureCoreSetup setup = start(QStringLiteral("system-default"));
    ASSERT_TRUE(resolved);
    EXPECT_EQ(uidOf(resolved), QLatin1String(PulseServer::kUsbMicrophone));
    EXPECT_EQ(setup.boundDevice, resolved);
    EXPECT_EQ(setup.transport, zq::InputTransport::usb);

    const double rate = setup.format.sampleRate;
    ASSERT_GT(rate, 0);
    ASSERT_TRUE(waitFor([&] { return captured->frames.load() >= std::uint64_t(rate); }, kLoadedMachineTimeout))
        << "captured " << captured->frames.load() << " frames at " << rate << " Hz";

    const zq::CaptureRouteInspection route = core->inspectRoute(true);
    EXPECT_EQ(uidOf(route.boundDevice), QLatin1String(PulseServer::kUsbMicrophone));
    EXPECT_TRUE(route.activeAggregateSubdevices.empty());

    // The source goes away under the running capture: the core asks for recovery.
    const auto modules = server.pactl(QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("modules"));
    QString usbModule;
    for (const QString &line : QString::fromUtf8(modules.standardOutput).split(QLatin1Char('\n'))) {
        if (line.contains(QLatin1String("source_name=zq_usb_mic")))
            usbModule = line.section(QLatin1Char('\t'), 0, 0);
    }
    ASSERT_FALSE(usbModule.isEmpty());
    ASSERT_TRUE(server.unloadModule(usbModule.toUInt()));
    EXPECT_TRUE(waitFor([&] { return captured->recoveries.load() >= 1; }, kLoadedMachineTimeout));
}

INSTANTIATE_TEST_SUITE_P(Cores, CaptureCoreIntegrationTest,
                         ::testing::Values(CaptureCoreKind::auhal, CaptureCoreKind::avfaudio),
                         [](const ::testing::TestParamInfo<CaptureCoreKind> &info) {
                             return zq::captureCoreName(info.param).toStdString();
                         });

} // namespace

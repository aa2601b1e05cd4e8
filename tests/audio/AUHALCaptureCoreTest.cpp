#include "audio/AUHALCaptureCore.h"
#include "audio/AudioCaptureError.h"
#include "audio/StartFailurePhase.h"
#include "support/FakeAudioHardware.h"
#include "support/FakeCaptureCore.h"
#include "support/Polling.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using zq::AudioCaptureError;
using zq::AUHALCaptureCore;
using zq::CaptureTime;
using zq::PhasedStartError;
using zq::StartFailurePhase;
using zq::platform::AudioDeviceId;
using zq::platform::SharedPCMBuffer;
using zq::test::FakeAudioHardware;
using Step = zq::test::FakeAudioHardware::Step;
using zq::test::waitFor;

namespace {

// What the tap and the recovery callback saw; shared so callbacks never outlive it.
struct Received {
    std::mutex mutex;
    std::vector<SharedPCMBuffer> kept;
    std::vector<CaptureTime> times;
    std::atomic<int> buffers{0};
    std::atomic<int> recoveries{0};
    bool keep = false;
};

class AUHALCaptureCoreTest : public ::testing::Test {
protected:
    AUHALCaptureCoreTest()
    {
        FakeAudioHardware::Device device;
        device.uid = QStringLiteral("usb-mic");
        device.name = QStringLiteral("USB Mic");
        device.transport = zq::transportType::usb;
        device.nominalRate = 44100;
        mic = hardware.addDevice(device);
        hardware.setDefaultInput(mic);
    }
    ~AUHALCaptureCoreTest() override
    {
        core.reset();
        harness.drainExecutor();
    }

    zq::CaptureCoreSetup start(std::optional<AudioDeviceId> resolved, const QString &pref = QStringLiteral("usb-mic"))
    {
        auto seen = received;
        return core->start(
            pref, resolved,
            [seen](const SharedPCMBuffer &buffer, const CaptureTime &time) {
                std::lock_guard lock(seen->mutex);
                ++seen->buffers;
                seen->times.push_back(time);
                if (seen->keep)
                    seen->kept.push_back(buffer);
            },
            [seen] { ++seen->recoveries; });
    }

    // Stops the core, waits for the teardown and lets the 10 s disposal pass.
    void stopAndDispose()
    {
        core->stop();
        harness.drainExecutor();
        harness.disposal.advance(10s);
    }

    FakeAudioHardware hardware;
    zq::test::CaptureCoreTestServices harness{hardware};
    std::shared_ptr<AUHALCaptureCore> core = std::make_shared<AUHALCaptureCore>(harness.services());
    std::shared_ptr<Received> received = std::make_shared<Received>();
    AudioDeviceId mic = 0;
};

TEST_F(AUHALCaptureCoreTest, StartsMonoFloatAtTheDeviceRateAndDeliversCopies)
{
    zq::test::AudioLogCapture log;
    EXPECT_EQ(core->format(), std::nullopt);
    const zq::CaptureCoreSetup setup = start(mic);

    EXPECT_EQ(setup.boundDevice, mic);
    EXPECT_EQ(setup.boundDeviceName, QStringLiteral("USB Mic"));
    EXPECT_EQ(setup.transport, zq::InputTransport::usb);
    EXPECT_EQ(setup.format, (zq::platform::AudioFormat{44100, 1}));
    EXPECT_EQ(setup.deviceNominalRate, 44100.0);
    EXPECT_EQ(core->format(), setup.format);
    EXPECT_EQ(core->inspectRoute(true), (zq::CaptureRouteInspection{mic, {}}));
    EXPECT_TRUE(log.contains(QStringLiteral("auhal: bound CurrentDevice=%1 (USB Mic) pref=usb-mic").arg(mic)));
    EXPECT_TRUE(log.contains(QStringLiteral("auhal: started — device=%1 rate=44100Hz 1ch maxFrames=4096").arg(mic)));

    received->keep = true;
    ASSERT_EQ(hardware.deliver(480, 0.25f), 1);
    ASSERT_EQ(hardware.deliver(480, 0.5f), 1);
    ASSERT_EQ(received->kept.size(), 2u);
    EXPECT_EQ(received->kept[0]->frameLength(), 480u);
    EXPECT_EQ(received->kept[0]->channelData(0)[479], 0.25f);
    EXPECT_EQ(received->kept[1]->channelData(0)[0], 0.5f);
    EXPECT_NE(received->kept[0].get(), received->kept[1].get());
    EXPECT_EQ(received->times[1].sampleTime, 480);
    EXPECT_EQ(received->times[1].sampleRate, 44100.0);
}

TEST_F(AUHALCaptureCoreTest, DefaultInputIsUsedWhenNothingWasResolved)
{
    EXPECT_EQ(start(std::nullopt, QStringLiteral("system-default")).boundDevice, mic);

    auto other = std::make_shared<AUHALCaptureCore>(harness.services());
    hardware.setDefaultInput(0);
    try {
        other->start(QStringLiteral("system-default"), std::nullopt, {}, {});
        FAIL() << "started without a device";
    } catch (const AudioCaptureError &error) {
        EXPECT_EQ(error.domain(), zq::audioErrorDomain::app);
        EXPECT_EQ(error.code(), 5);
        EXPECT_EQ(error.errorDescription(), QStringLiteral("No input device to bind the capture unit to"));
    }
    EXPECT_EQ(hardware.callCount(Step::makeUnit), 1); // only the first core made a unit
}

struct FailingStep {
    Step step;
    StartFailurePhase phase;
    const char *name;
};

class AUHALCaptureCoreFailureTest : public AUHALCaptureCoreTest, public ::testing::WithParamInterface<FailingStep> {};

TEST_P(AUHALCaptureCoreFailureTest, EachStepFailsWithItsPhaseAndLeavesNoUnitBehind)
{
    const FailingStep failing = GetParam();
    hardware.failAt(failing.step, -10875, 1);
    try {
        start(mic);
        FAIL() << "start succeeded";
    } catch (const PhasedStartError &error) {
        EXPECT_EQ(error.phase(), failing.phase);
        const QString description =
            QStringLiteral("The audio server capture unit %1 failed (-10875)").arg(QLatin1String(failing.name));
        EXPECT_EQ(error.errorDescription(), description);
        try {
            std::rethrow_exception(error.underlying());
        } catch (const AudioCaptureError &underlying) {
            EXPECT_EQ(underlying.domain(), zq::audioErrorDomain::serverStatus);
            EXPECT_EQ(underlying.code(), -10875);
            EXPECT_EQ(underlying.errorDescription(), description);
        }
    }
    EXPECT_EQ(hardware.listenerCount(), 0u);
    // The engine drops a core whose start failed: whatever unit it made is stopped and released.
    core.reset();
    harness.drainExecutor();
    harness.disposal.advance(10s);
    EXPECT_EQ(hardware.liveUnitCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, AUHALCaptureCoreFailureTest,
    ::testing::Values(FailingStep{Step::makeUnit, StartFailurePhase::engineCreate, "AudioComponentInstanceNew"},
                      FailingStep{Step::setIOEnabled, StartFailurePhase::engineCreate, "EnableIO input"},
                      FailingStep{Step::setCurrentDevice, StartFailurePhase::bind, "CurrentDevice"},
                      FailingStep{Step::setClientFormat, StartFailurePhase::bind, "StreamFormat"},
                      FailingStep{Step::setInputCallback, StartFailurePhase::tap, "SetInputCallback"},
                      FailingStep{Step::initialize, StartFailurePhase::engineCreate, "AudioUnitInitialize"},
                      FailingStep{Step::start, StartFailurePhase::start, "AudioOutputUnitStart"}),
    [](const ::testing::TestParamInfo<FailingStep> &info) {
        std::string name = info.param.name;
        std::erase(name, ' ');
        return name;
    });

TEST_F(AUHALCaptureCoreTest, NominalRateIsReadUntilThreeReadsAgree)
{
    // The first read sees a rate that is still moving.
    hardware.setNominalRate(mic, 96000);
    harness.onSleep = [&](int count) {
        if (count == 1)
            hardware.setNominalRate(mic, 48000);
    };
    EXPECT_EQ(zq::readStableNominalRate(hardware, mic, harness.services().sleep), 48000.0);
    EXPECT_EQ(hardware.callCount(Step::nominalRate), 4);

    // Never readable: 40 rounds, one more single read, and the client runs at 48 kHz.
    hardware.failAt(Step::nominalRate);
    const zq::CaptureCoreSetup setup = start(mic);
    EXPECT_EQ(hardware.callCount(Step::nominalRate), 4 + 41);
    EXPECT_EQ(setup.deviceNominalRate, std::nullopt);
    EXPECT_EQ(setup.format.sampleRate, 48000.0);
    EXPECT_EQ(core->clientRate(), 48000.0);
}

TEST_F(AUHALCaptureCoreTest, ARateSeenToHoldForThreeReadsIsTakenWithoutWaiting)
{
    struct Case {
        std::optional<zq::rt::Nanos> held;
        int reads;
        int sleeps;
    };
    // Held as long as three reads span: one read. Shorter, or untold: the reads and their pauses.
    for (const Case c : {Case{20ms, 1, 0}, Case{3s, 1, 0}, Case{19ms, 3, 2}, Case{std::nullopt, 3, 2}}) {
        hardware.setNominalRate(mic, 44100);
        hardware.setNominalRateHeldFor(mic, c.held);
        const int readsBefore = hardware.callCount(Step::nominalRate);
        const int sleepsBefore = harness.sleepCount();
        EXPECT_EQ(zq::readStableNominalRate(hardware, mic, harness.services().sleep), 44100.0);
        EXPECT_EQ(hardware.callCount(Step::nominalRate) - readsBefore, c.reads);
        EXPECT_EQ(harness.sleepCount() - sleepsBefore, c.sleeps);
    }
}

TEST_F(AUHALCaptureCoreTest, CyclesLargerThanTheRenderBufferAreDroppedAndFailedRendersSkipTheTap)
{
    hardware.failAt(Step::maximumFrames);
    start(mic); // unreadable capacity: 4096 frames
    EXPECT_EQ(hardware.deliver(4096), 1);
    EXPECT_EQ(hardware.deliver(4097), 1);
    EXPECT_EQ(received->buffers.load(), 1);

    hardware.failAt(Step::render, -1, 1);
    hardware.deliver(256);
    EXPECT_EQ(received->buffers.load(), 1);
    hardware.deliver(256);
    EXPECT_EQ(received->buffers.load(), 2);
}

TEST_F(AUHALCaptureCoreTest, HeldBuffersAreNeverOverwrittenAndAFullPoolDropsCycles)
{
    start(mic);
    received->keep = true;
    for (int i = 0; i < zq::CaptureBufferPool::kDefaultCount + 3; ++i)
        hardware.deliver(64, float(i));
    ASSERT_EQ(received->kept.size(), std::size_t(zq::CaptureBufferPool::kDefaultCount));
    for (int i = 0; i < zq::CaptureBufferPool::kDefaultCount; ++i)
        EXPECT_EQ(received->kept[std::size_t(i)]->channelData(0)[0], float(i));

    // Letting one go frees its slot for the next cycle.
    {
        std::lock_guard lock(received->mutex);
        received->kept.erase(received->kept.begin());
    }
    hardware.deliver(64, 42.0f);
    EXPECT_EQ(received->kept.back()->channelData(0)[0], 42.0f);
}

TEST_F(AUHALCaptureCoreTest, DeviceLossAndRateChangesSignalRecovery)
{
    hardware.setNominalRate(mic, 48000);
    start(mic);
    // Within 4.8 Hz of the client rate: accepted. Beyond: recovery, once per firing.
    const int reads = hardware.callCount(Step::nominalRate);
    hardware.setNominalRate(mic, 48004);
    // Listeners read the rate again when they run: let this one read before the next change.
    ASSERT_TRUE(waitFor([&] { return hardware.callCount(Step::nominalRate) > reads; }));
    hardware.setNominalRate(mic, 48010);
    ASSERT_TRUE(waitFor([&] { return received->recoveries.load() == 1; }));
    // Moving back still differs from nothing: the comparison is with the client rate.
    hardware.setNominalRate(mic, 47990);
    ASSERT_TRUE(waitFor([&] { return received->recoveries.load() == 2; }));

    zq::test::AudioLogCapture log;
    hardware.removeDevice(mic);
    ASSERT_TRUE(waitFor([&] { return received->recoveries.load() == 3; }));
    EXPECT_TRUE(waitFor([&] {
        return log.contains(QStringLiteral("auhal: bound device %1 is no longer alive — signaling recovery").arg(mic));
    }));
}

TEST_F(AUHALCaptureCoreTest, StopReleasesOffTheCallerAndDisposesTenSecondsLater)
{
    start(mic);
    EXPECT_EQ(hardware.listenerCount(), 2u);
    stopAndDispose();
    EXPECT_EQ(hardware.listenerCount(), 0u);
    EXPECT_EQ(core->inspectRoute(false), zq::CaptureRouteInspection{});
    EXPECT_EQ(core->format(), std::nullopt);
    EXPECT_EQ(hardware.liveUnitCount(), 0);

    // A second stop, and a stop of a core that never started, do nothing.
    zq::test::AudioLogCapture log;
    core->stop();
    AUHALCaptureCore(harness.services()).stop();
    EXPECT_FALSE(log.contains(QStringLiteral("auhal: capture unit stopping")));
}

TEST_F(AUHALCaptureCoreTest, StoppedUnitStaysAliveUntilTheDisposal)
{
    start(mic);
    core->stop();
    harness.drainExecutor();
    EXPECT_EQ(hardware.runningUnitCount(), 0);
    EXPECT_EQ(hardware.liveUnitCount(), 1);
    harness.disposal.advance(9s);
    EXPECT_EQ(hardware.liveUnitCount(), 1);
    harness.disposal.advance(1s);
    EXPECT_EQ(hardware.liveUnitCount(), 0);
}

TEST_F(AUHALCaptureCoreTest, TeardownWhileBuffersArriveNeverCallsAGoneTap)
{
    for (bool withStop : {true, false}) {
        core = std::make_shared<AUHALCaptureCore>(harness.services());
        received = std::make_shared<Received>();
        start(mic);
        std::atomic<bool> running{true};
        std::thread audio([&] {
            while (running)
                hardware.deliver(128);
        });
        ASSERT_TRUE(waitFor([&] { return received->buffers.load() > 10; }));
        if (withStop)
            core->stop();
        core.reset(); // dropped while its callback may be running
        received.reset();
        harness.drainExecutor();
        running = false;
        audio.join();
        EXPECT_EQ(hardware.runningUnitCount(), 0);
        harness.disposal.advance(10s);
        EXPECT_EQ(hardware.liveUnitCount(), 0);
    }
}

} // namespace

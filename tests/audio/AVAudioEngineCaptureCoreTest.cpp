#include "audio/AVAudioEngineCaptureCore.h"
#include "audio/StartFailurePhase.h"
#include "support/FakeAudioHardware.h"
#include "support/FakeCaptureCore.h"
#include "support/Polling.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace std::chrono_literals;
using zq::AudioCaptureError;
using zq::AVAudioEngineCaptureCore;
using zq::CaptureTime;
using zq::PhasedStartError;
using zq::StartFailurePhase;
using zq::platform::AudioDeviceId;
using zq::platform::AudioFormat;
using zq::platform::SharedPCMBuffer;
using zq::test::FakeAudioHardware;
using Step = zq::test::FakeAudioHardware::Step;
using zq::test::waitFor;

namespace {

const QString kSystemDefault = QStringLiteral("system-default");

struct EngineReceived {
    std::mutex mutex;
    std::optional<AudioFormat> lastFormat;
    std::atomic<int> buffers{0};
    std::atomic<int> recoveries{0};
};

template <typename Body>
AudioCaptureError captureError(Body body)
{
    try {
        body();
    } catch (const AudioCaptureError &error) {
        return error;
    }
    return AudioCaptureError(QString(), 0, QStringLiteral("no error"));
}

class AVAudioEngineCaptureCoreTest : public ::testing::Test {
protected:
    AVAudioEngineCaptureCoreTest()
    {
        mic = addDevice(QStringLiteral("usb-mic"), QStringLiteral("USB Mic"), zq::transportType::usb, 48000);
        hardware.setDefaultInput(mic);
    }
    ~AVAudioEngineCaptureCoreTest() override
    {
        core.reset();
        harness.drainExecutor();
    }

    AudioDeviceId addDevice(const QString &uid, const QString &name, std::uint32_t transport, double rate,
                            std::vector<AudioDeviceId> members = {})
    {
        FakeAudioHardware::Device device;
        device.uid = uid;
        device.name = name;
        device.transport = transport;
        device.nominalRate = rate;
        device.aggregateMembers = std::move(members);
        return hardware.addDevice(device);
    }

    zq::CaptureCoreSetup start(std::optional<AudioDeviceId> resolved, const QString &pref = QStringLiteral("usb-mic"))
    {
        auto seen = received;
        return core->start(
            pref, resolved,
            [seen](const SharedPCMBuffer &buffer, const CaptureTime &) {
                std::lock_guard lock(seen->mutex);
                seen->lastFormat = buffer->format();
                ++seen->buffers;
            },
            [seen] { ++seen->recoveries; });
    }

    FakeAudioHardware hardware;
    zq::test::CaptureCoreTestServices harness{hardware};
    std::shared_ptr<AVAudioEngineCaptureCore> core = std::make_shared<AVAudioEngineCaptureCore>(harness.services());
    std::shared_ptr<EngineReceived> received = std::make_shared<EngineReceived>();
    AudioDeviceId mic = 0;
};

TEST_F(AVAudioEngineCaptureCoreTest, SettledDeviceStartsAfterThreeEqualPollsAndTwoTenthsOfASecond)
{
    zq::test::AudioLogCapture log;
    const zq::CaptureCoreSetup setup = start(mic, kSystemDefault);

    EXPECT_TRUE(log.contains(QStringLiteral("session: input device already bound (pref=system-default) — skipping "
                                            "rebind")));
    // Stable from the first poll, but not ready before 0.2 s: 20 polls of 10 ms.
    EXPECT_EQ(harness.sleepCount(), 20);
    EXPECT_EQ(setup.boundDevice, mic);
    EXPECT_EQ(setup.boundDeviceName, QStringLiteral("USB Mic"));
    EXPECT_EQ(setup.transport, zq::InputTransport::usb);
    EXPECT_EQ(setup.format, (AudioFormat{48000, 1}));
    EXPECT_EQ(setup.deviceNominalRate, 48000.0);
    EXPECT_EQ(core->format(), setup.format);
    EXPECT_EQ(core->inspectRoute(true), (zq::CaptureRouteInspection{mic, {}}));

    EXPECT_EQ(hardware.deliver(480), 1);
    EXPECT_EQ(received->buffers.load(), 1);
    EXPECT_EQ(received->lastFormat, (AudioFormat{48000, 1}));
    // Larger than the tap's buffers: dropped, never written past them.
    EXPECT_EQ(hardware.deliver(5000), 1);
    EXPECT_EQ(received->buffers.load(), 1);
}

TEST_F(AVAudioEngineCaptureCoreTest, PinnedDeviceIsBoundAndAFormatChangeRestartsTheCount)
{
    const AudioDeviceId other =
        addDevice(QStringLiteral("bt"), QStringLiteral("Headset"), zq::transportType::bluetooth, 16000);
    zq::test::AudioLogCapture log;
    harness.onSleep = [&](int count) {
        if (count == 19)
            hardware.setNominalRate(other, 24000);
    };
    const zq::CaptureCoreSetup setup = start(other, QStringLiteral("bt"));
    EXPECT_TRUE(
        log.contains(QStringLiteral("session: bound input device id=%1 (pref=bt, was %2)").arg(other).arg(mic)));
    EXPECT_EQ(harness.sleepCount(), 21); // polls 19, 20, 21 saw the new format
    EXPECT_EQ(setup.boundDevice, other);
    EXPECT_EQ(setup.transport, zq::InputTransport::bluetooth);
    EXPECT_EQ(setup.format.sampleRate, 24000.0);
    // The rate as read before the wait; the tap asks for it.
    EXPECT_EQ(setup.deviceNominalRate, 16000.0);
    hardware.deliver(160);
    EXPECT_EQ(received->lastFormat, (AudioFormat{16000, 1}));
}

TEST_F(AVAudioEngineCaptureCoreTest, AggregateStandsForTheSelectedDeviceOnlyUnderTheSystemDefault)
{
    const AudioDeviceId aggregate =
        addDevice(QStringLiteral("agg"), QStringLiteral("Aggregate"), zq::transportType::aggregate, 48000, {mic});
    hardware.setReportedRoute(mic, aggregate);
    zq::test::AudioLogCapture log;
    const zq::CaptureCoreSetup setup = start(mic, kSystemDefault);
    EXPECT_EQ(setup.boundDevice, mic);
    EXPECT_EQ(setup.boundDeviceName, QStringLiteral("USB Mic"));
    EXPECT_TRUE(log.contains(
        QStringLiteral("session: aggregate device %1 represents selected input %2 (active subdevices=[%2])")
            .arg(aggregate)
            .arg(mic)));
    EXPECT_EQ(core->inspectRoute(true), (zq::CaptureRouteInspection{aggregate, {mic}}));
    EXPECT_EQ(core->inspectRoute(false), (zq::CaptureRouteInspection{aggregate, {}}));

    auto pinned = std::make_shared<AVAudioEngineCaptureCore>(harness.services());
    const AudioCaptureError error = captureError([&] { pinned->start(QStringLiteral("usb-mic"), mic, {}, {}); });
    EXPECT_EQ(error.domain(), zq::audioErrorDomain::app);
    EXPECT_EQ(error.code(), 5);
    EXPECT_EQ(error.errorDescription(), QStringLiteral("The selected microphone did not become ready"));
}

TEST_F(AVAudioEngineCaptureCoreTest, UnresolvedPreferenceUsesTheEnginesOwnDevice)
{
    zq::test::AudioLogCapture log;
    hardware.failAt(Step::nominalRate);
    const zq::CaptureCoreSetup setup = start(std::nullopt, QStringLiteral("gone-mic"));
    EXPECT_TRUE(log.contains(QStringLiteral("session: could not resolve input device for pref=gone-mic")));
    EXPECT_EQ(setup.boundDevice, mic);
    // No rate to ask for: the tap runs in the node's own format.
    EXPECT_EQ(setup.deviceNominalRate, std::nullopt);
    EXPECT_TRUE(log.contains(QStringLiteral("requested=nil (device nominal=0.000000)")));
}

TEST_F(AVAudioEngineCaptureCoreTest, DeviceThatNeverSettlesFailsWithCodeFive)
{
    // 0 Hz on every poll.
    const AudioDeviceId dead = addDevice(QStringLiteral("dead"), QStringLiteral("Dead"), zq::transportType::usb, 0);
    AudioCaptureError error = captureError([&] { start(dead, QStringLiteral("dead")); });
    EXPECT_EQ(error.code(), 5);
    EXPECT_EQ(harness.sleepCount(), 40);

    // Under the system default the rate must match what the device reported before the wait.
    core = std::make_shared<AVAudioEngineCaptureCore>(harness.services());
    harness.onSleep = [&](int count) {
        if (count == 41)
            hardware.setNominalRate(mic, 48005); // 5 Hz off 48000: beyond the 4.8 Hz tolerance
    };
    error = captureError([&] { start(mic, kSystemDefault); });
    EXPECT_EQ(error.code(), 5);
    EXPECT_EQ(error.errorDescription(), QStringLiteral("The selected microphone did not become ready"));
}

TEST_F(AVAudioEngineCaptureCoreTest, SetupFailuresRaiseTheirOwnErrors)
{
    hardware.failAt(Step::makeUnit, -1, 1);
    AudioCaptureError error = captureError([&] { start(mic); });
    EXPECT_EQ(error.domain(), zq::audioErrorDomain::app);
    EXPECT_EQ(error.code(), 6);

    hardware.failAt(Step::setIOEnabled, -66, 1);
    error = captureError(
        [&] { AVAudioEngineCaptureCore(harness.services()).start(QStringLiteral("usb-mic"), mic, {}, {}); });
    EXPECT_EQ(error.domain(), zq::audioErrorDomain::serverStatus);

    const AudioDeviceId other = addDevice(QStringLiteral("o"), QStringLiteral("Other"), zq::transportType::usb, 48000);
    hardware.failAt(Step::setCurrentDevice, -10851, 1);
    error =
        captureError([&] { AVAudioEngineCaptureCore(harness.services()).start(QStringLiteral("o"), other, {}, {}); });
    EXPECT_EQ(error.domain(), zq::audioErrorDomain::serverStatus);
    EXPECT_EQ(error.code(), -10851);
    EXPECT_EQ(error.errorDescription(), QStringLiteral("The audio server could not select the requested microphone"));
}

TEST_F(AVAudioEngineCaptureCoreTest, TapFailuresUseTheTapDomain)
{
    {
        // The format goes to 0 Hz between the settled wait and the tap installation.
        zq::test::AudioLogCapture log;
        log.onLine(QStringLiteral("session: input format(query)"), [&] { hardware.failAt(Step::inputFormat, -1, 1); });
        const AudioCaptureError error = captureError([&] { start(mic); });
        EXPECT_EQ(error.domain(), zq::audioTapErrorDomain);
        EXPECT_EQ(error.code(), 1);
        EXPECT_EQ(error.errorDescription(),
                  QStringLiteral("Microphone unavailable (0 Hz input) — check mic permission"));
    }
    {
        core = std::make_shared<AVAudioEngineCaptureCore>(harness.services());
        hardware.failAt(Step::setClientFormat, -10868, 1);
        const AudioCaptureError error = captureError([&] { start(mic); });
        EXPECT_EQ(error.domain(), zq::audioTapErrorDomain);
        EXPECT_EQ(error.code(), 3);
        EXPECT_EQ(error.errorDescription(),
                  QStringLiteral("Audio input changed during startup (TapFormatRejected): fake audio hardware: "
                                 "setClientFormat failed"));
    }
    std::optional<AudioCaptureError> error;
    EXPECT_FALSE(zq::catchAVFAudioException(
        [] {
            throw zq::AudioEngineException{QStringLiteral("Odd"), std::nullopt};
        },
        &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->errorDescription(),
              QStringLiteral("Audio input changed during startup (Odd): unknown audio engine exception"));
    EXPECT_THROW(zq::catchAVFAudioException([] { throw std::runtime_error("other"); }, &error), std::runtime_error);
}

TEST_F(AVAudioEngineCaptureCoreTest, EngineStartFailuresAreWrappedWithTheStartPhase)
{
    for (Step step : {Step::initialize, Step::start}) {
        core = std::make_shared<AVAudioEngineCaptureCore>(harness.services());
        hardware.failAt(step, -10867, 1);
        try {
            start(mic);
            FAIL() << "started";
        } catch (const PhasedStartError &error) {
            EXPECT_EQ(error.phase(), StartFailurePhase::start);
            try {
                std::rethrow_exception(error.underlying());
            } catch (const AudioCaptureError &underlying) {
                EXPECT_EQ(underlying.domain(), zq::audioErrorDomain::serverStatus);
                EXPECT_EQ(underlying.code(), -10867);
            }
        }
    }
    core.reset();
    harness.drainExecutor();
    harness.disposal.advance(10s);
    EXPECT_EQ(hardware.liveUnitCount(), 0);
}

TEST_F(AVAudioEngineCaptureCoreTest, DeviceLossSignalsRecoveryUntilStopped)
{
    const AudioDeviceId pinned =
        addDevice(QStringLiteral("p"), QStringLiteral("Pinned"), zq::transportType::usb, 48000);
    start(pinned, QStringLiteral("p"));
    zq::test::AudioLogCapture log;
    hardware.removeDevice(pinned);
    EXPECT_EQ(received->recoveries.load(), 1);
    EXPECT_TRUE(log.contains(QStringLiteral("engine configuration change")));

    const AudioDeviceId next = addDevice(QStringLiteral("n"), QStringLiteral("Next"), zq::transportType::usb, 48000);
    core = std::make_shared<AVAudioEngineCaptureCore>(harness.services());
    start(next, QStringLiteral("n"));
    core->stop();
    hardware.removeDevice(next);
    EXPECT_EQ(received->recoveries.load(), 1);
}

TEST_F(AVAudioEngineCaptureCoreTest, StopRetiresTheEngineAndTeardownRacesNoBuffer)
{
    start(mic);
    std::atomic<bool> running{true};
    std::thread audio([&] {
        while (running)
            hardware.deliver(128);
    });
    ASSERT_TRUE(waitFor([&] { return received->buffers.load() > 10; }));
    core->stop();
    EXPECT_EQ(core->format(), std::nullopt);
    EXPECT_EQ(core->inspectRoute(true), zq::CaptureRouteInspection{});
    core.reset();
    received.reset();
    harness.drainExecutor();
    running = false;
    audio.join();
    EXPECT_EQ(hardware.runningUnitCount(), 0);
    EXPECT_EQ(harness.releasePool.retainedCount(), 1u);
    harness.disposal.advance(10s);
    EXPECT_EQ(harness.releasePool.retainedCount(), 0u);
    EXPECT_EQ(hardware.liveUnitCount(), 0);

    // Never started: nothing happens.
    AVAudioEngineCaptureCore(harness.services()).stop();
}

} // namespace

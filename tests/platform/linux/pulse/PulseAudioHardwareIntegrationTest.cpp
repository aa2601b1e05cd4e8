#include "audio/AudioBufferUtilities.h"
#include "audio/AudioInputDevice.h"
#include "platform/linux/pulse/PulseAudioHardware.h"
#include "support/Polling.h"
#include "support/PulseServer.h"
#include "support/ServiceEnvironment.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>

using namespace std::chrono_literals;
using zq::AudioInputDevice;
using zq::InputTransport;
using zq::platform::AudioDeviceId;
using zq::platform::AudioFormat;
using zq::platform::AudioHardware;
using zq::platform::CaptureCycle;
using zq::platform::PulseAudioHardware;
using zq::test::PulseServer;

namespace {

// Counts listener calls from any thread and lets the test wait for the next ones. A listener may
// still fire after the test's last look (the back-end's thread runs until the fixture drops it), so
// the callbacks share the count rather than point at the counter.
class Counter {
public:
    std::function<void()> callback()
    {
        return [state = m_state] {
            std::lock_guard lock(state->mutex);
            ++state->count;
            state->changed.notify_all();
        };
    }
    int count() const
    {
        std::lock_guard lock(m_state->mutex);
        return m_state->count;
    }
    bool waitFor(int atLeast, std::chrono::milliseconds timeout = 5s)
    {
        std::unique_lock lock(m_state->mutex);
        return m_state->changed.wait_for(lock, timeout, [&] { return m_state->count >= atLeast; });
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        int count = 0;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

std::optional<AudioInputDevice> findByUid(const std::vector<AudioInputDevice> &devices, const char *uid)
{
    for (const AudioInputDevice &device : devices) {
        if (device.uid == QLatin1String(uid))
            return device;
    }
    return std::nullopt;
}

// A mono float client format at `rate`.
AudioFormat mono(double rate)
{
    AudioFormat format;
    format.sampleRate = rate;
    format.channelCount = 1;
    return format;
}

// Records into preallocated memory from the input callback, as a capture core does.
struct Recorder {
    explicit Recorder(std::size_t capacity) : samples(capacity) {}
    zq::platform::RecordStream *unit = nullptr;
    std::vector<float> samples;
    std::atomic<std::size_t> frames = 0;
    std::atomic<int> cycles = 0;
    std::atomic<int> failedRenders = 0;

    zq::platform::RecordStream::InputCallback callback()
    {
        return [this](const CaptureCycle &cycle) {
            ++cycles;
            const std::size_t at = frames.load();
            if (at + cycle.frames > samples.size())
                return 0;
            float *plane = samples.data() + at;
            const int status = unit->render(cycle, &plane, 1, cycle.frames);
            if (status != 0) {
                ++failedRenders;
                return status;
            }
            frames = at + cycle.frames;
            return 0;
        };
    }
    bool waitForFrames(std::size_t count, std::chrono::milliseconds timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (frames.load() < count && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(10ms);
        return frames.load() >= count;
    }
};

class PulseAudioHardwareIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const bool started = server.start();
        ASSERT_TRUE(zq::test::requireService(started, server.errorString()));
        hardware = std::make_unique<PulseAudioHardware>(server.serverAddress());
        hardware->start();
    }

    // The id of a listed input device with this uid.
    AudioDeviceId idOf(const char *uid)
    {
        const auto device = findByUid(AudioInputDevice::listInputDevices(*hardware), uid);
        return device ? device->id : 0;
    }

    PulseServer server;
    std::unique_ptr<PulseAudioHardware> hardware;
};

} // namespace

TEST_F(PulseAudioHardwareIntegrationTest, ListsSourcesWithTheirTransportsAndNoMonitors)
{
    const auto devices = AudioInputDevice::listInputDevices(*hardware);
    const auto usb = findByUid(devices, PulseServer::kUsbMicrophone);
    const auto bluetooth = findByUid(devices, PulseServer::kBluetoothMicrophone);
    const auto builtIn = findByUid(devices, PulseServer::kBuiltInMicrophone);
    ASSERT_TRUE(usb && bluetooth && builtIn);
    EXPECT_EQ(usb->transport, InputTransport::usb);
    EXPECT_EQ(usb->name, QStringLiteral("USB Headset Mic"));
    EXPECT_EQ(bluetooth->transport, InputTransport::bluetooth);
    EXPECT_EQ(builtIn->transport, InputTransport::builtIn);
    EXPECT_TRUE(findByUid(devices, PulseServer::kPipeMicrophone));
    EXPECT_FALSE(findByUid(devices, "zq_speaker.monitor")) << "a monitor is not a microphone";

    std::set<AudioDeviceId> ids;
    for (const auto &device : devices) {
        EXPECT_NE(device.id, 0u);
        ids.insert(device.id);
    }
    EXPECT_EQ(ids.size(), devices.size()) << "ids are unique";
    EXPECT_EQ(AudioInputDevice::listInputDevices(*hardware), devices) << "ids are stable while devices stay";
    EXPECT_EQ(zq::builtInFallbackDevice(*hardware, usb->id)->uid, QLatin1String(PulseServer::kBuiltInMicrophone));
    EXPECT_EQ(AudioInputDevice::deviceNominalInputRate(*hardware, idOf(PulseServer::kPipeMicrophone)), 16000.0);
}

TEST_F(PulseAudioHardwareIntegrationTest, ListenersFollowSourcesAndTheDefault)
{
    Counter listChanged, defaultChanged, gone;
    ASSERT_TRUE(hardware->addSystemListener(AudioHardware::SystemProperty::devices, nullptr, listChanged.callback()));
    ASSERT_TRUE(hardware->addSystemListener(AudioHardware::SystemProperty::defaultInputDevice, nullptr,
                                            defaultChanged.callback()));
    // The back-end connects in the background: a source loaded before it has connected is simply
    // there when it does, and nothing changed for its listeners. A read waits for the connection.
    ASSERT_EQ(idOf("zq_late_mic"), 0u);

    const auto module =
        server.loadModule(QStringLiteral("module-remap-source"),
                          {QStringLiteral("source_name=zq_late_mic"), QStringLiteral("master=zq_speaker.monitor"),
                           QStringLiteral("source_properties=device.description=Late")});
    ASSERT_TRUE(module) << module.error().message.toStdString();
    ASSERT_TRUE(listChanged.waitFor(1)) << "loading a source fires the device-list listener";
    const AudioDeviceId late = idOf("zq_late_mic");
    ASSERT_NE(late, 0u);
    EXPECT_EQ(hardware->transportType(late), zq::transportType::virtualDevice) << "a remap with no bus is a filter";

    ASSERT_TRUE(server.setDefaultSource(QStringLiteral("zq_late_mic")));
    ASSERT_TRUE(defaultChanged.waitFor(1)) << "a new default input fires its listener";
    EXPECT_EQ(AudioInputDevice::systemDefaultInputDevice(*hardware), late);
    EXPECT_EQ(AudioInputDevice::resolve(*hardware, QStringLiteral("system-default")), late);

    ASSERT_TRUE(hardware->addDeviceListener(late, AudioHardware::DeviceProperty::isAlive, nullptr, gone.callback()));
    const int listed = listChanged.count();
    ASSERT_TRUE(server.unloadModule(module.value()));
    ASSERT_TRUE(gone.waitFor(1)) << "unloading fires the device's alive listener";
    ASSERT_TRUE(listChanged.waitFor(listed + 1));
    EXPECT_EQ(hardware->isAlive(late), false);
    EXPECT_EQ(idOf("zq_late_mic"), 0u);

    const auto again =
        server.loadModule(QStringLiteral("module-remap-source"),
                          {QStringLiteral("source_name=zq_late_mic"), QStringLiteral("master=zq_speaker.monitor")});
    ASSERT_TRUE(again);
    const AudioDeviceId back = idOf("zq_late_mic");
    EXPECT_NE(back, 0u);
    EXPECT_NE(back, late) << "a device that comes back gets a new id";
}

// A server that went away is noticed from its connection's state alone: the devices' alive
// listeners fire, and every read and capture then fails plainly instead of using the dead connection.
TEST_F(PulseAudioHardwareIntegrationTest, AServerThatIsGoneFiresAliveAndFailsEveryReadPlainly)
{
    const AudioDeviceId usb = idOf(PulseServer::kUsbMicrophone);
    ASSERT_NE(usb, 0u);
    ASSERT_TRUE(hardware->makeRecordStream()) << "a stream can be made while the server runs";
    Counter gone;
    ASSERT_TRUE(hardware->addDeviceListener(usb, AudioHardware::DeviceProperty::isAlive, nullptr, gone.callback()));
    server.stop();
    ASSERT_TRUE(gone.waitFor(1)) << "the lost connection fires the device's alive listener";

    const auto stream = hardware->makeRecordStream();
    ASSERT_FALSE(stream);
    EXPECT_EQ(stream.error().message, QStringLiteral("The audio server is not reachable"));
    EXPECT_EQ(hardware->isAlive(usb), false);
    EXPECT_EQ(hardware->devices(), std::nullopt);
    EXPECT_EQ(AudioInputDevice::resolve(*hardware, QStringLiteral("system-default")), std::nullopt);
    EXPECT_EQ(AudioInputDevice::resolve(*hardware, QLatin1String(PulseServer::kUsbMicrophone)), std::nullopt);
}

TEST_F(PulseAudioHardwareIntegrationTest, OneSecondFromAKnownSourceArrivesAtItsLevel)
{
    zq::test::PipeFeeder feeder(server.micFifoPath(), 0);
    ASSERT_TRUE(feeder.start()) << feeder.errorString().toStdString();
    const AudioDeviceId pipe = idOf(PulseServer::kPipeMicrophone);
    ASSERT_NE(pipe, 0u);

    auto made = hardware->makeRecordStream();
    ASSERT_TRUE(made);
    auto unit = std::move(made.value());
    Recorder recorder(16000 * 4);
    recorder.unit = unit.get();
    ASSERT_TRUE(unit->setCurrentDevice(pipe));
    EXPECT_EQ(unit->inputFormat(), mono(16000));
    ASSERT_TRUE(unit->setClientFormat(mono(16000)));
    ASSERT_TRUE(unit->setInputCallback(recorder.callback()));
    ASSERT_TRUE(unit->initialize());
    ASSERT_TRUE(unit->start());
    EXPECT_EQ(zq::boundInputDevice(unit.get()), pipe) << "the stream reports the source it is bound to";

    // A 440 Hz tone at half scale: its RMS is 0.5 / sqrt(2).
    feeder.speak(zq::test::PipeFeeder::tone(440, 1500ms, 16384));
    ASSERT_TRUE(feeder.waitUntilSpoken(zq::test::kLoadedMachineTimeout));
    ASSERT_TRUE(recorder.waitForFrames(16000 * 2, 5s)) << "got " << recorder.frames.load() << " frames";
    ASSERT_TRUE(unit->stop());
    const std::size_t frames = recorder.frames.load();
    const int cycles = recorder.cycles.load();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(recorder.cycles.load(), cycles) << "no callback after stop() returned";
    EXPECT_EQ(recorder.failedRenders.load(), 0);

    int toneBlocks = 0;
    for (std::size_t start = 0; start + 1600 <= frames; start += 1600) {
        double sum = 0;
        for (std::size_t i = start; i < start + 1600; ++i)
            sum += double(recorder.samples[i]) * recorder.samples[i];
        const double rms = std::sqrt(sum / 1600);
        if (std::abs(rms - 0.5 / std::sqrt(2.0)) < 0.01)
            ++toneBlocks;
    }
    EXPECT_GE(toneBlocks, 10) << "a full second of the tone at its level";
}

TEST_F(PulseAudioHardwareIntegrationTest, SourceRemovedWhileRecordingFailsTheStreamAndFiresAlive)
{
    const auto module =
        server.loadModule(QStringLiteral("module-remap-source"),
                          {QStringLiteral("source_name=zq_doomed_mic"), QStringLiteral("master=zq_speaker.monitor"),
                           QStringLiteral("source_properties=device.bus=usb")});
    ASSERT_TRUE(module);
    const AudioDeviceId doomed = idOf("zq_doomed_mic");
    ASSERT_NE(doomed, 0u);

    Counter alive, configurationChanged;
    ASSERT_TRUE(hardware->addDeviceListener(doomed, AudioHardware::DeviceProperty::isAlive, nullptr, alive.callback()));
    auto unit = std::move(hardware->makeRecordStream().value());
    Recorder recorder(48000 * 20);
    recorder.unit = unit.get();
    ASSERT_TRUE(unit->setCurrentDevice(doomed));
    const auto format = unit->inputFormat();
    ASSERT_TRUE(format);
    ASSERT_TRUE(unit->setClientFormat(mono(format->sampleRate)));
    ASSERT_TRUE(unit->setInputCallback(recorder.callback()));
    unit->setConfigurationChangeHandler(configurationChanged.callback());
    ASSERT_TRUE(unit->initialize());
    ASSERT_TRUE(unit->start());
    ASSERT_TRUE(recorder.waitForFrames(1, 5s)) << "the monitor of an idle sink still delivers silence";

    ASSERT_TRUE(server.unloadModule(module.value()));
    EXPECT_TRUE(alive.waitFor(1)) << "the alive listener fires";
    EXPECT_TRUE(configurationChanged.waitFor(1)) << "the unit reports that its stream failed";
    EXPECT_EQ(hardware->isAlive(doomed), false);
    EXPECT_EQ(unit->currentDevice(), std::nullopt) << "a failed stream is bound to nothing";
    const int cycles = recorder.cycles.load();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(recorder.cycles.load(), cycles) << "no audio after the source is gone";

    auto another = std::move(hardware->makeRecordStream().value());
    EXPECT_FALSE(another->setCurrentDevice(doomed)) << "a vanished device cannot be chosen";
}

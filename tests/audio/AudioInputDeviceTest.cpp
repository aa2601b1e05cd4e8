#include "audio/AudioInputDevice.h"
#include "audio/AudioCaptureError.h"
#include "audio/InputIOIsolation.h"
#include "support/FakeAudioHardware.h"

#include <gtest/gtest.h>

#include <QStringList>

using zq::AudioInputDevice;
using zq::InputTransport;
using zq::platform::AudioDeviceId;
using zq::test::FakeAudioHardware;
using Step = FakeAudioHardware::Step;

namespace {

// Collects the audio category's messages for the lifetime of the object.
class LogCapture {
public:
    LogCapture() { s_lines.clear(), m_previous = qInstallMessageHandler(&LogCapture::handle); }
    ~LogCapture() { qInstallMessageHandler(m_previous); }
    const QStringList &lines() const { return s_lines; }

private:
    static void handle(QtMsgType, const QMessageLogContext &context, const QString &message)
    {
        if (QLatin1String(context.category) == QLatin1String("io.quorvane.zepaquarn.audio"))
            s_lines << message;
    }
    static inline QStringList s_lines;
    QtMessageHandler m_previous;
};

FakeAudioHardware::Device device(const char *uid, const char *name, std::uint32_t transport, int channels = 1)
{
    return FakeAudioHardware::Device(QString::fromLatin1(uid), QString::fromLatin1(name), transport, channels);
}

class AudioInputDeviceTest : public ::testing::Test {
protected:
    FakeAudioHardware hardware;
    AudioDeviceId speaker = hardware.addDevice(device("spk", "Speaker", zq::transportType::builtIn, 0));
    AudioDeviceId builtIn = hardware.addDevice(device("bltn-mic", "Built-in Microphone", zq::transportType::builtIn));
    AudioDeviceId usb = hardware.addDevice(device("usb-mic", "USB Headset Mic", zq::transportType::usb));
    AudioDeviceId headset = hardware.addDevice(device("bt-mic", "Headset", zq::transportType::bluetooth, 2));
};

} // namespace

TEST_F(AudioInputDeviceTest, ListKeepsOrderAndSkipsDevicesWithoutInputNameOrUid)
{
    const auto list = AudioInputDevice::listInputDevices(hardware);
    ASSERT_EQ(list.size(), 3u) << "the output-only speaker is not an input";
    EXPECT_EQ(list[0], (AudioInputDevice{builtIn, QStringLiteral("bltn-mic"), QStringLiteral("Built-in Microphone"),
                                         InputTransport::builtIn}));
    EXPECT_EQ(list[1].transport, InputTransport::usb);
    EXPECT_EQ(list[2].transport, InputTransport::bluetooth);

    hardware.failAt(Step::uid, -1, 1);
    EXPECT_EQ(AudioInputDevice::listInputDevices(hardware).size(), 2u) << "an unreadable uid skips the device";
    hardware.failAt(Step::name, -1, 1);
    EXPECT_EQ(AudioInputDevice::listInputDevices(hardware).size(), 2u) << "an unreadable name skips it too";
    hardware.failAt(Step::transport, -1, 1);
    const auto unknownTransport = AudioInputDevice::listInputDevices(hardware);
    ASSERT_EQ(unknownTransport.size(), 3u);
    EXPECT_EQ(unknownTransport[0].transport, InputTransport::other) << "an unreadable transport is listed as other";

    hardware.failAt(Step::devices, -1, 1);
    EXPECT_TRUE(AudioInputDevice::listInputDevices(hardware).empty());
}

TEST_F(AudioInputDeviceTest, ResolveFollowsThePinnedDeviceOrTheDefault)
{
    hardware.setDefaultInput(usb);
    LogCapture log;
    EXPECT_EQ(AudioInputDevice::resolve(hardware, QStringLiteral("system-default")), usb);
    EXPECT_EQ(AudioInputDevice::resolve(hardware, QStringLiteral("bt-mic")), headset);
    EXPECT_EQ(AudioInputDevice::resolve(hardware, QStringLiteral("usb-mic")), usb);
    EXPECT_TRUE(log.lines().isEmpty()) << log.lines().join(QLatin1Char('\n')).toStdString();

    EXPECT_EQ(AudioInputDevice::resolve(hardware, QStringLiteral("gone-mic")), usb);
    ASSERT_EQ(log.lines().size(), 1);
    EXPECT_EQ(log.lines().first(),
              QStringLiteral("pinned device gone-mic unavailable — using system default USB Headset Mic"));

    hardware.setDefaultInput(speaker);
    AudioInputDevice::resolve(hardware, QStringLiteral("gone-mic"));
    EXPECT_EQ(log.lines().last(),
              QStringLiteral("pinned device gone-mic unavailable — using system default id %1").arg(speaker))
        << "a default that is not an input device is named by its id";

    hardware.setDefaultInput(0);
    EXPECT_EQ(AudioInputDevice::resolve(hardware, QStringLiteral("system-default")), std::nullopt);
    EXPECT_EQ(AudioInputDevice::resolve(hardware, QStringLiteral("gone-mic")), std::nullopt);
    EXPECT_EQ(log.lines().size(), 2) << "no default, nothing to announce";
}

TEST_F(AudioInputDeviceTest, BuiltInFallbackSkipsTheExcludedDevice)
{
    EXPECT_EQ(zq::builtInFallbackDevice(hardware, std::nullopt)->id, builtIn);
    EXPECT_EQ(zq::builtInFallbackDevice(hardware, usb)->id, builtIn);
    EXPECT_FALSE(zq::builtInFallbackDevice(hardware, builtIn)) << "the only built-in microphone is the excluded one";
}

TEST_F(AudioInputDeviceTest, ReadersTreatFailuresAndNonsenseAsAbsent)
{
    EXPECT_FALSE(AudioInputDevice::systemDefaultInputDevice(hardware)) << "a default of 0 is none";
    EXPECT_EQ(AudioInputDevice::deviceNominalInputRate(hardware, usb), 48000.0);
    hardware.setNominalRate(usb, 0);
    EXPECT_FALSE(AudioInputDevice::deviceNominalInputRate(hardware, usb));
    EXPECT_TRUE(AudioInputDevice::activeAggregateSubdevices(hardware, usb).empty()) << "not an aggregate";

    auto aggregate = device("agg", "Aggregate", zq::transportType::aggregate);
    aggregate.aggregateMembers = {usb, 0, headset};
    const AudioDeviceId group = hardware.addDevice(aggregate);
    EXPECT_EQ(AudioInputDevice::activeAggregateSubdevices(hardware, group), (std::set<AudioDeviceId>{usb, headset}));
    hardware.failAt(Step::aggregate, -1, 1);
    EXPECT_TRUE(AudioInputDevice::activeAggregateSubdevices(hardware, group).empty());
}

TEST_F(AudioInputDeviceTest, IsolationWritesOnlyWhenNeededAndReportsTheFailedWrite)
{
    EXPECT_THROW(zq::isolateInputIO(nullptr), zq::AudioCaptureError);

    auto unit = std::move(hardware.makeRecordStream().value());
    zq::isolateInputIO(unit.get());
    EXPECT_EQ(unit->isIOEnabled(zq::platform::RecordStream::IOScope::output), false);
    EXPECT_EQ(unit->isIOEnabled(zq::platform::RecordStream::IOScope::input), true);
    const int writes = hardware.callCount(Step::setIOEnabled);
    EXPECT_EQ(writes, 2);
    zq::isolateInputIO(unit.get());
    EXPECT_EQ(hardware.callCount(Step::setIOEnabled), writes) << "an input-only unit is left alone";

    auto fresh = std::move(hardware.makeRecordStream().value());
    hardware.failAt(Step::setIOEnabled, -10879, 1);
    try {
        zq::isolateInputIO(fresh.get());
        FAIL() << "a refused write must fail the isolation";
    } catch (const zq::AudioCaptureError &error) {
        EXPECT_EQ(error.domain(), zq::audioErrorDomain::serverStatus);
        EXPECT_EQ(error.code(), -10879) << "the failed disable-output write's status";
    }
}

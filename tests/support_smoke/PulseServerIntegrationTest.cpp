#include "support/Polling.h"
#include "support/PulseServer.h"
#include "support/ServiceEnvironment.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

using namespace zq;
using namespace zq::test;
using namespace std::chrono_literals;

namespace {

// The property lines of one source in `pactl list sources`.
QString sourceBlock(const QString &listing, const QString &name)
{
    for (const QString &block : listing.split(QRegularExpression(QStringLiteral("\n(?=Source #)")))) {
        if (block.contains(QStringLiteral("Name: ") + name + QLatin1Char('\n')))
            return block;
    }
    return {};
}

// Records `duration` of 16 kHz mono s16 from `source` with parec; returns the largest magnitude.
std::optional<int> recordPeak(const PulseServer &server, const QString &source, std::chrono::milliseconds duration)
{
    ChildProcess parec;
    ChildSpec spec;
    spec.program = QStringLiteral("parec");
    spec.arguments = {
        QStringLiteral("--device=") + source, QStringLiteral("--format=s16le"), QStringLiteral("--rate=16000"),
        QStringLiteral("--channels=1"),       QStringLiteral("--raw"),          QStringLiteral("--latency-msec=50")};
    spec.environment = server.clientEnvironment();
    spec.standardOutput = ChildStream::Pipe;
    if (!parec.start(spec))
        return std::nullopt;
    const qsizetype wanted = qsizetype(duration.count()) * 16000 / 1000 * 2;
    const QByteArray pcm = parec.readBytes(ChildProcess::Channel::StandardOutput, wanted, QDeadlineTimer(10s));
    if (pcm.size() < wanted)
        return std::nullopt;
    int peak = 0;
    const auto *samples = reinterpret_cast<const int16_t *>(pcm.constData());
    for (qsizetype i = 0; i < pcm.size() / 2; ++i)
        peak = std::max(peak, std::abs(int(samples[i])));
    return peak;
}

} // namespace

TEST(PulseServer, OffersTheVirtualDevicesWithTheirTransportProperties)
{
    PulseServer server;
    ZQ_REQUIRE_SERVICE(server.start(), server.errorString());
    EXPECT_TRUE(server.serverAddress().startsWith(QStringLiteral("unix:/")));

    const ToolResult shortList =
        server.pactl(QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sources"));
    ASSERT_TRUE(shortList.succeeded()) << shortList.describe().toStdString();
    for (const char *name : {PulseServer::kPipeMicrophone, PulseServer::kUsbMicrophone,
                             PulseServer::kBluetoothMicrophone, PulseServer::kBuiltInMicrophone, "zq_speaker.monitor"})
        EXPECT_TRUE(shortList.standardOutput.contains(name)) << name;

    const ToolResult longList = server.pactl(QStringLiteral("list"), QStringLiteral("sources"));
    ASSERT_TRUE(longList.succeeded()) << longList.describe().toStdString();
    const QString listing = QString::fromUtf8(longList.standardOutput);
    const QString usb = sourceBlock(listing, QLatin1String(PulseServer::kUsbMicrophone));
    EXPECT_TRUE(usb.contains(QStringLiteral("device.bus = \"usb\""))) << usb.toStdString();
    EXPECT_TRUE(usb.contains(QStringLiteral("device.form_factor = \"headset\"")));
    const QString bluetooth = sourceBlock(listing, QLatin1String(PulseServer::kBluetoothMicrophone));
    EXPECT_TRUE(bluetooth.contains(QStringLiteral("device.bus = \"bluetooth\""))) << bluetooth.toStdString();
    EXPECT_TRUE(bluetooth.contains(QStringLiteral("device.api = \"bluez\"")));
    const QString builtIn = sourceBlock(listing, QLatin1String(PulseServer::kBuiltInMicrophone));
    EXPECT_TRUE(builtIn.contains(QStringLiteral("device.form_factor = \"internal\""))) << builtIn.toStdString();
    EXPECT_TRUE(builtIn.contains(QStringLiteral("device.bus = \"pci\"")));
    const QString pipe = sourceBlock(listing, QLatin1String(PulseServer::kPipeMicrophone));
    EXPECT_TRUE(pipe.contains(QStringLiteral("Sample Specification: s16le 1ch 16000Hz"))) << pipe.toStdString();
}

TEST(PulseServer, LoadsAndUnloadsModulesAndSwitchesTheDefaultSource)
{
    PulseServer server;
    PulseDevices devices;
    devices.pipeMicrophone = false;
    devices.defaultSource = QLatin1String(PulseServer::kBuiltInMicrophone);
    ZQ_REQUIRE_SERVICE(server.start(devices), server.errorString());
    EXPECT_EQ(server.pactl(QStringLiteral("get-default-source")).standardOutput.trimmed(), "zq_builtin_mic");

    const rt::Result<uint32_t> index =
        server.loadModule(QStringLiteral("module-null-sink"), {QStringLiteral("sink_name=zq_extra")});
    ASSERT_TRUE(index) << index.error().message.toStdString();
    EXPECT_TRUE(server.pactl(QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sinks"))
                    .standardOutput.contains("zq_extra"));
    ASSERT_TRUE(server.setDefaultSource(QStringLiteral("zq_extra.monitor")));
    EXPECT_EQ(server.pactl(QStringLiteral("get-default-source")).standardOutput.trimmed(), "zq_extra.monitor");

    ASSERT_TRUE(server.unloadModule(index.value()));
    EXPECT_FALSE(server.pactl(QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sinks"))
                     .standardOutput.contains("zq_extra"));
    EXPECT_FALSE(server.unloadModule(index.value())) << "unloading twice must report an error";
    EXPECT_FALSE(server.setDefaultSource(QStringLiteral("zq_no_such_source")));
    EXPECT_FALSE(server.loadModule(QStringLiteral("module-zq-does-not-exist")));
}

TEST(PulseServer, StartFailsForAnUnknownDefaultSource)
{
    PulseServer server;
    PulseDevices devices;
    devices.defaultSource = QStringLiteral("zq_no_such_source");
    EXPECT_FALSE(server.start(devices)) << "a default source that does not exist must fail the start";
    EXPECT_FALSE(server.isRunning());
    EXPECT_FALSE(server.errorString().isEmpty());
}

TEST(PulseServer, PipeMicrophoneRecordsTheNoiseFloorAndSplicedSpeech)
{
    PulseServer server;
    ZQ_REQUIRE_SERVICE(server.start(), server.errorString());
    PipeFeeder feeder(server.micFifoPath());
    ASSERT_TRUE(feeder.start()) << feeder.errorString().toStdString();

    const std::optional<int> quiet = recordPeak(server, QLatin1String(PulseServer::kPipeMicrophone), 500ms);
    ASSERT_TRUE(quiet.has_value()) << "parec recorded less than 0.5 s from the pipe microphone";
    EXPECT_LT(*quiet, 64) << "the idle feeder writes a low noise floor";

    feeder.speak(PipeFeeder::tone(440, 1500ms, 12000));
    const std::optional<int> loud = recordPeak(server, QLatin1String(PulseServer::kPipeMicrophone), 500ms);
    ASSERT_TRUE(loud.has_value());
    EXPECT_GT(*loud, 6000) << "the spoken tone must reach the recording";

    EXPECT_TRUE(feeder.waitUntilSpoken(zq::test::kLoadedMachineTimeout));
    EXPECT_TRUE(feeder.isRunning());
    EXPECT_GE(feeder.blocksWritten(), 15u);
    feeder.stop();
    EXPECT_FALSE(feeder.isRunning());
}

TEST(PulseServer, FeederStopsWithAnErrorWhenTheMicrophoneGoesAway)
{
    PulseServer server;
    ZQ_REQUIRE_SERVICE(server.start(), server.errorString());
    PipeFeeder feeder(server.micFifoPath());
    ASSERT_TRUE(feeder.start()) << feeder.errorString().toStdString();
    server.stop();
    feeder.speak(PipeFeeder::tone(440, 1000ms, 12000));
    EXPECT_FALSE(feeder.waitUntilSpoken(zq::test::kLoadedMachineTimeout)) << "nobody reads the FIFO any more";
    EXPECT_FALSE(feeder.isRunning());
    EXPECT_FALSE(feeder.errorString().isEmpty());

    PipeFeeder orphan(server.micFifoPath());
    EXPECT_FALSE(orphan.start()) << "a FIFO without a reader must not be reported as open";
}

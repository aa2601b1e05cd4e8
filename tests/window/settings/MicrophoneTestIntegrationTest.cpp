// The microphone test on a private PulseAudio daemon: a second real engine on the pipe microphone,
// fed or silent.
#include "window/settings/MicrophoneTest.h"

#include "audio/AudioEngine.h"
#include "audio/BoundedHALExecutor.h"
#include "pipeline/SettingsDefaults.h"
#include "platform/linux/pulse/PulseAudioHardware.h"
#include "runtime/Clocks.h"
#include "runtime/QtMainLoop.h"
#include "runtime/Settings.h"
#include "support/FakeCaptureCore.h"
#include "support/Polling.h"
#include "support/PulseServer.h"
#include "support/ServiceEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace zq;
using test::PipeFeeder;
using test::PulseServer;

namespace {

class MicrophoneTestIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::PulseDevices devices;
        devices.defaultSource = QLatin1String(PulseServer::kUsbMicrophone);
        ASSERT_TRUE(test::requireService(server.start(devices), server.errorString()));
        hardware = std::make_unique<platform::PulseAudioHardware>(server.serverAddress());
        harness = std::make_unique<test::CaptureCoreTestServices>(*hardware);
        settings = std::make_unique<rt::Settings>(QString());
        registerDefaults(*settings);
        settings->setValue(keys::inputDevice, QLatin1String(PulseServer::kPipeMicrophone));
    }

    void TearDown() override
    {
        if (harness) {
            harness->releaseStopped();
            harness.reset();
        }
    }

    MicrophoneTestEngineFactory factory()
    {
        return [this]() -> std::unique_ptr<MicrophoneTestEngine> {
            CaptureCoreServices services = harness->realTimeServices(clocks);
            auto engine = std::make_unique<AudioEngine>(
                AudioEngine::Dependencies{loop, clocks, *settings, *hardware,
                                          [services](CaptureCoreKind kind) { return makeCaptureCore(kind, services); },
                                          folder.filePath(QStringLiteral("takes")), &executor,
                                          [](DiagnosticEvent, const DiagnosticMetadata &) {}});
            return std::make_unique<AudioEngineMicrophoneTest>(std::move(engine));
        };
    }

    QString runTest()
    {
        auto handle = rt::spawn(loop, runMicrophoneTest(factory()));
        test::processEventsUntil([&] { return handle.isDone(); }, 20s);
        if (!handle.isDone() || handle.hasFailed())
            return QStringLiteral("<not finished>");
        return handle.result().value_or(RowStatus{}).text;
    }

    QStringList takeFiles() const { return QDir(folder.filePath(QStringLiteral("takes"))).entryList(QDir::Files); }

    QTemporaryDir folder;
    PulseServer server;
    std::unique_ptr<platform::PulseAudioHardware> hardware;
    std::unique_ptr<test::CaptureCoreTestServices> harness;
    std::unique_ptr<rt::Settings> settings;
    rt::QtMainLoop loop;
    rt::SystemClocks clocks;
    BoundedHALExecutor executor{QStringLiteral("test.mic-test-hal")};
};

TEST_F(MicrophoneTestIntegrationTest, AFedMicrophoneIsHeardAndNothingIsKept)
{
    PipeFeeder feeder(server.micFifoPath());
    ASSERT_TRUE(feeder.start()) << feeder.errorString().toStdString();
    EXPECT_EQ(runTest(), QString::fromUtf8("✓ Audio received"));
    EXPECT_TRUE(takeFiles().isEmpty()) << "the test's take file is deleted";
}

TEST_F(MicrophoneTestIntegrationTest, AMicrophoneThatDeliversNothingSaysSo)
{
    // With no writer the pipe microphone delivers no audio at all, like a dead device.
    const QString verdict = runTest();
    EXPECT_TRUE(verdict.startsWith(QString::fromUtf8("✗ "))) << verdict.toStdString();
    EXPECT_TRUE(takeFiles().isEmpty());
}

} // namespace

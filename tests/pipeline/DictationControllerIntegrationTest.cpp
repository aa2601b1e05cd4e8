// The main paths of a take on the real capture engine (a private sound server with a pipe
// microphone), the real on-device recogniser and the real notification client on a private bus.

#include "pipeline/DictationController.h"

#include "audio/AudioEngine.h"
#include "audio/CaptureCore.h"
#include "pipeline/BackendFactory.h"
#include "pipeline/PillNotice.h"
#include "pipeline/SettingsDefaults.h"
#include "platform/linux/freedesktop/FreedesktopNotifications.h"
#include "platform/linux/pulse/PulseAudioHardware.h"
#include "platform/linux/speech/PocketSphinxRecognizer.h"
#include "runtime/QtMainLoop.h"
#include "support/DBusSession.h"
#include "support/FakeDictationServices.h"
#include "support/NotificationServer.h"
#include "support/Polling.h"
#include "support/PulseServer.h"
#include "support/ServiceEnvironment.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <chrono>

using namespace std::chrono_literals;
using namespace zq;
using namespace zq::test;

namespace {

const QString kGoForward = QStringLiteral("/usr/share/pocketsphinx/test/data/goforward.raw");

std::vector<int16_t> loadRaw(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    std::vector<int16_t> samples(static_cast<std::size_t>(bytes.size()) / 2);
    std::memcpy(samples.data(), bytes.constData(), samples.size() * 2);
    return samples;
}

// Runs the Qt event loop until `done` holds or `timeout` passes.
bool settle(const std::function<bool()> &done, std::chrono::milliseconds timeout = 20s)
{
    return zq::test::processEventsUntil(done, timeout);
}

class DictationControllerIntegrationTest : public ::testing::Test {
protected:
    void startServices(const PulseDevices &devices)
    {
        const bool started = pulse.start(devices);
        ASSERT_TRUE(requireService(started, pulse.errorString()));
        const bool busStarted = bus.start();
        ASSERT_TRUE(requireService(busStarted, bus.errorString()));
        const bool serverStarted = notificationServer.start(bus.address());
        ASSERT_TRUE(requireService(serverStarted, notificationServer.errorString()));

        hardware = std::make_unique<platform::PulseAudioHardware>(pulse.serverAddress());
        harness = std::make_unique<CaptureCoreTestServices>(*hardware);
        services = harness->realTimeServices(clocks);
        engine = std::make_unique<AudioEngine>(AudioEngine::Dependencies{
            loop, clocks, fakes.settings, *hardware,
            [this](CaptureCoreKind kind) { return makeCaptureCore(kind, services); }, fakes.takeDirectory(),
            &harness->executor, [](DiagnosticEvent, const DiagnosticMetadata &) {}});

        recognizer = std::make_shared<platform::PocketSphinxRecognizer>();
        backends = makeBackendFactory(BackendEnvironment{&loop, recognizer, {}});
        notificationBus = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(bus.address(), QStringLiteral("zq-controller-test")));
        notifications = std::make_unique<platform::FreedesktopNotifications>(*notificationBus);

        DictationController::Dependencies deps{loop,         clocks,          fakes.settings,
                                               *engine,      *fakes.history,  *fakes.incidents,
                                               *fakes.stats, *fakes.cues,     *fakes.audioDuringDictation,
                                               paster,       fakes.microphone};
        deps.notifications = notifications.get();
        deps.makeBackend = backends;
        deps.record = [](DiagnosticEvent, const DiagnosticMetadata &) {};
        controller = std::make_unique<DictationController>(deps);
        // English is the recogniser's only model; do not depend on the machine's locale.
        fakes.settings.setValue(keys::language, QStringLiteral("en"));
    }

    void TearDown() override
    {
        controller.reset();
        engine.reset();
        if (harness)
            harness->releaseStopped();
        notifications.reset();
        if (notificationBus)
            QDBusConnection::disconnectFromBus(notificationBus->name());
    }

    bool takeIsLive() const { return !controller->isAudioStartPending() && controller->isRecording(); }

    FakeDictationServices fakes{FakeDictationServices::Options{false, false}};
    rt::QtMainLoop loop;
    rt::SystemClocks clocks;
    PulseServer pulse;
    DBusSession bus;
    NotificationServer notificationServer;
    std::unique_ptr<platform::PulseAudioHardware> hardware;
    std::unique_ptr<CaptureCoreTestServices> harness;
    CaptureCoreServices services;
    std::unique_ptr<AudioEngine> engine;
    std::shared_ptr<platform::PocketSphinxRecognizer> recognizer;
    BackendFactory backends;
    std::unique_ptr<QDBusConnection> notificationBus;
    std::unique_ptr<platform::FreedesktopNotifications> notifications;
    Paster paster{fakes.pasteboard, fakes.keys, fakes.screenLock, loop};
    std::unique_ptr<DictationController> controller;
};

TEST_F(DictationControllerIntegrationTest, ASpokenPhraseIsPastedAndAnEscapedTakeLeavesNothing)
{
    ZQ_REQUIRE_SERVICE(platform::PocketSphinxModel::debianEnglish().isInstalled() && QFile::exists(kGoForward),
                       "the pocketsphinx-en-us model and pocketsphinx-testdata are needed");
    PulseDevices devices;
    devices.defaultSource = QLatin1String(PulseServer::kPipeMicrophone);
    startServices(devices);
    if (HasFatalFailure() || IsSkipped())
        return;
    PipeFeeder feeder(pulse.micFifoPath());
    ASSERT_TRUE(feeder.start()) << feeder.errorString().toStdString();

    controller->startDictation();
    ASSERT_TRUE(settle([&] { return takeIsLive(); })) << "the take never went live";
    EXPECT_TRUE(controller->pillState().is(PillState::Kind::listening));
    feeder.speak(loadRaw(kGoForward));
    feeder.speak(std::vector<int16_t>(PipeFeeder::kSampleRateHz / 2, 0));
    ASSERT_TRUE(settle([&] { return feeder.pendingSamples() == 0; }));
    settle([] { return false; }, 300ms);

    controller->requestFinish();
    ASSERT_TRUE(settle([&] { return !controller->isTranscribing(); }, test::kLoadedMachineTimeout));
    ASSERT_EQ(fakes.keys.pastedTexts().size(), 1) << controller->pillState().notice().toStdString();
    EXPECT_EQ(fakes.keys.pastedTexts().front(), QStringLiteral("go forward ten meters"));
    EXPECT_EQ(fakes.history->items().front().text, QStringLiteral("go forward ten meters"));
    EXPECT_TRUE(controller->pillState().is(PillState::Kind::done));
    EXPECT_TRUE(fakes.takeFiles().isEmpty());

    // Escape while the user speaks: nothing is pasted, nothing is kept.
    controller->startDictation();
    ASSERT_TRUE(settle([&] { return takeIsLive(); }));
    feeder.speak(loadRaw(kGoForward));
    settle([] { return false; }, 1s);
    controller->cancelDictation();
    settle([] { return false; }, 2s);
    EXPECT_EQ(fakes.keys.pastedTexts().size(), 1);
    EXPECT_TRUE(fakes.incidents->items().isEmpty());
    EXPECT_TRUE(fakes.takeFiles().isEmpty());
    EXPECT_TRUE(controller->pillState().is(PillState::Kind::hidden));
}

TEST_F(DictationControllerIntegrationTest, AServerWithoutMicrophonesFailsAsUnavailableWithANotification)
{
    PulseDevices devices;
    devices.pipeMicrophone = devices.usbMicrophone = devices.bluetoothMicrophone = devices.builtInMicrophone = false;
    startServices(devices);
    if (HasFatalFailure() || IsSkipped())
        return;

    controller->startDictation();
    ASSERT_TRUE(settle([&] { return !controller->isAudioStartPending(); }, 30s));
    ASSERT_EQ(fakes.incidents->items().size(), 1);
    EXPECT_EQ(fakes.incidents->items().front().code, QStringLiteral("ZQ-MIC-UNAVAILABLE"));
    EXPECT_TRUE(controller->pillState().is(PillState::Kind::muted));

    ASSERT_TRUE(settle([&] { return !notificationServer.notifications().empty(); }, 5s));
    ReceivedNotification shown = notificationServer.notifications().front();
    EXPECT_EQ(shown.summary, QStringLiteral("Microphone unavailable"));
    EXPECT_EQ(shown.urgency(), 1);
    EXPECT_EQ(shown.expireTimeoutMs, -1) << "the server's own timeout";
    EXPECT_EQ(shown.replacesId, 0u);

    // A refused paste's notice asks for the sound and goes away like any other.
    notifications->requestAuthorization([this](bool granted) {
        postUserNotification(granted, pillNotice(DictationFailure::pasteBlocked(), QStringLiteral("local")),
                             *notifications, QStringLiteral("refused"));
    });
    ASSERT_TRUE(settle([&] { return notificationServer.notifications().size() == 2; }, 5s));
    shown = notificationServer.notifications().back();
    EXPECT_EQ(shown.summary, QStringLiteral("Transcript copied"));
    EXPECT_EQ(shown.urgency(), 1) << "a critical notice stays until dismissed";
    EXPECT_EQ(shown.expireTimeoutMs, -1);
    EXPECT_TRUE(shown.hints.contains(QStringLiteral("sound-name")));
    EXPECT_NE(shown.id, notificationServer.notifications().front().id);
    // Taken back, as when the window fetches the text after all.
    notifications->remove(QStringLiteral("refused"));
    EXPECT_TRUE(settle([&] { return notificationServer.closedIds() == std::vector<uint32_t>{shown.id}; }, 5s));
}

} // namespace

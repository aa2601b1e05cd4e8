#pragma once

#include "app/ZEPAquarnApp.h"
#include "pipeline/DictationController.h"
#include "pipeline/TriggerRecordingGate.h"
#include "platform/linux/freedesktop/XdgAutostartEntry.h"
#include "records/IncidentStore.h"
#include "support/FakeDictationServices.h"
#include "support/FakeHttpClient.h"
#include "support/FakeMicrophoneTestEngine.h"
#include "support/FakePermissionProbe.h"
#include "support/FakeSecretStore.h"
#include "support/Polling.h"
#include "window/settings/AppSettingsModel.h"

#include <QApplication>
#include <QDateTime>
#include <QTemporaryDir>
#include <QUuid>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

// Helpers shared by the window tests.
namespace zq::test {

// An unread incident of an empty recording, dated now, added to `store`.
inline DictationIncident insertIncident(IncidentStore &store, const QString &title = {})
{
    DictationIncident incident;
    incident.id = QUuid::createUuid();
    incident.date = QDateTime::currentDateTimeUtc();
    incident.code = QStringLiteral("ZQ-AUDIO-EMPTY");
    incident.title = title;
    store.insert(incident);
    return incident;
}

// The application over fake dictation services, with its settings pages over a fake microphone
// test, the keyring in `store` and the key test against `keyTest` (both read when the pages open,
// so a test may change them before).
class WindowAppFixture : public ::testing::Test {
protected:
    void TearDown() override { app.reset(); }

    // The application's services over `services`, copying to `pasteboard` when given one; a test
    // swaps in the factories its pages need.
    AppServices appServices(platform::Pasteboard *pasteboard = nullptr)
    {
        return {
            .application = *qobject_cast<QApplication *>(QCoreApplication::instance()),
            .loop = services.loop,
            .settings = services.settings,
            .hardware = services.hardware,
            .permissionProbe = probe,
            .pasteboard = pasteboard ? *pasteboard : services.pasteboard,
            .notifications = services.notifications,
            .audioDuringDictation = *services.audioDuringDictation,
            .recordingGate = recordingGate,
            .makeController =
                [this] {
                    services.makeController();
                    return std::move(services.controller);
                },
        };
    }

    void makeApp(
        AppServices made, std::function<void(QWidget &, bool)> setTaskbarPresence = [](QWidget &, bool) {})
    {
        madeServices.emplace(std::move(made));
        app = std::make_unique<ZEPAquarnApp>(*madeServices, LaunchOrder::allAtOnce);
        app->setSettingsServices(
            [this](DictationController &controller, std::function<void(bool)> applyShowInDock) {
                AppSettingsModel::Dependencies deps{services.loop,
                                                    services.settings,
                                                    controller.incidents(),
                                                    controller.audio(),
                                                    {},
                                                    FakeMicrophoneTestEngine::factory(micScript),
                                                    Keychain(store),
                                                    autostart,
                                                    std::move(applyShowInDock),
                                                    keyTest};
                return std::make_unique<AppSettingsModel>(std::move(deps));
            },
            std::move(setTaskbarPresence));
    }

    // Runs the loop and Qt's events until `done` holds (real time: the keyring, HTTP and X run
    // outside the test's thread).
    bool settle(const std::function<bool()> &done, std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        return processEventsUntil(services.loop, done, timeout);
    }

    FakeDictationServices services{{.makeController = false}};
    std::shared_ptr<FakeMicrophoneTestEngine::Script> micScript = std::make_shared<FakeMicrophoneTestEngine::Script>();
    std::shared_ptr<platform::SecretStore> store = std::make_shared<FakeSecretStore>();
    APIKeyTestConfig keyTest{QUrl(QStringLiteral("http://127.0.0.1:9")), std::chrono::seconds(1),
                             std::make_shared<FakeHttpClient>()};
    QTemporaryDir config;
    platform::XdgAutostartEntry autostart{config.filePath(QStringLiteral("autostart")), QStringLiteral("/bin/true")};
    FakePermissionProbe probe;
    TriggerRecordingGate recordingGate;
    std::optional<AppServices> madeServices;
    std::unique_ptr<ZEPAquarnApp> app;
};

} // namespace zq::test

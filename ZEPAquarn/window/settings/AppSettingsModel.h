#pragma once

#include "audio/AudioInputDevice.h"
#include "pipeline/LanguageCatalogue.h"
#include "runtime/Executor.h"
#include "runtime/Task.h"
#include "transcription/Keychain.h"
#include "window/AppWindowSection.h"
#include "window/settings/APIKeyTest.h"
#include "window/settings/MicrophoneTest.h"
#include "window/settings/SettingsPageText.h"

#include <QLocale>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace zq {

namespace rt {
class Settings;
}
namespace platform {
class LoginItem;
}
class AudioEngine;
class IncidentStore;
class TriggerReach;

// What the settings pages show and what their controls do: the stored settings they bind to, the
// state they hold besides, and the rules between them. The pages read and write only through it;
// every change of a setting or of the state below is published by stateChanged(). Main thread only.
class AppSettingsModel : public QObject {
    Q_OBJECT
public:
    struct Dependencies {
        rt::MainLoop &loop;
        rt::Settings &settings;
        IncidentStore &incidents;
        // Dictation's engine: re-targeted by the microphone picker, asked for its phase.
        AudioEngine &dictationAudio;
        std::function<std::vector<AudioInputDevice>()> listInputDevices;
        // A second engine for each microphone test.
        MicrophoneTestEngineFactory makeMicrophoneTestEngine;
        Keychain keychain;
        platform::LoginItem &loginItem;
        // Shows or hides the main window in the taskbar and window switcher.
        std::function<void(bool shown)> applyShowInDock;
        APIKeyTestConfig keyTest;
        // What "auto" stands for in the unsupported-language note.
        QLocale locale = QLocale::system();
        // The key field is saved this long after the last keystroke.
        rt::Nanos keySaveDelay = rt::seconds(0.5);
        // The languages each engine offers; none on the device unless a model was found.
        LanguageCatalogue languages = {};
    };

    explicit AppSettingsModel(Dependencies dependencies, QObject *parent = nullptr);
    ~AppSettingsModel() override;

    // Run each time the settings view appears: lists the devices, marks incidents read on the
    // Support page and resets a language the engine cannot use.
    void onAppearRefresh(AppWindowSection section);
    // Stores "auto" when the stored "language" is not one the stored engine keeps.
    void languageCheck();
    const LanguageCatalogue &languages() const { return m_deps.languages; }

    // Audio.
    const std::vector<AudioInputDevice> &inputDevices() const { return m_inputDevices; }
    // The stored "inputDevice": a device's uid, or the system default's.
    QString inputDevice() const;
    void setInputDevice(const QString &uid);
    // The switch reads the inverse of "releaseMicWhenIdle".
    bool alwaysOnBluetooth() const;
    void setAlwaysOnBluetooth(bool on);
    // Applies the release rule to a held microphone now, unless a take is starting or live.
    void releaseCheck();
    const RowStatus &micTestResult() const { return m_micTestResult; }
    bool micTesting() const { return m_micTesting; }
    // False while a test runs and while dictation's take is starting or live: a second capture then
    // could disturb the take.
    bool canRunMicTest() const;
    void runMicTest();

    // Transcription.
    // The stored "backend" as the engine picker binds it, and the engine it selects.
    QString backend() const;
    void setBackend(const QString &backend);
    BackendKind backendKind() const;
    bool usesOpenAI() const { return backendKind() == BackendKind::openai; }
    // The stored "language" and the choices the picker offers for the stored engine.
    QString language() const;
    void setLanguage(const QString &code);
    std::vector<PickerChoice> languageChoices() const;
    // "cleanupEnabled"; the OpenAI engine's transcription includes cleanup, whatever it holds.
    bool cleanupEnabled() const;
    void setCleanupEnabled(bool on);
    QString cleanupDetail() const;
    const QString &apiKey() const { return m_apiKey; }
    // The keyring has answered the read made at construction.
    bool isAPIKeyLoaded() const { return m_apiKeyLoaded; }
    // Saved to the keyring once typing pauses, and before a key test reads it.
    void setAPIKey(const QString &key);
    const RowStatus &keyTestResult() const { return m_keyTestResult; }
    bool keyTesting() const { return m_keyTesting; }
    void runKeyTest();
    bool showKeyHelp() const { return m_showKeyHelp; }
    void setShowKeyHelp(bool shown);
    // The language the note under the picker names: one the on-device engine has no model for.
    std::optional<Language> unsupportedLanguage() const;
    // The note under the picker for that language; none while the engine has the language.
    std::optional<LanguageNote> unsupportedLanguageNote() const;
    void useOpenAI();

    // Dictionary.
    const QString &dictionaryText() const { return m_dictionaryText; }
    void setDictionaryText(const QString &text);

    // General.
    bool soundCues() const;
    void setSoundCues(bool on);
    // The stored "audioDuringDictation" mode.
    QString audioDuringDictation() const;
    void setAudioDuringDictation(const QString &mode);
    // The stored "appearance" (system, light or dark), as the theme picker names it.
    QString appearance() const;
    void setAppearance(const QString &appearance);
    bool launchAtLogin() const { return m_launchAtLogin; }
    // Why the last change of launch at login was refused; empty otherwise.
    const RowStatus &launchAtLoginError() const { return m_launchAtLoginError; }
    void setLaunchAtLogin(bool enabled);
    bool showInDock() const;
    void setShowInDock(bool shown);
    // Where the FAQ learns which triggers can start a take; without one it names the stored ones.
    void setTriggerReach(const TriggerReach *reach);
    // "Right Control", "Right Control or F8"; empty when no trigger in force can be seen.
    QString triggerNamesInForce() const;
    // Under the Trigger row: why the primary key cannot start a take here (Fn that this desktop never
    // sees); empty otherwise.
    RowStatus triggerNote() const;

    // The application's version, or an em dash when it has none.
    static QString versionLabel();

signals:
    void stateChanged();

private:
    void saveKeyNow();
    void publish() { emit stateChanged(); }

    Dependencies m_deps;
    std::vector<AudioInputDevice> m_inputDevices;
    RowStatus m_micTestResult;
    bool m_micTesting = false;
    QString m_apiKey;
    bool m_apiKeyEdited = false;
    bool m_apiKeyLoaded = false;
    RowStatus m_keyTestResult;
    bool m_keyTesting = false;
    bool m_showKeyHelp = false;
    QString m_dictionaryText;
    bool m_launchAtLogin = false;
    RowStatus m_launchAtLoginError;
    rt::WorkItem m_keySaveTimer;
    // Saves run one after another, so the keyring ends with the last text typed.
    rt::TaskHandle<void> m_lastKeySave;
    // What only this model waits for; it ends with the model, so that a worker finishing late
    // never wakes a loop that may be gone by then. Saves are not among them: they must land.
    rt::TaskHandle<std::optional<QString>> m_keyRead;
    rt::TaskHandle<RowStatus> m_micTest;
    rt::TaskHandle<RowStatus> m_keyTest;
    const TriggerReach *m_triggerReach = nullptr;
    rt::Lifetime m_lifetime;
};

} // namespace zq

#include "window/settings/AppSettingsModel.h"

#include "audio/AudioEngine.h"
#include "pipeline/SettingsDefaults.h"
#include "pipeline/TriggerReach.h"
#include "platform/LoginItem.h"
#include "records/IncidentStore.h"
#include "runtime/Settings.h"
#include "window/settings/DictionaryText.h"

#include <QCoreApplication>

namespace zq {

namespace {

QString key(const char *name)
{
    return QString::fromLatin1(name);
}

// Waits for the save before it, then saves `text`; a failed save is silent (the keyring says so in
// the log), and the next one still runs.
rt::Task<void> saveAfter(rt::TaskHandle<void> previous, Keychain keychain, QString text)
{
    if (previous.isValid()) {
        try {
            co_await previous.value();
        } catch (...) {
        }
    }
    co_await keychain.saveAPIKeyInBackground(text);
}

rt::Task<RowStatus> keyTestAfter(rt::TaskHandle<void> lastSave, Keychain keychain, APIKeyTestConfig config)
{
    if (lastSave.isValid()) {
        try {
            co_await lastSave.value();
        } catch (...) {
        }
    }
    // A keyring that cannot be read is not "no key saved": the user is told what went wrong.
    auto read = [keychain](std::stop_token) { return keychain.readStoredAPIKey(); };
    rt::Result<std::optional<QString>> stored = co_await rt::runOnWorker(std::move(read));
    if (!stored)
        co_return RowStatus::failed(stored.error().message);
    co_return co_await testAPIKey(std::move(stored).value(), std::move(config));
}

} // namespace

AppSettingsModel::AppSettingsModel(Dependencies dependencies, QObject *parent)
    : QObject(parent), m_deps(std::move(dependencies))
{
    m_dictionaryText = zq::dictionaryText(m_deps.settings);
    m_launchAtLogin = m_deps.loginItem.status() == platform::LoginItem::Status::enabled;

    // The keyring answers over D-Bus: read it off the main thread and fill the field when it
    // answers, unless the user has typed meanwhile.
    m_keyRead = rt::spawn(m_deps.loop, m_deps.keychain.readAPIKeyInBackground());
    m_keyRead.onDone(m_lifetime.guard([this, read = m_keyRead] {
        m_apiKeyLoaded = true;
        if (!m_apiKeyEdited && !read.hasFailed())
            m_apiKey = read.result().value_or(std::nullopt).value_or(QString());
        publish();
    }));

    connect(&m_deps.settings, &rt::Settings::changed, this, [this](const QString &changed) {
        if (changed == QLatin1String(keys::backend))
            languageCheck();
        publish();
    });
    connect(&m_deps.dictationAudio, &AudioEngine::takePhaseChanged, this, &AppSettingsModel::publish);
}

AppSettingsModel::~AppSettingsModel()
{
    for (const rt::TaskHandle<RowStatus> &test : {m_micTest, m_keyTest})
        test.cancel();
    m_keyRead.cancel();
    // A key typed just before the application quit is still saved. The loop may not run again, so
    // the save is made here unless an earlier one is still on its way (it must not land last).
    if (m_keySaveTimer.isValid() && !m_keySaveTimer.isCancelled()) {
        if (!m_lastKeySave.isValid() || m_lastKeySave.isDone())
            m_deps.keychain.saveAPIKey(m_apiKey);
        else
            saveKeyNow();
    }
}

void AppSettingsModel::onAppearRefresh(AppWindowSection section)
{
    m_inputDevices = m_deps.listInputDevices ? m_deps.listInputDevices() : std::vector<AudioInputDevice>{};
    if (section == AppWindowSection::support)
        m_deps.incidents.markAllRead();
    languageCheck();
    publish();
}

void AppSettingsModel::languageCheck()
{
    if (!m_deps.languages.keepsLanguage(language(), backend()))
        setLanguage(QStringLiteral("auto"));
}

QString AppSettingsModel::inputDevice() const
{
    return m_deps.settings.stringValue(key(keys::inputDevice));
}

void AppSettingsModel::setInputDevice(const QString &uid)
{
    if (m_deps.settings.stringValue(key(keys::inputDevice)) == uid)
        return;
    m_deps.settings.setValue(key(keys::inputDevice), uid);
    m_deps.dictationAudio.inputPreferenceChanged(InputChangeTrigger::picker);
}

bool AppSettingsModel::alwaysOnBluetooth() const
{
    return !m_deps.settings.boolValue(key(keys::releaseMicWhenIdle));
}

void AppSettingsModel::setAlwaysOnBluetooth(bool on)
{
    if (alwaysOnBluetooth() == on)
        return;
    m_deps.settings.setValue(key(keys::releaseMicWhenIdle), !on);
    releaseCheck();
}

void AppSettingsModel::releaseCheck()
{
    AudioEngine &engine = m_deps.dictationAudio;
    const auto phase = engine.takePhase().kind();
    if (engine.hasSession() && (phase == TakePhase::Kind::idle || phase == TakePhase::Kind::graceIdle))
        engine.applyMicReleasePolicy();
}

bool AppSettingsModel::canRunMicTest() const
{
    const auto phase = m_deps.dictationAudio.takePhase().kind();
    return !m_micTesting && (phase == TakePhase::Kind::idle || phase == TakePhase::Kind::graceIdle);
}

void AppSettingsModel::runMicTest()
{
    if (!canRunMicTest())
        return;
    m_micTesting = true;
    m_micTestResult = {};
    publish();
    m_micTest = rt::spawn(m_deps.loop, runMicrophoneTest(m_deps.makeMicrophoneTestEngine));
    m_micTest.onDone(m_lifetime.guard([this, test = m_micTest] {
        m_micTestResult =
            test.hasFailed() ? RowStatus::failed(describeError(test.exception())) : test.result().value_or(RowStatus{});
        m_micTesting = false;
        publish();
    }));
}

QString AppSettingsModel::backend() const
{
    return m_deps.settings.stringValue(key(keys::backend));
}

void AppSettingsModel::setBackend(const QString &backend)
{
    m_deps.settings.setValue(key(keys::backend), backend);
}

BackendKind AppSettingsModel::backendKind() const
{
    return backendKindOf(backend());
}

QString AppSettingsModel::language() const
{
    return m_deps.settings.stringValue(key(keys::language));
}

void AppSettingsModel::setLanguage(const QString &code)
{
    m_deps.settings.setValue(key(keys::language), code);
}

std::vector<PickerChoice> AppSettingsModel::languageChoices() const
{
    // A kept language without a model here reads as itself; the note under the picker says why.
    std::optional<Language> kept = unsupportedLanguage();
    if (kept && kept->code != language())
        kept.reset();
    return zq::languageChoices(m_deps.languages, backend(), kept);
}

bool AppSettingsModel::cleanupEnabled() const
{
    return m_deps.settings.boolValue(key(keys::cleanupEnabled));
}

void AppSettingsModel::setCleanupEnabled(bool on)
{
    m_deps.settings.setValue(key(keys::cleanupEnabled), on);
}

QString AppSettingsModel::cleanupDetail() const
{
    return zq::cleanupDetail(backendKind());
}

void AppSettingsModel::setAPIKey(const QString &text)
{
    if (text == m_apiKey)
        return;
    m_apiKey = text;
    m_apiKeyEdited = true;
    m_keySaveTimer.cancel();
    m_keySaveTimer = m_deps.loop.postDelayed(m_deps.keySaveDelay, m_lifetime.guard([this] { saveKeyNow(); }));
    publish();
}

void AppSettingsModel::saveKeyNow()
{
    m_keySaveTimer.cancel();
    m_keySaveTimer = {};
    m_lastKeySave = rt::spawn(m_deps.loop, saveAfter(m_lastKeySave, m_deps.keychain, m_apiKey));
}

void AppSettingsModel::runKeyTest()
{
    if (m_keyTesting)
        return;
    // What the field shows is what gets tested: a save still waiting for the pause goes first.
    if (m_keySaveTimer.isValid() && !m_keySaveTimer.isCancelled())
        saveKeyNow();
    m_keyTesting = true;
    m_keyTestResult = {};
    publish();
    m_keyTest = rt::spawn(m_deps.loop, keyTestAfter(m_lastKeySave, m_deps.keychain, m_deps.keyTest));
    m_keyTest.onDone(m_lifetime.guard([this, test = m_keyTest] {
        m_keyTestResult =
            test.hasFailed() ? RowStatus::failed(QStringLiteral("Network error")) : test.result().value_or(RowStatus{});
        m_keyTesting = false;
        publish();
    }));
}

void AppSettingsModel::setShowKeyHelp(bool shown)
{
    if (m_showKeyHelp == shown)
        return;
    m_showKeyHelp = shown;
    publish();
}

std::optional<Language> AppSettingsModel::unsupportedLanguage() const
{
    return m_deps.languages.unsupportedLanguage(backend(), language(), m_deps.locale);
}

std::optional<LanguageNote> AppSettingsModel::unsupportedLanguageNote() const
{
    const std::optional<Language> language = unsupportedLanguage();
    if (!language)
        return std::nullopt;
    return zq::unsupportedLanguageNote(*language);
}

void AppSettingsModel::useOpenAI()
{
    setBackend(rawValue(BackendKind::openai));
}

void AppSettingsModel::setDictionaryText(const QString &text)
{
    if (text == m_dictionaryText)
        return;
    m_dictionaryText = text;
    saveDictionary(m_deps.settings, text);
    publish();
}

bool AppSettingsModel::soundCues() const
{
    return m_deps.settings.boolValue(key(keys::soundCues));
}

void AppSettingsModel::setSoundCues(bool on)
{
    m_deps.settings.setValue(key(keys::soundCues), on);
}

QString AppSettingsModel::audioDuringDictation() const
{
    return m_deps.settings.stringValue(key(keys::audioDuringDictation));
}

void AppSettingsModel::setAudioDuringDictation(const QString &mode)
{
    m_deps.settings.setValue(key(keys::audioDuringDictation), mode);
}

QString AppSettingsModel::appearance() const
{
    return m_deps.settings.stringValue(key(keys::appearance));
}

void AppSettingsModel::setAppearance(const QString &appearance)
{
    m_deps.settings.setValue(key(keys::appearance), appearance);
}

void AppSettingsModel::setLaunchAtLogin(bool enabled)
{
    const rt::Result<void> done = enabled ? m_deps.loginItem.registerItem() : m_deps.loginItem.unregisterItem();
    if (done) {
        m_launchAtLogin = enabled;
        m_launchAtLoginError = {};
    } else {
        // The switch shows what the desktop really has, and the row says why it refused.
        m_launchAtLogin = m_deps.loginItem.status() == platform::LoginItem::Status::enabled;
        m_launchAtLoginError = RowStatus::failed(done.error().message);
    }
    publish();
}

bool AppSettingsModel::showInDock() const
{
    return m_deps.settings.boolValue(key(keys::showInDock));
}

void AppSettingsModel::setShowInDock(bool shown)
{
    if (showInDock() == shown)
        return;
    m_deps.settings.setValue(key(keys::showInDock), shown);
    if (m_deps.applyShowInDock)
        m_deps.applyShowInDock(shown);
}

void AppSettingsModel::setTriggerReach(const TriggerReach *reach)
{
    if (m_triggerReach)
        disconnect(m_triggerReach, nullptr, this, nullptr);
    m_triggerReach = reach;
    // The Trigger row's note follows the keys and the keyboard map.
    if (reach)
        connect(reach, &TriggerReach::changed, this, &AppSettingsModel::publish);
}

RowStatus AppSettingsModel::triggerNote() const
{
    if (!m_triggerReach || m_triggerReach->fnKeyMapped())
        return {};
    // Read as the hotkey tap reads it: a primary that does not decode acts as Fn.
    const TriggerBinding primary = TriggerBinding::fromStorageValue(m_deps.settings.stringValue(key(keys::triggerKey)))
                                       .value_or(TriggerBinding::predefined(TriggerKey::fn));
    if (!needsFnKey(primary))
        return {};
    return RowStatus::failed(QStringLiteral("Fn does not reach this desktop. Choose another primary key."));
}

QString AppSettingsModel::triggerNamesInForce() const
{
    if (m_triggerReach)
        return triggerNames(m_triggerReach->seen());
    return triggerNames(triggersSeen(m_deps.settings, true));
}

QString AppSettingsModel::versionLabel()
{
    const QString version = QCoreApplication::applicationVersion();
    return version.isEmpty() ? QString(QChar(0x2014)) : version;
}

} // namespace zq

#include "window/settings/AppSettingsModel.h"

#include "menubar/MenuPanelModel.h"
#include "pipeline/SettingsDefaults.h"
#include "pipeline/TriggerReach.h"
#include "platform/linux/freedesktop/XdgAutostartEntry.h"
#include "records/IncidentStore.h"
#include "support/FakeDictationServices.h"
#include "support/FakeHttpClient.h"
#include "support/FakeMicrophoneTestEngine.h"
#include "support/FakePermissionProbe.h"
#include "support/FakeSecretStore.h"
#include "support/Polling.h"
#include "support/WindowTestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <map>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace std::chrono_literals;
using namespace zq;
using test::FakeMicrophoneTestEngine;

namespace {

QString key(const char *name)
{
    return QString::fromLatin1(name);
}

class AppSettingsModelTest : public ::testing::Test {
protected:
    AppSettingsModelTest()
    {
        registerDefaults(rig.settings);
        model = makeModel();
    }

    std::unique_ptr<AppSettingsModel> makeModel(bool awaitKeyring = true)
    {
        AppSettingsModel::Dependencies deps{rig.loop,
                                            rig.settings,
                                            *rig.incidents,
                                            *rig.engine,
                                            [this] { return devices; },
                                            FakeMicrophoneTestEngine::factory(micScript),
                                            Keychain(secrets),
                                            autostart,
                                            [this](bool shown) { dockCalls.push_back(shown); },
                                            APIKeyTestConfig{{}, 1s, std::make_shared<test::FakeHttpClient>()},
                                            QLocale(QLocale::Polish, QLocale::Poland)};
        deps.languages = LanguageCatalogue(QStringList{QStringLiteral("en")});
        auto made = std::make_unique<AppSettingsModel>(std::move(deps));
        // The keyring read of the constructor runs on a worker.
        if (awaitKeyring) {
            EXPECT_TRUE(rig.loop.runUntil([&] { return made->isAPIKeyLoaded(); }));
        }
        return made;
    }

    QString storedKey() const
    {
        return QString::fromUtf8(secrets->items().value(Keychain::service + QLatin1Char('/') + Keychain::account));
    }

    test::FakeDictationServices rig;
    std::vector<AudioInputDevice> devices{{1, QStringLiteral("usb-1"), QStringLiteral("USB Mic"), InputTransport::usb}};
    std::shared_ptr<FakeMicrophoneTestEngine::Script> micScript = std::make_shared<FakeMicrophoneTestEngine::Script>();
    std::shared_ptr<test::FakeSecretStore> secrets = std::make_shared<test::FakeSecretStore>();
    QTemporaryDir config;
    platform::XdgAutostartEntry autostart{config.filePath(QStringLiteral("autostart")),
                                          QStringLiteral("/usr/bin/zepaquarn")};
    std::vector<bool> dockCalls;
    std::unique_ptr<AppSettingsModel> model;
};

TEST_F(AppSettingsModelTest, AppearingListsDevicesAndMarksReadOnlyOnSupport)
{
    test::insertIncident(*rig.incidents);
    EXPECT_TRUE(model->inputDevices().empty()) << "the list is filled only when the view appears";
    model->onAppearRefresh(AppWindowSection::general);
    EXPECT_EQ(model->inputDevices().size(), 1u);
    EXPECT_TRUE(rig.incidents->hasUnread()) << "appearing elsewhere leaves incidents unread";
    model->onAppearRefresh(AppWindowSection::support);
    EXPECT_FALSE(rig.incidents->hasUnread());
}

TEST_F(AppSettingsModelTest, ALanguageNoEngineCanUseBecomesAuto)
{
    rig.settings.setValue(key(keys::backend), QStringLiteral("openai"));
    rig.settings.setValue(key(keys::language), QStringLiteral("yue"));
    model->onAppearRefresh(AppWindowSection::audio);
    EXPECT_EQ(rig.settings.stringValue(key(keys::language)), "auto") << "appearing checks";

    rig.settings.setValue(key(keys::language), QStringLiteral("hi"));
    rig.settings.setValue(key(keys::backend), QStringLiteral("local"));
    EXPECT_EQ(rig.settings.stringValue(key(keys::language)), "hi") << "kept on the device, with the note";

    rig.settings.setValue(key(keys::language), QStringLiteral("en-US"));
    rig.settings.setValue(key(keys::backend), QStringLiteral("openai"));
    EXPECT_EQ(rig.settings.stringValue(key(keys::language)), "auto") << "switching the engine checks at once";
}

TEST_F(AppSettingsModelTest, TheNoteNamesTheLanguageWithoutAModelAndOffersOpenAI)
{
    // The tray panel's language menu over the same settings: the page's picker offers what it offers.
    MenuPanelModel::Services services{*rig.controller, rig.settings, rig.loop};
    services.languages = LanguageCatalogue(QStringList{QStringLiteral("en")});
    services.locale = QLocale(QLocale::Polish, QLocale::Poland);
    const MenuPanelModel panel(std::move(services));
    const auto pageOptions = [&] {
        QList<MenuPanelOption> options;
        for (const PickerChoice &choice : model->languageChoices())
            options.append({choice.value, choice.label, choice.symbol});
        return options;
    };

    ASSERT_TRUE(model->unsupportedLanguage()) << "the system language, Polish, has no model here";
    EXPECT_EQ(model->unsupportedLanguage()->displayName, "Polish");
    EXPECT_EQ(pageOptions(), panel.languageOptions());

    // A German choice stored while German was offered on the device.
    rig.settings.setValue(key(keys::language), QStringLiteral("de"));
    model->onAppearRefresh(AppWindowSection::transcription);
    EXPECT_EQ(rig.settings.stringValue(key(keys::language)), "de");
    ASSERT_TRUE(model->unsupportedLanguage());
    EXPECT_EQ(model->unsupportedLanguage()->displayName, "German");
    EXPECT_EQ(model->languageChoices().back(), (PickerChoice{"de", "German", ""})) << "the picker names it";
    EXPECT_EQ(pageOptions(), panel.languageOptions());
    rig.settings.setValue(key(keys::language), QStringLiteral("en"));
    EXPECT_FALSE(model->unsupportedLanguage()) << "English has its model";
    EXPECT_EQ(pageOptions(), panel.languageOptions());

    rig.settings.setValue(key(keys::language), QStringLiteral("de"));
    model->useOpenAI();
    EXPECT_EQ(rig.settings.stringValue(key(keys::backend)), "openai");
    EXPECT_FALSE(model->unsupportedLanguage());
    EXPECT_EQ(rig.settings.stringValue(key(keys::language)), "de") << "OpenAI transcribes German";
    EXPECT_EQ(pageOptions(), panel.languageOptions());
}

TEST_F(AppSettingsModelTest, EachControlReadsAndWritesItsOwnSetting)
{
    // What the pages bind: a write through the model lands in its key, reads back, tells the
    // pages, and leaves every other key as it was.
    struct Binding {
        const char *setting;
        rt::SettingValue value;
        std::function<void(AppSettingsModel &)> write;
        std::function<rt::SettingValue(const AppSettingsModel &)> read;
    };
    const std::vector<Binding> bindings{
        {keys::soundCues, false, [](auto &m) { m.setSoundCues(false); }, [](auto &m) { return m.soundCues(); }},
        {keys::audioDuringDictation, QStringLiteral("pause-playback"),
         [](auto &m) { m.setAudioDuringDictation(QStringLiteral("pause-playback")); },
         [](auto &m) { return m.audioDuringDictation(); }},
        {keys::appearance, QStringLiteral("dark"), [](auto &m) { m.setAppearance(QStringLiteral("dark")); },
         [](auto &m) { return m.appearance(); }},
        {keys::showInDock, true, [](auto &m) { m.setShowInDock(true); }, [](auto &m) { return m.showInDock(); }},
        {keys::inputDevice, QStringLiteral("usb-1"), [](auto &m) { m.setInputDevice(QStringLiteral("usb-1")); },
         [](auto &m) { return m.inputDevice(); }},
        {keys::backend, QStringLiteral("openai"), [](auto &m) { m.setBackend(QStringLiteral("openai")); },
         [](auto &m) { return m.backend(); }},
        {keys::language, QStringLiteral("en"), [](auto &m) { m.setLanguage(QStringLiteral("en")); },
         [](auto &m) { return m.language(); }},
        {keys::cleanupEnabled, false, [](auto &m) { m.setCleanupEnabled(false); },
         [](auto &m) { return m.cleanupEnabled(); }},
    };
    for (const Binding &binding : bindings) {
        const QString name = key(binding.setting);
        SCOPED_TRACE(name.toStdString());
        std::map<QString, std::optional<rt::SettingValue>> before;
        for (const auto &[other, fallback] : defaultSettingsTable())
            before[other] = rig.settings.value(other);
        int published = 0;
        const auto counting = QObject::connect(model.get(), &AppSettingsModel::stateChanged, [&] { ++published; });
        binding.write(*model);
        QObject::disconnect(counting);
        EXPECT_EQ(rig.settings.value(name), binding.value);
        EXPECT_EQ(binding.read(*model), binding.value);
        EXPECT_GE(published, 1) << "the pages hear of it";
        for (const auto &[other, was] : before) {
            if (other != name) {
                EXPECT_EQ(rig.settings.value(other), was) << other.toStdString() << " changed too";
            }
        }
    }
}

TEST_F(AppSettingsModelTest, TheEngineDecidesTheRowsTheLanguagesAndTheNote)
{
    struct Case {
        QString backend;
        bool openAI;
        QString cleanupDetail;
        bool offersGerman;
        std::optional<LanguageNote> note; // for the system language, Polish
    };
    const LanguageNote polishNote{
        "Polish isn't supported on-device",
        "The recogniser on this computer has no model for Polish. Use OpenAI with your API key, or choose another "
        "on-device language."};
    const std::vector<Case> cases{
        {"local", false, "On-device punctuation and filler cleanup.", false, polishNote},
        {"openai", true, "Included in OpenAI transcription.", true, std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.backend.toStdString());
        rig.settings.setValue(key(keys::language), QStringLiteral("auto"));
        model->setBackend(c.backend);
        EXPECT_EQ(model->usesOpenAI(), c.openAI);
        EXPECT_EQ(model->cleanupDetail(), c.cleanupDetail);
        const auto choices = model->languageChoices();
        ASSERT_FALSE(choices.empty());
        EXPECT_EQ(choices.front().value, "auto") << "the system language comes first";
        EXPECT_EQ(std::any_of(choices.begin(), choices.end(),
                              [](const PickerChoice &choice) { return choice.value == "de"; }),
                  c.offersGerman);
        EXPECT_EQ(model->unsupportedLanguageNote(), c.note);
    }
}

TEST_F(AppSettingsModelTest, TheKeyIsSavedOnceTypingPausesNotPerKeystroke)
{
    for (const char *typed : {"s", "sk", "sk-", "sk-1"}) {
        model->setAPIKey(QString::fromLatin1(typed));
        rig.loop.advance(100ms);
    }
    rig.loop.runUntil([] { return false; }, 50ms);
    EXPECT_TRUE(secrets->calls().filter("write").isEmpty()) << "nothing is written while typing";
    rig.loop.advance(500ms);
    ASSERT_TRUE(rig.loop.runUntil([&] { return secrets->calls().contains("write"); }));
    EXPECT_EQ(storedKey(), "sk-1");
    EXPECT_EQ(secrets->calls().filter("write").size(), 1);

    model->setAPIKey(QString());
    rig.loop.advance(600ms);
    ASSERT_TRUE(rig.loop.runUntil([&] { return secrets->calls().contains("remove"); }));
    EXPECT_TRUE(secrets->items().isEmpty()) << "an emptied field removes the key";
}

TEST_F(AppSettingsModelTest, AKeyTypedJustBeforeQuittingIsSaved)
{
    model->setAPIKey(QStringLiteral("sk-last"));
    model.reset(); // the application quits before the pause is over
    EXPECT_EQ(storedKey(), "sk-last");
}

TEST_F(AppSettingsModelTest, TheFieldStartsWithTheStoredKey)
{
    secrets->setItem(Keychain::service, Keychain::account, "sk-stored");
    auto second = makeModel();
    ASSERT_TRUE(rig.loop.runUntil([&] { return second->apiKey() == "sk-stored"; }));
}

TEST_F(AppSettingsModelTest, AKeyTestSavesTheTypedKeyFirstAndWithoutOneSendsNothing)
{
    model->runKeyTest();
    EXPECT_TRUE(model->keyTesting());
    ASSERT_TRUE(rig.loop.runUntil([&] { return !model->keyTesting(); }));
    EXPECT_EQ(model->keyTestResult(), RowStatus::failed("No key saved"));

    // Typed, then tested at once: the pending save runs before the test reads the keyring. The
    // address answers nothing, so the test ends in a network error, never "No key saved".
    model->setAPIKey(QStringLiteral("sk-typed"));
    model->runKeyTest();
    EXPECT_TRUE(model->keyTestResult().text.isEmpty()) << "a new test clears the old result";
    ASSERT_TRUE(rig.loop.runUntil([&] { return !model->keyTesting(); }, 15s));
    EXPECT_EQ(storedKey(), "sk-typed");
    EXPECT_EQ(model->keyTestResult(), RowStatus::failed("Network error"));
}

TEST_F(AppSettingsModelTest, AnUnreadableKeyringIsNotReportedAsNoKey)
{
    secrets->failReads = true;
    model->runKeyTest();
    ASSERT_TRUE(rig.loop.runUntil([&] { return !model->keyTesting(); }));
    EXPECT_EQ(model->keyTestResult().tone, DetailTone::danger) << model->keyTestResult().text.toStdString();
    EXPECT_NE(model->keyTestResult().text, QString::fromUtf8("✗ No key saved"));
}

TEST_F(AppSettingsModelTest, MicrophoneTestVerdicts)
{
    micScript->fires = 12;
    model->runMicTest();
    EXPECT_TRUE(model->micTesting());
    EXPECT_FALSE(model->canRunMicTest()) << "one test at a time";
    rig.loop.advance(1999ms);
    EXPECT_TRUE(model->micTesting()) << "listens two seconds";
    rig.loop.advance(1ms);
    EXPECT_FALSE(model->micTesting());
    EXPECT_EQ(model->micTestResult(), RowStatus::passed("Audio received"));
    EXPECT_EQ(micScript->calls, (QStringList{"start", "discard"}));

    micScript->fires = 0;
    model->runMicTest();
    EXPECT_TRUE(model->micTestResult().text.isEmpty()) << "the old verdict is cleared at once";
    rig.loop.advance(2s);
    EXPECT_EQ(model->micTestResult(), RowStatus::failed("No audio received"));

    micScript->startError = QStringLiteral("The microphone could not be opened.");
    micScript->calls.clear();
    model->runMicTest();
    rig.loop.runUntilIdle();
    EXPECT_EQ(model->micTestResult(), RowStatus::failed("The microphone could not be opened."));
    EXPECT_EQ(micScript->calls, (QStringList{"start", "discard"})) << "a failed start is discarded too";
    EXPECT_EQ(micScript->made, 3) << "every test has its own engine";
}

TEST_F(AppSettingsModelTest, ItsEndStopsWhatItWaitsForSoNoLateWorkerWakesTheLoop)
{
    // The window closes at quit while the keyring has not answered and a microphone test listens.
    model.reset();
    secrets->holdReads();
    auto answer = qScopeGuard([&] { secrets->releaseReads(); });
    model = makeModel(false);
    ASSERT_TRUE(rig.loop.runUntil([&] { return secrets->calls().contains("read"); }));
    model->runMicTest();
    rig.loop.runUntilIdle();
    ASSERT_EQ(micScript->calls, QStringList{"start"});

    model.reset();
    rig.loop.runUntilIdle();
    EXPECT_EQ(micScript->calls, (QStringList{"start", "discard"})) << "the test's engine lets the microphone go";
    answer.dismiss();
    secrets->releaseReads();
    // The reading thread holds the keyring until it ends, after any wake-up it posts.
    ASSERT_TRUE(test::waitFor([&] { return secrets.use_count() == 1; }, 10s));
    EXPECT_EQ(rig.loop.pendingCount(), 0) << "a worker posted to the loop after its model was gone";
}

TEST_F(AppSettingsModelTest, NoMicrophoneTestWhileDictationCaptures)
{
    ASSERT_TRUE(rig.startLive());
    EXPECT_FALSE(model->canRunMicTest());
    model->runMicTest();
    EXPECT_EQ(micScript->made, 0);
    rig.controller->cancelDictation();
    rig.pump([&] { return model->canRunMicTest(); });
    EXPECT_TRUE(model->canRunMicTest());
}

TEST_F(AppSettingsModelTest, TheReleaseRuleIsAppliedToAHeldMicrophoneOnlyWhileIdle)
{
    auto setup = test::fakeCaptureSetup(rig.microphoneID, QStringLiteral("Headset"));
    setup.transport = InputTransport::bluetooth;
    rig.cores.setDefaultScript({setup, nullptr, nullptr});
    ASSERT_TRUE(rig.startLive());
    model->setAlwaysOnBluetooth(false);
    EXPECT_FALSE(rig.engine->isGraceReleasePending()) << "nothing happens during a take";
    model->setAlwaysOnBluetooth(true);

    rig.controller->cancelDictation();
    rig.pump([&] { return rig.engine->takePhase().kind() != TakePhase::Kind::live; });
    ASSERT_TRUE(rig.engine->hasSession()) << "always-on keeps a Bluetooth microphone";
    EXPECT_FALSE(rig.engine->isGraceReleasePending());

    model->setAlwaysOnBluetooth(false);
    EXPECT_TRUE(rig.settings.boolValue(key(keys::releaseMicWhenIdle)));
    EXPECT_TRUE(rig.engine->isGraceReleasePending()) << "turning always-on off starts the release at once";
    model->setAlwaysOnBluetooth(true);
    EXPECT_FALSE(rig.engine->isGraceReleasePending()) << "turning it on again keeps the microphone";
}

TEST_F(AppSettingsModelTest, LaunchAtLoginWritesAValidEntryAndRemovesIt)
{
    EXPECT_FALSE(model->launchAtLogin());
    model->setLaunchAtLogin(true);
    EXPECT_TRUE(model->launchAtLogin());
    EXPECT_TRUE(model->launchAtLoginError().text.isEmpty());
    const QString entry = autostart.entryPath();
    ASSERT_TRUE(QFile::exists(entry));
    EXPECT_EQ(autostart.status(), platform::LoginItem::Status::enabled);

    const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (!validator.isEmpty()) {
        QProcess validate;
        validate.start(validator, {entry});
        ASSERT_TRUE(validate.waitForFinished(10000));
        EXPECT_EQ(validate.exitCode(), 0) << validate.readAllStandardOutput().toStdString();
    }
    EXPECT_TRUE(makeModel()->launchAtLogin()) << "a new settings view reads the entry";

    model->setLaunchAtLogin(false);
    EXPECT_FALSE(QFile::exists(entry));
    EXPECT_FALSE(model->launchAtLogin());
}

TEST_F(AppSettingsModelTest, ARefusedLaunchAtLoginSpringsBackAndSaysWhy)
{
    // A file where the autostart folder should be refuses the entry for any user, root included.
    const QString folder = config.filePath(QStringLiteral("autostart"));
    QFile blocker(folder);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    model->setLaunchAtLogin(true);
    EXPECT_FALSE(model->launchAtLogin()) << "the switch shows what the desktop has";
    EXPECT_EQ(model->launchAtLoginError().tone, DetailTone::danger);
    ASSERT_TRUE(QFile::remove(folder));

    if (::geteuid() != 0) {
        // A read-only folder, as a user meets it.
        ASSERT_TRUE(QDir().mkpath(folder));
        ASSERT_TRUE(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        model->setLaunchAtLogin(true);
        EXPECT_FALSE(model->launchAtLogin());
        EXPECT_EQ(model->launchAtLoginError().tone, DetailTone::danger);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    model->setLaunchAtLogin(true);
    EXPECT_TRUE(model->launchAtLogin());
    EXPECT_TRUE(model->launchAtLoginError().text.isEmpty()) << "a later success clears the reason";
}

TEST_F(AppSettingsModelTest, AnEntryTheUserSwitchedOffOrAnotherFolderCountsAsOff)
{
    ASSERT_TRUE(autostart.registerItem());
    QFile entry(autostart.entryPath());
    ASSERT_TRUE(entry.open(QIODevice::Append));
    entry.write("Hidden=true\n");
    entry.close();
    EXPECT_EQ(autostart.status(), platform::LoginItem::Status::notRegistered) << "a hidden entry does not start";

    const QByteArray original = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", "relative/config");
    EXPECT_EQ(platform::XdgAutostartEntry::defaultAutostartFolder(), QDir::homePath() + "/.config/autostart")
        << "a relative XDG_CONFIG_HOME is ignored";
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    EXPECT_EQ(platform::XdgAutostartEntry::defaultAutostartFolder(), config.path() + "/autostart");
    qputenv("XDG_CONFIG_HOME", original);
}

TEST_F(AppSettingsModelTest, ExecPathsWithReservedCharactersAreQuoted)
{
    EXPECT_TRUE(platform::XdgAutostartEntry::entryText("/opt/zq/zepaquarn").contains("\nExec=/opt/zq/zepaquarn\n"));
    EXPECT_TRUE(
        platform::XdgAutostartEntry::entryText("/home/a b/100%/zq").contains("\nExec=\"/home/a b/100%%/zq\"\n"));
    EXPECT_TRUE(platform::XdgAutostartEntry::entryText("/x/$HOME\"q").contains("\nExec=\"/x/\\\\$HOME\\\\\"q\"\n"));
}

TEST_F(AppSettingsModelTest, DictionaryAndShowInDockAreStoredAtOnce)
{
    model->setDictionaryText(QStringLiteral("alpha\n\n"));
    EXPECT_EQ(model->dictionaryText(), "alpha\n\n") << "the editor keeps what was typed";
    EXPECT_EQ(rig.settings.stringListValue(key(keys::dictionary)), QStringList{"alpha"});

    model->setShowInDock(true);
    model->setShowInDock(true);
    EXPECT_TRUE(rig.settings.boolValue(key(keys::showInDock)));
    EXPECT_EQ(dockCalls, std::vector<bool>{true}) << "applied once per change";
}

} // namespace

TEST_F(AppSettingsModelTest, TheTriggerRowSaysSoWhenThePrimaryKeyIsAnFnThisDesktopNeverSees)
{
    EXPECT_TRUE(model->triggerNote().isEmpty()) << "nothing known of the keyboard: Fn counts as seen";
    const struct {
        bool fnMapped;
        const char *primary;
        bool noted;
    } cases[] = {
        {true, "fn", false},
        {false, "fn", true},
        {false, "right-control", false},
        {false, "no such key", true}, // read as the hotkey tap reads it: Fn
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.primary) + (c.fnMapped ? " with Fn" : " without Fn"));
        rig.settings.setValue(QStringLiteral("triggerKey"), QString::fromLatin1(c.primary));
        TriggerReach reach(rig.settings, [&] { return test::FakePermissionProbe::keyboardWithFn(c.fnMapped); });
        model->setTriggerReach(&reach);
        const RowStatus note = model->triggerNote();
        EXPECT_EQ(note.tone, c.noted ? DetailTone::danger : DetailTone::tertiary);
        EXPECT_EQ(note.text.contains(QStringLiteral("Fn does not reach this desktop")), c.noted);
        model->setTriggerReach(nullptr);
    }
}

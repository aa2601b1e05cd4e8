#include "menubar/MenuPanelModel.h"

#include "pipeline/DictationController.h"
#include "pipeline/LanguageCatalogue.h"
#include "pipeline/SettingsDefaults.h"
#include "pipeline/TriggerReach.h"
#include "records/HistoryStore.h"
#include "records/IncidentStore.h"
#include "records/StatsStore.h"
#include "rewards/updates/Updater.h"
#include "support/FakeDictationServices.h"
#include "support/FakePermissionProbe.h"
#include "support/FakeUpdateFramework.h"
#include "support/FakeUserNotifications.h"
#include "window/AppWindowModel.h"
#include "window/settings/SettingsPageText.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <chrono>

using namespace std::chrono_literals;
using zq::AppWindowSection;
using zq::MenuPanelModel;
using zq::MenuPanelOption;
using zq::Milestone;

namespace {

zq::DictationIncident incident(const QString &title, const QString &code, std::optional<QString> recording = {},
                               bool read = false)
{
    zq::DictationIncident i;
    i.id = QUuid::createUuid();
    i.date = QDateTime(QDate(2026, 3, 2), QTime(8, 0), Qt::UTC);
    i.code = code;
    i.title = title;
    i.message = QStringLiteral("m");
    i.nextStep = QStringLiteral("n");
    i.backend = QStringLiteral("local");
    i.recordingFilename = std::move(recording);
    i.isRead = read;
    return i;
}

zq::AudioInputDevice device(const QString &uid, const QString &name, zq::InputTransport transport)
{
    zq::AudioInputDevice d;
    d.uid = uid;
    d.name = name;
    d.transport = transport;
    return d;
}

class MenuPanelModelTest : public ::testing::Test {
protected:
    MenuPanelModelTest()
        : windowModel(
              rig.loop, [this] { return windows; }, [this] { ++activations; })
    {
        milestones = std::make_unique<zq::MilestoneStore>(rig.settings);
    }

    MenuPanelModel &make(bool withUpdater = false, bool offersMilestones = true)
    {
        model.reset();
        updater.reset();
        if (withUpdater) {
            auto owned = std::make_unique<zq::test::FakeUpdateFramework>();
            framework = owned.get();
            updater = std::make_unique<zq::Updater>(
                zq::UpdateAvailabilityStore(rig.settings, QStringLiteral("4")),
                zq::UpdateReminder::live(rig.settings, rig.loop.clocks(), rig.loop, notifications), std::move(owned),
                [this] { return rig.loop.clocks().wallNow(); });
        }
        MenuPanelModel::Services services{*rig.controller, rig.settings, rig.loop};
        services.updater = updater.get();
        services.milestones = offersMilestones ? milestones.get() : nullptr;
        services.appWindow = &windowModel;
        services.openWindow = [this] { calls.append(QStringLiteral("open:") + zq::rawValue(windowModel.selection())); };
        services.quit = [this] { calls.append(QStringLiteral("quit")); };
        services.listInputDevices = [this] { return devices; };
        services.copyText = [this](const std::optional<QString> &text) {
            if (!text || text->isEmpty() || !clipboardAccepts)
                return false;
            clipboard = *text;
            return true;
        };
        services.inputPreferenceChanged = [this] { ++engineNotified; };
        services.now = [this] { return rig.loop.clocks().wallNow(); };
        services.locale = QLocale(QLocale::English, QLocale::UnitedStates);
        services.triggerReach = &reach;
        services.openTriggerSettings = [this] { calls.append(QStringLiteral("trigger recorder")); };
        services.languages = languages;
        model = std::make_unique<MenuPanelModel>(std::move(services));
        return *model;
    }

    void commitWords(qint64 words, double seconds, int takes = 1)
    {
        for (int i = 0; i < takes; ++i) {
            rig.stats->setArmedTake(seconds);
            rig.stats->commitTake(words, rig.loop.clocks().wallNow());
        }
    }

    QString setting(const char *key) const { return rig.settings.stringValue(QString::fromLatin1(key)); }

    // The English model only, as on a stock installation.
    zq::LanguageCatalogue languages{QStringList{QStringLiteral("en")}};

    zq::test::FakeDictationServices rig;
    zq::test::FakeUserNotifications notifications;
    zq::test::FakeUpdateFramework *framework = nullptr;
    std::unique_ptr<zq::Updater> updater;
    std::unique_ptr<zq::MilestoneStore> milestones;
    std::vector<zq::AppWindowHandle> windows;
    int activations = 0;
    zq::AppWindowModel windowModel;
    std::vector<zq::AudioInputDevice> devices;
    QStringList calls;
    QString clipboard;
    bool clipboardAccepts = true;
    int engineNotified = 0;
    // The keyboard maps Fn unless a test takes it away.
    std::optional<zq::platform::KeyboardMap> keyboard = zq::test::FakePermissionProbe::keyboardWithFn(true);
    zq::TriggerReach reach{rig.settings, [this] { return keyboard; }};
    std::unique_ptr<MenuPanelModel> model;
};

} // namespace

TEST_F(MenuPanelModelTest, EnableDictationShowsOnlyWhileTheTapIsNotRunning)
{
    MenuPanelModel &panel = make();
    QSignalSpy changed(&panel, &MenuPanelModel::changed);
    ASSERT_FALSE(rig.controller->tapRunning());
    EXPECT_TRUE(panel.showsEnableDictation());

    rig.eventTap.setRefusesStart(true);
    panel.enableDictation();
    EXPECT_TRUE(panel.showsEnableDictation()) << "a tap that cannot start keeps the button";

    rig.eventTap.setRefusesStart(false);
    panel.enableDictation();
    EXPECT_TRUE(rig.controller->tapRunning());
    EXPECT_FALSE(panel.showsEnableDictation());
    EXPECT_GE(changed.count(), 1) << "the header follows the published tap state";
}

TEST_F(MenuPanelModelTest, WithFnAloneOnAKeyboardWithoutFnOnlyTheLineOffersAWayOut)
{
    rig.settings.setValue(QStringLiteral("triggerKey"), QStringLiteral("fn"));
    MenuPanelModel &panel = make();
    ASSERT_TRUE(rig.controller->ensureHotkeyTapRunning());
    EXPECT_FALSE(panel.showsUnseenTrigger());
    EXPECT_FALSE(panel.showsEnableDictation());

    // The layout loses its Fn key: the panel finds out when it next appears.
    keyboard = zq::test::FakePermissionProbe::keyboardWithFn(false);
    QSignalSpy changed(&panel, &MenuPanelModel::changed);
    panel.appear();
    EXPECT_GE(changed.count(), 1);
    EXPECT_TRUE(panel.showsUnseenTrigger());
    EXPECT_FALSE(panel.showsEnableDictation()) << "one problem, one button: the line's Choose Key";
    panel.chooseTrigger();
    EXPECT_EQ(calls, QStringList{QStringLiteral("trigger recorder")});

    // A secondary trigger that arrives mends it at once.
    rig.settings.setValue(QStringLiteral("secondaryTriggerKey"), QStringLiteral("mouse:3"));
    EXPECT_FALSE(panel.showsUnseenTrigger());
    EXPECT_FALSE(panel.showsEnableDictation());
}

TEST_F(MenuPanelModelTest, UpdateBannerShowsOnlyWhileAnUpdateIsAvailable)
{
    MenuPanelModel &panel = make(true);
    using State = zq::AppUpdateState;
    EXPECT_EQ(panel.availableUpdateVersion(), std::nullopt) << "idle";
    framework->delegate().didFindValidUpdate(
        zq::test::FakeUpdateFramework::item(QStringLiteral("1.3.0"), QStringLiteral("5")));
    ASSERT_EQ(updater->state().kind, State::Kind::available);
    EXPECT_EQ(panel.availableUpdateVersion(), QStringLiteral("1.3.0"));

    const int checksBefore = framework->checkCount();
    panel.update();
    EXPECT_EQ(framework->checkCount(), checksBefore + 1);
    EXPECT_EQ(panel.availableUpdateVersion(), QStringLiteral("1.3.0")) << "a check leaves an available state";

    MenuPanelModel &withoutUpdater = make(false);
    EXPECT_EQ(withoutUpdater.availableUpdateVersion(), std::nullopt);
    withoutUpdater.update(); // nothing to call; must not crash
}

TEST_F(MenuPanelModelTest, UpdateBannerHidesForEveryOtherState)
{
    MenuPanelModel &panel = make(true);
    updater->checkForUpdates();
    EXPECT_EQ(updater->state().kind, zq::AppUpdateState::Kind::checking);
    EXPECT_EQ(panel.availableUpdateVersion(), std::nullopt);
    framework->delegate().didNotFindUpdate();
    framework->delegate().didFinishUpdateCycle(zq::platform::UpdateCheckKind::userInitiated, std::nullopt);
    EXPECT_EQ(updater->state().kind, zq::AppUpdateState::Kind::upToDate);
    EXPECT_EQ(panel.availableUpdateVersion(), std::nullopt);
    updater->checkForUpdates();
    framework->delegate().didFinishUpdateCycle(zq::platform::UpdateCheckKind::userInitiated,
                                               QStringLiteral("The feed could not be read."));
    EXPECT_EQ(updater->state().kind, zq::AppUpdateState::Kind::failed);
    EXPECT_EQ(panel.availableUpdateVersion(), std::nullopt);
}

TEST_F(MenuPanelModelTest, RecentIssueBannerNamesTheNewestIncidentWhileAnyIsUnread)
{
    MenuPanelModel &panel = make();
    EXPECT_EQ(panel.recentIssue(), std::nullopt) << "no incidents";

    rig.incidents->insert(incident(QStringLiteral("Oldest"), QStringLiteral("ZQ-A")));
    rig.incidents->markAllRead();
    EXPECT_EQ(panel.recentIssue(), std::nullopt) << "only read incidents";

    rig.incidents->insert(incident(QStringLiteral("Kept"), QStringLiteral("ZQ-MIC-NO-AUDIO"), QStringLiteral("X.wav")));
    ASSERT_TRUE(panel.recentIssue());
    EXPECT_EQ(panel.recentIssue()->title, QStringLiteral("Kept"));
    EXPECT_EQ(panel.recentIssue()->subtitle, QStringLiteral("Recording kept · View details · ZQ-MIC-NO-AUDIO"));

    rig.incidents->insert(incident(QStringLiteral("Newest"), QStringLiteral("ZQ-TX-TIMEOUT")));
    EXPECT_EQ(panel.recentIssue()->subtitle, QStringLiteral("View details · ZQ-TX-TIMEOUT"));

    panel.openRecentIssue();
    EXPECT_EQ(windowModel.selection(), AppWindowSection::support);
    EXPECT_EQ(calls, QStringList{QStringLiteral("open:support")});
    EXPECT_TRUE(panel.recentIssue()) << "opening only shows the page; the page marks them read";
    rig.incidents->markAllRead();
    EXPECT_EQ(panel.recentIssue(), std::nullopt);
}

TEST_F(MenuPanelModelTest, RecentIssueShowsTheNewestEvenWhenOnlyTheOldestIsUnread)
{
    MenuPanelModel &panel = make();
    rig.incidents->insert(incident(QStringLiteral("First"), QStringLiteral("ZQ-1")));
    // Incidents come from disk with their read flags: the newer two were read before.
    rig.incidents->insert(incident(QStringLiteral("Second"), QStringLiteral("ZQ-2"), {}, true));
    rig.incidents->insert(incident(QStringLiteral("Third"), QStringLiteral("ZQ-3"), {}, true));
    ASSERT_TRUE(rig.incidents->hasUnread());
    ASSERT_TRUE(rig.incidents->items().first().isRead && !rig.incidents->items().last().isRead);
    EXPECT_EQ(panel.recentIssue()->title, QStringLiteral("Third"));
}

TEST_F(MenuPanelModelTest, MilestoneIsChosenOnAppearAndFollowsTheStore)
{
    commitWords(10000, 60);
    MenuPanelModel &panel = make();
    EXPECT_EQ(panel.milestone(), std::nullopt) << "chosen on appear only";
    panel.appear();
    ASSERT_EQ(panel.milestone(), Milestone::tenThousandWordWeek);

    panel.milestoneShown();
    EXPECT_TRUE(milestones->shown().contains(Milestone::tenThousandWordWeek));
    EXPECT_EQ(milestones->lastShown(), rig.loop.clocks().wallNow());
    EXPECT_EQ(panel.milestone(), Milestone::tenThousandWordWeek) << "stays while this panel is open";

    panel.dismissMilestones();
    EXPECT_EQ(panel.milestone(), std::nullopt) << "the line goes at once";
    EXPECT_TRUE(milestones->dismissed());
    panel.appear();
    EXPECT_EQ(panel.milestone(), std::nullopt);
}

TEST_F(MenuPanelModelTest, MilestoneWaitsForTheQuietPeriodAndIsNeverOfferedWithoutAStore)
{
    commitWords(10, 1, 100);
    milestones->markShown(Milestone::tenThousandWordWeek, rig.loop.clocks().wallNow().addDays(-29));
    MenuPanelModel &panel = make();
    panel.appear();
    EXPECT_EQ(panel.milestone(), std::nullopt) << "within 30 days";

    MenuPanelModel &noOffer = make(false, false);
    noOffer.appear();
    EXPECT_EQ(noOffer.milestone(), std::nullopt);
    noOffer.milestoneShown();
    EXPECT_FALSE(milestones->shown().contains(Milestone::hundredTakes));
}

TEST_F(MenuPanelModelTest, WeekRecapFollowsTheStoreAndTypingSpeed)
{
    MenuPanelModel &panel = make();
    zq::MenuWeekRecapContent recap = panel.weekRecap();
    EXPECT_EQ(recap.weekLabel, QStringLiteral("WEEK 10")) << "2 March 2026 is in ISO week 10";
    ASSERT_EQ(recap.lines.size(), 1);
    EXPECT_EQ(recap.lines[0].value, QStringLiteral("0"));

    QSignalSpy changed(&panel, &MenuPanelModel::changed);
    commitWords(1234, 30);
    EXPECT_GE(changed.count(), 1);
    recap = panel.weekRecap();
    ASSERT_EQ(recap.lines.size(), 2);
    EXPECT_EQ(recap.lines[0].value, QStringLiteral("1.2k"));
    // 1234 words at 40 wpm are 1851 s of typing; 30 s spoken.
    EXPECT_EQ(recap.lines[1], (zq::MenuWeekRecapLine{QStringLiteral("30 m"), QStringLiteral("reclaimed")}));

    rig.settings.setValue(zq::keys::typingWPM, qint64(0));
    EXPECT_EQ(panel.weekRecap().lines.size(), 1);

    panel.openRecap();
    EXPECT_EQ(windowModel.selection(), AppWindowSection::stats);
    EXPECT_EQ(activations, 1);
    EXPECT_EQ(calls, QStringList{QStringLiteral("open:stats")});
}

TEST_F(MenuPanelModelTest, LanguageOptionsFollowTheBackendAndAnUnusableLanguageIsReset)
{
    rig.settings.setValue(zq::keys::backend, QStringLiteral("openai"));
    MenuPanelModel &panel = make();
    QList<MenuPanelOption> options = panel.languageOptions();
    ASSERT_EQ(options.size(), zq::openAILanguages().size() + 1);
    EXPECT_EQ(options[0],
              (MenuPanelOption{QStringLiteral("auto"), QStringLiteral("System language"), QStringLiteral("globe")}));
    EXPECT_EQ(options[1].value, zq::openAILanguages()[0].code);
    EXPECT_TRUE(options[1].systemImage.isEmpty());
    EXPECT_TRUE(panel.cleanupIncluded());

    // Hindi has no model here: the on-device engine keeps it (the settings page says why it
    // cannot be used) instead of dropping the user's choice.
    panel.setLanguage(QStringLiteral("hi"));
    rig.settings.setValue(zq::keys::backend, QStringLiteral("local"));
    EXPECT_EQ(setting(zq::keys::language), QStringLiteral("hi"));
    EXPECT_FALSE(panel.cleanupIncluded());
    EXPECT_EQ(
        panel.languageOptions(),
        (QList<MenuPanelOption>{{QStringLiteral("auto"), QStringLiteral("System language"), QStringLiteral("globe")},
                                {QStringLiteral("en"), QStringLiteral("English"), QString()},
                                {QStringLiteral("hi"), QStringLiteral("Hindi"), QString()}}))
        << "the installed model's language, and the kept one so the field names it";
    EXPECT_EQ(panel.languageNote(), zq::unsupportedLanguageNote({QStringLiteral("hi"), QStringLiteral("Hindi")}))
        << "the Transcription page's note";
    panel.setLanguage(QStringLiteral("en"));
    EXPECT_EQ(panel.languageNote(), std::nullopt);
    EXPECT_EQ(panel.languageOptions().size(), 2);

    // Cantonese only the device could know: switching to OpenAI resets it.
    panel.setLanguage(QStringLiteral("yue"));
    rig.settings.setValue(zq::keys::backend, QStringLiteral("openai"));
    EXPECT_EQ(setting(zq::keys::language), QStringLiteral("auto")) << "reset the moment the backend changes";
}

TEST_F(MenuPanelModelTest, ThePanelAndTheTranscriptionPageOfferTheSameLanguages)
{
    languages = zq::LanguageCatalogue(QStringList{QStringLiteral("fr"), QStringLiteral("en")});
    MenuPanelModel &panel = make();
    for (const char *backend : {"local", "openai"}) {
        rig.settings.setValue(zq::keys::backend, QString::fromLatin1(backend));
        QList<MenuPanelOption> page;
        for (const zq::PickerChoice &choice : zq::languageChoices(languages, QString::fromLatin1(backend)))
            page.append({choice.value, choice.label, choice.symbol});
        EXPECT_EQ(panel.languageOptions(), page) << backend;
    }
    EXPECT_EQ(panel.languageOptions().size(), zq::openAILanguages().size() + 1);
}

TEST_F(MenuPanelModelTest, AppearResetsALanguageTheEngineCannotUse)
{
    rig.settings.setValue(zq::keys::language, QStringLiteral("en-US"));
    MenuPanelModel &panel = make();
    EXPECT_EQ(setting(zq::keys::language), QStringLiteral("en-US")) << "not before the panel appears";
    panel.appear();
    EXPECT_EQ(setting(zq::keys::language), QStringLiteral("auto"));
}

TEST_F(MenuPanelModelTest, CleanupSwitchWritesTheSettingAtOnce)
{
    MenuPanelModel &panel = make();
    EXPECT_TRUE(panel.cleanupEnabled());
    panel.setCleanupEnabled(false);
    EXPECT_FALSE(rig.settings.boolValue(zq::keys::cleanupEnabled, true));
    rig.settings.setValue(zq::keys::cleanupEnabled, true);
    EXPECT_TRUE(panel.cleanupEnabled()) << "a change made on the settings page shows here";
}

TEST_F(MenuPanelModelTest, MicrophoneOptionsCarryTransportSuffixesAndRefreshOnlyOnAppear)
{
    devices = {device(QStringLiteral("mic-a"), QStringLiteral("Built-in Microphone"), zq::InputTransport::builtIn),
               device(QStringLiteral("mic-b"), QStringLiteral("Headset"), zq::InputTransport::bluetooth),
               device(QStringLiteral("mic-c"), QStringLiteral("Interface"), zq::InputTransport::usb),
               device(QStringLiteral("mic-d"), QStringLiteral("Loopback"), zq::InputTransport::virtual_)};
    MenuPanelModel &panel = make();
    EXPECT_EQ(panel.microphoneOptions().size(), 1) << "before appear: only Automatic";
    panel.appear();
    const QList<MenuPanelOption> options = panel.microphoneOptions();
    ASSERT_EQ(options.size(), 5);
    EXPECT_EQ(options[0], (MenuPanelOption{QStringLiteral("system-default"), QStringLiteral("Automatic"),
                                           QStringLiteral("arrow.triangle.2.circlepath")}));
    EXPECT_EQ(options[1].label, QStringLiteral("Built-in Microphone — recommended"));
    EXPECT_EQ(options[2].label, QStringLiteral("Headset — slower"));
    EXPECT_EQ(options[3].label, QStringLiteral("Interface"));
    EXPECT_EQ(options[4].label, QStringLiteral("Loopback"));
    EXPECT_EQ(options[1].systemImage, QStringLiteral("mic"));
    EXPECT_EQ(options[1].value, QStringLiteral("mic-a"));

    devices.push_back(device(QStringLiteral("mic-e"), QStringLiteral("New"), zq::InputTransport::usb));
    EXPECT_EQ(panel.microphoneOptions().size(), 5) << "a device plugged in shows at the next opening";
    panel.appear();
    EXPECT_EQ(panel.microphoneOptions().size(), 6);
}

TEST_F(MenuPanelModelTest, ChoosingAMicrophoneWritesTheSettingAndNotifiesTheEngineOnce)
{
    MenuPanelModel &panel = make();
    panel.appear();
    panel.setInputDevice(QStringLiteral("system-default"));
    EXPECT_EQ(engineNotified, 0) << "already selected: nothing written, nobody woken";
    panel.setInputDevice(QStringLiteral("mic-b"));
    EXPECT_EQ(setting(zq::keys::inputDevice), QStringLiteral("mic-b"));
    EXPECT_EQ(engineNotified, 1);
    panel.setInputDevice(QStringLiteral("system-default"));
    EXPECT_EQ(setting(zq::keys::inputDevice), QStringLiteral("system-default"));
    EXPECT_EQ(engineNotified, 2);
}

TEST_F(MenuPanelModelTest, CopyLastCopiesTheNewestTranscriptAndConfirmsForOnePointTwoSeconds)
{
    MenuPanelModel &panel = make();
    EXPECT_FALSE(panel.copyLastEnabled());
    EXPECT_EQ(panel.copyLastTooltip(), QStringLiteral("No transcripts yet"));
    panel.copyLast();
    EXPECT_FALSE(panel.copied()) << "nothing to copy";

    QSignalSpy changed(&panel, &MenuPanelModel::changed);
    rig.history->add(QStringLiteral("first words"));
    rig.history->add(QStringLiteral("newest words"));
    EXPECT_GE(changed.count(), 1) << "enabled without reopening";
    EXPECT_TRUE(panel.copyLastEnabled());
    EXPECT_EQ(panel.copyLastTooltip(), QStringLiteral("Copy the latest transcript"));

    panel.copyLast();
    EXPECT_EQ(clipboard, QStringLiteral("newest words"));
    EXPECT_TRUE(panel.copied());
    rig.loop.advance(1000ms);
    EXPECT_TRUE(panel.copied());
    panel.copyLast(); // a second copy 1.0 s after the first
    rig.loop.advance(200ms);
    EXPECT_FALSE(panel.copied()) << "the first reset ends the confirmation, 0.2 s after the second copy";
    rig.loop.advance(1000ms);
    EXPECT_FALSE(panel.copied());

    clipboardAccepts = false;
    panel.copyLast();
    EXPECT_FALSE(panel.copied()) << "a refused copy shows no confirmation";
}

TEST_F(MenuPanelModelTest, FooterOpensTheWindowAtStatsAndQuits)
{
    MenuPanelModel &panel = make();
    windowModel.setSelection(AppWindowSection::dictionary);
    panel.openMainWindow(AppWindowSection::stats);
    EXPECT_EQ(windowModel.selection(), AppWindowSection::stats);
    EXPECT_EQ(activations, 1);
    panel.quit();
    EXPECT_EQ(calls, (QStringList{QStringLiteral("open:stats"), QStringLiteral("quit")}));
}

TEST_F(MenuPanelModelTest, EveryWayToTheMainWindowClosesThePanelFirst)
{
    MenuPanelModel &panel = make();
    QObject::connect(&panel, &MenuPanelModel::closeRequested, [this] { calls.append(QStringLiteral("close")); });
    const std::vector<std::pair<std::function<void()>, QString>> ways{
        {[&] { panel.openMainWindow(AppWindowSection::stats); }, QStringLiteral("open:stats")},
        {[&] { panel.openRecentIssue(); }, QStringLiteral("open:support")},
        {[&] { panel.openRecap(); }, QStringLiteral("open:stats")},
        {[&] { panel.openMainWindow(); }, QStringLiteral("open:stats")},
        {[&] { panel.chooseTrigger(); }, QStringLiteral("trigger recorder")},
    };
    for (const auto &[way, opened] : ways) {
        calls.clear();
        way();
        ASSERT_FALSE(calls.isEmpty()) << opened.toStdString();
        EXPECT_EQ(calls.first(), QStringLiteral("close")) << opened.toStdString();
        EXPECT_EQ(calls.last(), opened);
    }
    calls.clear();
    panel.quit();
    panel.copyLast();
    EXPECT_EQ(calls, QStringList{QStringLiteral("quit")}) << "what opens no window leaves the panel";
}

TEST(MenuPanelHeightCapTest, KeepsAtLeast320Points)
{
    EXPECT_EQ(MenuPanelModel::heightCap(1080), 1055);
    EXPECT_EQ(MenuPanelModel::heightCap(300), 320) << "not 275";
    EXPECT_EQ(MenuPanelModel::heightCap(345), 320);
    EXPECT_EQ(MenuPanelModel::heightCap(std::nullopt), 320) << "no screen";
}

// The Support page's sections over the recovery state, the incident list and the updater.
#include "window/support/SupportPageModel.h"

#include "rewards/updates/Updater.h"
#include "support/FakeDictationServices.h"
#include "support/FakeUpdateFramework.h"
#include "window/support/RevealFailureText.h"

#include <gtest/gtest.h>

using namespace zq;

namespace {

QList<DictationIncident> incidents(int count)
{
    QList<DictationIncident> list;
    for (int i = 0; i < count; ++i) {
        DictationIncident incident;
        incident.id = QUuid::createUuid();
        incident.code = QStringLiteral("ZQ-%1").arg(i);
        list.append(incident);
    }
    return list;
}

const QDateTime kNow(QDate(2026, 3, 2), QTime(9, 0));

SupportUpdateInputs updates(AppUpdateState state, bool checks = true, bool downloads = false)
{
    return {std::move(state), checks, downloads, QStringLiteral("updates.example.test")};
}

TEST(SupportPageLookTest, AnEmptyListShowsTheAllClearRowWithoutADetail)
{
    const SupportPageLook look = supportPageLook(RecoveredTranscriptionState::idle(), {}, std::nullopt, kNow);
    ASSERT_TRUE(look.noIncidents);
    EXPECT_EQ(look.noIncidents->title, QStringLiteral("No recent failures"));
    EXPECT_EQ(look.noIncidents->icon, QStringLiteral("checkmark.circle"));
    EXPECT_FALSE(look.incidentsDetail);
    EXPECT_TRUE(look.incidents.isEmpty());
    EXPECT_FALSE(look.recovery);
    EXPECT_FALSE(look.hasUpdates);
}

TEST(SupportPageLookTest, OnlyTheNewestFiveIncidentsAreListedInOrder)
{
    const QList<DictationIncident> seven = incidents(7);
    const SupportPageLook look = supportPageLook(RecoveredTranscriptionState::idle(), seven, std::nullopt, kNow);
    EXPECT_FALSE(look.noIncidents);
    ASSERT_EQ(look.incidents.size(), 5);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(look.incidents[i].id, seven[i].id);
    EXPECT_EQ(look.incidentsDetail,
              QStringLiteral("Issue details stay on this computer unless you choose to copy them."));
    EXPECT_EQ(supportPageLook(RecoveredTranscriptionState::idle(), incidents(2), std::nullopt, kNow).incidents.size(),
              2);
}

TEST(SupportPageLookTest, RecoveryShowsOnlyWhileARetryHasSucceeded)
{
    const auto copied = supportPageLook(RecoveredTranscriptionState::succeeded(true), {}, std::nullopt, kNow);
    ASSERT_TRUE(copied.recovery);
    EXPECT_EQ(copied.recovery->title, QStringLiteral("Transcript recovered"));
    EXPECT_EQ(copied.recovery->detail, QStringLiteral("Saved in History and copied to the clipboard."));
    const auto notCopied = supportPageLook(RecoveredTranscriptionState::succeeded(false), {}, std::nullopt, kNow);
    EXPECT_EQ(notCopied.recovery->detail, QStringLiteral("Saved in History. Open History to copy it."));
    for (const auto &state : {RecoveredTranscriptionState::idle(), RecoveredTranscriptionState::transcribing(QUuid()),
                              RecoveredTranscriptionState::failed(QUuid(), QStringLiteral("x"))})
        EXPECT_FALSE(supportPageLook(state, {}, std::nullopt, kNow).recovery);
}

TEST(SupportPageLookTest, TheUpdatesRowFollowsTheUpdaterState)
{
    const auto available = supportPageLook(RecoveredTranscriptionState::idle(), {},
                                           updates(AppUpdateState::available(QStringLiteral("2.0"))), kNow);
    EXPECT_TRUE(available.hasUpdates);
    EXPECT_EQ(available.updates.icon, QStringLiteral("arrow.down.circle.fill"));
    EXPECT_EQ(available.updates.title, QStringLiteral("Update available"));
    EXPECT_EQ(available.updates.iconTint, Palette::warning);
    EXPECT_EQ(available.updates.detail, QStringLiteral("Version 2.0 is ready to install."));
    EXPECT_EQ(available.updateControl, UpdateControl::updateButton);

    const auto checking =
        supportPageLook(RecoveredTranscriptionState::idle(), {}, updates(AppUpdateState::checking()), kNow);
    EXPECT_EQ(checking.updateControl, UpdateControl::spinner);
    EXPECT_EQ(checking.updates.title, QStringLiteral("Updates"));
    EXPECT_EQ(checking.updates.iconTint, Palette::textSecondary);

    const auto idleOff =
        supportPageLook(RecoveredTranscriptionState::idle(), {}, updates(AppUpdateState::idle(), false), kNow);
    EXPECT_EQ(idleOff.updates.detail, QStringLiteral("Automatic checks are off."));
    EXPECT_EQ(idleOff.updates.icon, QStringLiteral("arrow.down.circle"));
    EXPECT_EQ(idleOff.updateControl, UpdateControl::checkNowButton);
    EXPECT_EQ(idleOff.automaticChecksDetail,
              QStringLiteral("Checks updates.example.test once a day for signed releases."));

    const auto failed =
        supportPageLook(RecoveredTranscriptionState::idle(), {}, updates(AppUpdateState::failed()), kNow);
    EXPECT_EQ(failed.updates.detail, QStringLiteral("Couldn't check for updates. Try again."));
    EXPECT_EQ(failed.updateControl, UpdateControl::checkNowButton);
}

class SupportPageModelTest : public ::testing::Test {
protected:
    SupportPageModelTest()
    {
        auto owned = std::make_unique<test::FakeUpdateFramework>();
        framework = owned.get();
        framework->automaticChecks = false;
        updater = std::make_unique<Updater>(
            UpdateAvailabilityStore(rig.settings, QStringLiteral("4")),
            UpdateReminder::live(rig.settings, rig.loop.clocks(), rig.loop, rig.notifications), std::move(owned),
            [this] { return rig.loop.clocks().wallNow(); });
        model = std::make_unique<SupportPageModel>(
            SupportPageModel::Services{*rig.controller, *rig.incidents, updater.get(),
                                       [this](RevealDone done) { answers.push_back(std::move(done)); }});
    }

    test::FakeDictationServices rig;
    test::FakeUpdateFramework *framework = nullptr;
    std::unique_ptr<Updater> updater;
    std::unique_ptr<SupportPageModel> model;
    std::vector<RevealDone> answers; // one per reveal, for the test to give the desktop's answer
};

TEST_F(SupportPageModelTest, TheSwitchesWriteThroughTheUpdaterAndReadItBackEachTime)
{
    EXPECT_FALSE(model->look().automaticChecks);
    // Installing automatically needs checks: both come on.
    model->setAutomaticDownloads(true);
    EXPECT_TRUE(model->look().automaticChecks);
    EXPECT_TRUE(model->look().automaticDownloads);
    // No checks, no installs.
    model->setAutomaticChecks(false);
    EXPECT_FALSE(model->look().automaticChecks);
    EXPECT_FALSE(model->look().automaticDownloads);
    // A change made elsewhere shows at once.
    updater->setAutomaticallyChecksEnabled(true);
    EXPECT_TRUE(model->look().automaticChecks);
}

TEST_F(SupportPageModelTest, CheckNowAsksTheUpdaterAndDiagnosticsAreRevealed)
{
    int changes = 0;
    QObject::connect(model.get(), &SupportPageModel::changed, [&] { ++changes; });
    model->checkForUpdates();
    EXPECT_EQ(framework->checkCount(), 1);
    EXPECT_EQ(model->look().updateControl, UpdateControl::spinner);
    EXPECT_GT(changes, 0);
    model->revealDiagnostics();
    EXPECT_EQ(answers.size(), 1u);
}

TEST(RevealFailureTextTest, NamesThePathWithHomeAsTildeAndBreaksOnlyAfterASlash)
{
    const struct {
        const char *path, *home, *shown;
    } cases[] = {
        {"/home/ada/.local/share/Z/Recordings/A.wav", "/home/ada", "~/.local/share/Z/Recordings/A.wav"},
        {"/home/ada/", "/home/ada", "~"},
        // A sibling whose name begins like home is not under it.
        {"/home/adam/A.wav", "/home/ada", "/home/adam/A.wav"},
        {"/home/ada/A.wav", "/", "/home/ada/A.wav"},
        {"/srv/a b/%1.wav", "", "/srv/a b/%1.wav"},
        {"/r/C7BD17BC-C9C7.wav", "/home/ada", "/r/C7BD17BC-C9C7.wav"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        const QString text =
            revealFailureText(QStringLiteral("recording"), QString::fromUtf8(c.path), QString::fromUtf8(c.home));
        EXPECT_EQ(QString(text).remove(QChar(0x200B)).remove(QChar(0x2060)),
                  QStringLiteral("Couldn't open a file manager. The recording is at ") + QString::fromUtf8(c.shown));
        const QString shown = QString::fromUtf8(c.shown);
        EXPECT_EQ(text.count(QChar(0x200B)), shown.count(u'/'));
        EXPECT_EQ(text.count(QStringLiteral("-\u2060")), shown.count(u'-'));
    }
}

TEST_F(SupportPageModelTest, TheListAndTheRecoveryStateAreReadLiveFromTheirOwners)
{
    int listChanges = 0;
    QObject::connect(model.get(), &SupportPageModel::incidentsChanged, [&] { ++listChanges; });
    const DictationIncident incident = incidents(1).front();
    rig.incidents->insert(incident);
    EXPECT_EQ(listChanges, 1);
    ASSERT_EQ(model->look().incidents.size(), 1);
    rig.controller->setRecoveredTranscriptionState(RecoveredTranscriptionState::succeeded(true));
    EXPECT_TRUE(model->look().recovery);
    rig.incidents->remove(incident);
    EXPECT_TRUE(model->look().noIncidents);
}

} // namespace

#include "rewards/milestones/MilestoneStore.h"

#include "menubar/brand/Typography.h"
#include "pipeline/SettingsDefaults.h"
#include "rewards/milestones/MilestoneLine.h"
#include "runtime/Settings.h"

#include <QFontMetricsF>
#include <QSignalSpy>

#include <gtest/gtest.h>

using zq::Milestone;
using zq::MilestoneStore;

namespace {

const QDateTime kStart(QDate(2026, 12, 7), QTime(9, 0), Qt::UTC);

struct MilestoneRig {
    MilestoneRig() { zq::registerDefaults(settings); }
    QStringList storedShown() const { return settings.stringListValue(zq::keys::milestoneShown); }

    zq::rt::Settings settings{QString()};
};

} // namespace

TEST(MilestoneTest, SelectionPrefersTheWordWeekAndSkipsWhatWasShown)
{
    EXPECT_EQ(zq::selectMilestone(100, 10000, {}), Milestone::tenThousandWordWeek);
    EXPECT_EQ(zq::selectMilestone(100, 10000, {Milestone::tenThousandWordWeek}), Milestone::hundredTakes);
    EXPECT_EQ(zq::selectMilestone(99, 9999, {}), std::nullopt);
    EXPECT_EQ(zq::selectMilestone(50, 10000, {Milestone::tenThousandWordWeek}), std::nullopt);
    EXPECT_EQ(zq::selectMilestone(100, 0, {}), Milestone::hundredTakes);
    EXPECT_EQ(zq::selectMilestone(1000, 50000, {Milestone::hundredTakes, Milestone::tenThousandWordWeek}),
              std::nullopt);
    EXPECT_EQ(zq::fromRawValue<Milestone>(u"hundredTakes"), Milestone::hundredTakes);
    EXPECT_EQ(zq::fromRawValue<Milestone>(u"HundredTakes"), std::nullopt);
}

TEST(MilestoneStoreTest, ShowsOneMilestoneAtMostEveryThirtyDays)
{
    MilestoneRig rig;
    MilestoneStore store(rig.settings);
    ASSERT_EQ(store.pending(100, 10000, kStart), Milestone::tenThousandWordWeek);
    store.markShown(Milestone::tenThousandWordWeek, kStart);

    EXPECT_EQ(store.pending(100, 10000, kStart.addSecs(1)), std::nullopt);
    EXPECT_EQ(store.pending(100, 10000, kStart.addSecs(2592000 - 1)), std::nullopt) << "still quiet";
    EXPECT_EQ(store.pending(100, 10000, kStart.addSecs(2592000)), Milestone::hundredTakes) << "day 30";

    store.markShown(Milestone::hundredTakes, kStart.addSecs(2592000));
    EXPECT_EQ(store.pending(100000, 100000, kStart.addYears(2)), std::nullopt) << "both shown";
}

TEST(MilestoneStoreTest, ALastShowingInTheFutureHoldsMilestonesBack)
{
    MilestoneRig rig;
    MilestoneStore store(rig.settings);
    const QDateTime future = kStart.addDays(10);
    store.markShown(Milestone::tenThousandWordWeek, future);
    EXPECT_EQ(store.pending(100, 0, kStart), std::nullopt);
    EXPECT_EQ(store.pending(100, 0, future.addSecs(2592000 - 1)), std::nullopt);
    EXPECT_EQ(store.pending(100, 0, future.addSecs(2592000)), Milestone::hundredTakes);
}

TEST(MilestoneStoreTest, DismissingHidesEverythingForGoodAndSurvivesARebuild)
{
    MilestoneRig rig;
    {
        MilestoneStore store(rig.settings);
        QSignalSpy spy(&store, &MilestoneStore::dismissedChanged);
        store.dismissForever();
        EXPECT_TRUE(store.dismissed());
        EXPECT_EQ(spy.count(), 1);
        EXPECT_EQ(store.pending(100, 10000, kStart), std::nullopt) << "due, never shown, but dismissed";
    }
    MilestoneStore rebuilt(rig.settings);
    EXPECT_TRUE(rebuilt.dismissed());
    EXPECT_EQ(rebuilt.pending(100, 10000, kStart), std::nullopt);
}

TEST(MilestoneStoreTest, MarkingWritesSortedRawValuesAndSecondsSince1970)
{
    MilestoneRig rig;
    MilestoneStore store(rig.settings);
    store.markShown(Milestone::tenThousandWordWeek, kStart);
    store.markShown(Milestone::hundredTakes, kStart.addSecs(90));
    EXPECT_EQ(rig.storedShown(), (QStringList{QStringLiteral("hundredTakes"), QStringLiteral("tenThousandWordWeek")}));
    EXPECT_DOUBLE_EQ(rig.settings.doubleValue(zq::keys::milestoneLastShown), double(kStart.toSecsSinceEpoch() + 90));

    MilestoneStore rebuilt(rig.settings);
    EXPECT_EQ(rebuilt.shown(), (std::set<Milestone>{Milestone::hundredTakes, Milestone::tenThousandWordWeek}));
    EXPECT_EQ(rebuilt.lastShown(), kStart.addSecs(90));
}

TEST(MilestoneStoreTest, LoadingDropsUnknownNamesAndNonPositiveTimes)
{
    MilestoneRig rig;
    rig.settings.setValue(zq::keys::milestoneShown,
                          QStringList{QStringLiteral("fiftyTakes"), QStringLiteral("tenThousandWordWeek")});
    rig.settings.setValue(zq::keys::milestoneLastShown, -5.0);
    MilestoneStore store(rig.settings);
    EXPECT_EQ(store.shown(), std::set<Milestone>{Milestone::tenThousandWordWeek});
    EXPECT_EQ(store.lastShown(), std::nullopt);
    EXPECT_EQ(store.pending(100, 0, kStart), Milestone::hundredTakes) << "never shown: no quiet period";
}

TEST(MilestoneLineTest, ShrinksByAnyFractionDownToEightyFivePercentBeforeCutting)
{
    const QString text = zq::MilestoneLine::text(Milestone::tenThousandWordWeek, QStringLiteral("example.test"));
    const qreal natural = QFontMetricsF(zq::textFont(zq::textStyle::small)).horizontalAdvance(text);
    // At 0.9 of its width a font rounded to whole pixels would not fit (10 of 11 is 0.909).
    for (const qreal share : {1.0, 0.95, 0.9, 0.86}) {
        const zq::MilestoneLine::Fit fit = zq::MilestoneLine::fit(text, natural * share);
        EXPECT_EQ(fit.text, text) << share;
        EXPECT_NEAR(fit.scale, share, 1e-9) << share;
    }
    const zq::MilestoneLine::Fit cut = zq::MilestoneLine::fit(text, natural * 0.8);
    EXPECT_EQ(cut.scale, 0.85);
    EXPECT_TRUE(cut.text.endsWith(QChar(0x2026))) << cut.text.toStdString();
}

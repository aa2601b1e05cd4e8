#include "rewards/motion/MotionStore.h"

#include "pipeline/SettingsDefaults.h"
#include "runtime/Settings.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using zq::MotionStore;
using zq::PillAnimationStyle;
using Style = zq::PillAnimationStyle;

namespace {

struct MotionRig {
    MotionRig() { zq::registerDefaults(settings); }

    QStringList stored(const char *key) const { return settings.stringListValue(QString::fromLatin1(key)); }

    zq::rt::Settings settings{QString()};
};

} // namespace

TEST(PillAnimationStyleTest, RawValuesRoundTripExactly)
{
    for (const Style style : zq::kAllPillAnimationStyles)
        EXPECT_EQ(zq::fromRawValue<PillAnimationStyle>(zq::rawValue(style)), style);
    EXPECT_EQ(zq::rawValue(Style::scaledPieces), QStringLiteral("scaled-pieces"));
    EXPECT_FALSE(zq::fromRawValue<PillAnimationStyle>(QString()));
    EXPECT_FALSE(zq::fromRawValue<PillAnimationStyle>(u"Surface"));
    EXPECT_FALSE(zq::fromRawValue<PillAnimationStyle>(u"surface "));
    EXPECT_EQ(MotionStore::tieredStyles(), (std::vector<Style>{Style::scaledPieces, Style::bandSwell}));
}

TEST(MotionStoreTest, AFreshInstallWearsLogoBars)
{
    MotionRig rig;
    MotionStore store(rig.settings);
    EXPECT_EQ(store.style(), Style::logoBars);
    EXPECT_EQ(store.grandfathered(), std::set<Style>{Style::logoBars});
    EXPECT_TRUE(store.announced().empty());
    for (const double measure : {0.0, 20000.0, 1e9})
        EXPECT_EQ(store.effectiveStyle(measure), Style::logoBars);
    EXPECT_TRUE(rig.stored(zq::keys::motionGrandfathered).isEmpty()) << "loading writes nothing back";
}

TEST(MotionStoreTest, LoadingDropsUnknownWordsAndGrandfathersTheStoredStyle)
{
    for (const QString &word : {QStringLiteral("sparkles"), QString()}) {
        MotionRig rig;
        rig.settings.setValue(zq::keys::pillAnimation, word);
        EXPECT_EQ(MotionStore(rig.settings).style(), Style::logoBars) << word.toStdString();
    }

    MotionRig rig;
    rig.settings.setValue(zq::keys::pillAnimation, QStringLiteral("band-swell"));
    rig.settings.setValue(zq::keys::motionGrandfathered,
                          QStringList{QStringLiteral("surface"), QStringLiteral("ripples")});
    rig.settings.setValue(zq::keys::motionAnnounced,
                          QStringList{QStringLiteral("scaled-pieces"), QStringLiteral("??")});
    MotionStore store(rig.settings);
    EXPECT_EQ(store.style(), Style::bandSwell);
    EXPECT_EQ(store.grandfathered(), (std::set<Style>{Style::bandSwell, Style::surface}));
    EXPECT_EQ(store.announced(), std::set<Style>{Style::scaledPieces});
    EXPECT_TRUE(store.canUse(Style::bandSwell, 0)) << "a style written from outside stays usable this run";

    // A value of the wrong type reads as the default.
    MotionRig wrong;
    wrong.settings.setValue(zq::keys::pillAnimation, qint64(3));
    wrong.settings.setValue(zq::keys::motionGrandfathered, QStringLiteral("surface"));
    MotionStore fallback(wrong.settings);
    EXPECT_EQ(fallback.style(), Style::logoBars);
    EXPECT_EQ(fallback.grandfathered(), std::set<Style>{Style::logoBars});
}

TEST(MotionStoreTest, ThresholdsUnlockAtTheirExactMeasure)
{
    MotionRig rig;
    MotionStore store(rig.settings);
    EXPECT_TRUE(store.canUse(Style::logoBars, 0));
    EXPECT_TRUE(store.canUse(Style::surface, 0));
    EXPECT_FALSE(store.canUse(Style::scaledPieces, 14399.9));
    EXPECT_TRUE(store.canUse(Style::scaledPieces, 14400));
    EXPECT_FALSE(store.canUse(Style::bandSwell, 43199.99));
    EXPECT_TRUE(store.canUse(Style::bandSwell, 43200));
    for (const double measure :
         {-5.0, std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::infinity()}) {
        EXPECT_TRUE(store.canUse(Style::surface, measure));
        EXPECT_FALSE(store.canUse(Style::scaledPieces, measure)) << measure;
        EXPECT_FALSE(store.pendingUnlockAnnouncement(measure)) << measure;
    }
}

TEST(MotionStoreTest, SelectingWritesTheStyleAndGrandfathersItForGood)
{
    MotionRig rig;
    MotionStore store(rig.settings);
    QSignalSpy styleSpy(&store, &MotionStore::styleChanged);
    QSignalSpy grandfatheredSpy(&store, &MotionStore::grandfatheredChanged);

    store.select(Style::bandSwell, 50000);
    EXPECT_EQ(store.style(), Style::bandSwell);
    EXPECT_EQ(rig.settings.stringValue(zq::keys::pillAnimation), QStringLiteral("band-swell"));
    EXPECT_EQ(rig.stored(zq::keys::motionGrandfathered),
              (QStringList{QStringLiteral("band-swell"), QStringLiteral("logo-bars")}));
    EXPECT_TRUE(store.canUse(Style::bandSwell, 0)) << "the statistics may be cleared later";
    EXPECT_EQ(store.effectiveStyle(0), Style::bandSwell);

    store.select(Style::bandSwell, 0);
    EXPECT_EQ(styleSpy.count(), 2) << "observers hear a repeated choice too";
    EXPECT_EQ(grandfatheredSpy.count(), 2);

    // The choice survives a restart.
    MotionStore reloaded(rig.settings);
    EXPECT_EQ(reloaded.style(), Style::bandSwell);
    EXPECT_EQ(reloaded.grandfathered(), (std::set<Style>{Style::bandSwell, Style::logoBars}));
}

TEST(MotionStoreTest, ALockedStyleIsRefusedSilently)
{
    MotionRig rig;
    MotionStore store(rig.settings);
    QSignalSpy styleSpy(&store, &MotionStore::styleChanged);
    store.select(Style::scaledPieces, 100);
    EXPECT_EQ(store.style(), Style::logoBars);
    EXPECT_EQ(styleSpy.count(), 0);
    EXPECT_FALSE(rig.settings.hasUserValue(zq::keys::pillAnimation));
    EXPECT_FALSE(rig.settings.hasUserValue(zq::keys::motionGrandfathered));
}

TEST(MotionStoreTest, AnnouncementsGoHighestTierFirstAndRetireLowerTiers)
{
    MotionRig rig;
    MotionStore store(rig.settings);
    EXPECT_FALSE(store.pendingUnlockAnnouncement(0));
    EXPECT_EQ(store.pendingUnlockAnnouncement(50000), Style::bandSwell);
    store.markAnnounced(Style::bandSwell);
    EXPECT_FALSE(store.pendingUnlockAnnouncement(50000));
    EXPECT_EQ(rig.stored(zq::keys::motionAnnounced),
              (QStringList{QStringLiteral("band-swell"), QStringLiteral("scaled-pieces")}));

    MotionRig stepwise;
    MotionStore steps(stepwise.settings);
    EXPECT_EQ(steps.pendingUnlockAnnouncement(20000), Style::scaledPieces);
    steps.markAnnounced(Style::scaledPieces);
    EXPECT_FALSE(steps.pendingUnlockAnnouncement(20000));
    EXPECT_EQ(steps.pendingUnlockAnnouncement(50000), Style::bandSwell);
}

TEST(MotionStoreTest, GrandfatheringNeverAnnounces)
{
    MotionRig rig;
    rig.settings.setValue(zq::keys::pillAnimation, QStringLiteral("band-swell"));
    MotionStore store(rig.settings);
    EXPECT_TRUE(store.canUse(Style::bandSwell, 0));
    EXPECT_FALSE(store.pendingUnlockAnnouncement(0));
}

TEST(MotionStoreTest, MarkingAnUntieredStyleStillWritesTheSet)
{
    MotionRig rig;
    MotionStore store(rig.settings);
    QSignalSpy spy(&store, &MotionStore::announcedChanged);
    store.markAnnounced(Style::surface);
    EXPECT_EQ(spy.count(), 1);
    EXPECT_TRUE(store.announced().empty());
    EXPECT_TRUE(rig.settings.hasUserValue(zq::keys::motionAnnounced));
}

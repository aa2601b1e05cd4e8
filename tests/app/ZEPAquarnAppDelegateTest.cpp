#include "app/ZEPAquarnAppDelegate.h"
#include "pipeline/SettingsDefaults.h"
#include "rewards/depth/DepthStore.h"
#include "runtime/Settings.h"

#include <gtest/gtest.h>

using zq::Colorway;
using zq::DepthStore;
using zq::DepthTier;

TEST(ZEPAquarnAppDelegateTest, WearsTheEffectiveColorwayAndDropsRepeats)
{
    zq::rt::Settings settings{QString()};
    zq::registerDefaults(settings);
    settings.setValue("depthUnlocked", QList<qint64>{1});
    DepthStore depth(settings);
    zq::ZEPAquarnAppDelegate delegate(depth);
    std::vector<Colorway> worn;
    delegate.setWearColorway([&](Colorway c) { worn.push_back(c); });
    ASSERT_EQ(worn, std::vector<Colorway>{Colorway::consensusMint}) << "installing wears the current colorway at once";

    depth.setSelection(Colorway::deepOrbit);
    EXPECT_EQ(worn.size(), 1u) << "a colorway of a locked tier is not worn, and the repeat is dropped";
    EXPECT_EQ(settings.stringValue("depthSelection"), "deepOrbit") << "the choice is stored anyway";

    depth.setSelection(Colorway::signalPurple);
    EXPECT_EQ(worn.back(), Colorway::signalPurple);
    EXPECT_EQ(delegate.colorway(), Colorway::signalPurple);
}

TEST(ZEPAquarnAppDelegateTest, TerminationRunsTheInstalledHookOnly)
{
    zq::rt::Settings settings{QString()};
    zq::registerDefaults(settings);
    DepthStore depth(settings);
    zq::ZEPAquarnAppDelegate delegate(depth);
    delegate.applicationWillTerminate(); // nothing installed: nothing happens
    int prepared = 0;
    delegate.setPrepareToTerminate([&] { ++prepared; });
    delegate.applicationWillTerminate();
    EXPECT_EQ(prepared, 1);
}

TEST(DepthStoreTest, LoadsOnlyKnownTiersAndFallsBackToTheDefaultSkin)
{
    zq::rt::Settings settings{QString()};
    zq::registerDefaults(settings);
    settings.setValue("depthUnlocked", QList<qint64>{2, 7, -1});
    settings.setValue("depthSelection", QStringLiteral("nonsense"));
    DepthStore depth(settings);
    EXPECT_EQ(depth.unlocked(), std::set<DepthTier>{DepthTier::twilight});
    EXPECT_EQ(depth.selection(), Colorway::consensusMint);
    EXPECT_EQ(DepthStore::availableColorways({DepthTier::twilight}),
              (std::vector<Colorway>{Colorway::consensusMint, Colorway::agentTeal, Colorway::deepOrbit}));
    EXPECT_EQ(DepthStore::availableColorways({DepthTier::shallows, DepthTier::twilight, DepthTier::abyss}).size(), 6u);
    EXPECT_EQ(DepthStore::effectiveColorway(Colorway::monochrome, {DepthTier::twilight}), Colorway::consensusMint);

    settings.setValue("depthUnlocked", QStringList{QStringLiteral("1")});
    DepthStore wrongType(settings);
    EXPECT_TRUE(wrongType.unlocked().empty()) << "a list that is not of integers counts as empty";
}

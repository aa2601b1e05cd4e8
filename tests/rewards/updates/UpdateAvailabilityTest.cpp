// The remembered update: the build number rule, the pending rule and the two settings keys.

#include "rewards/updates/UpdateAvailability.h"
#include "pipeline/SettingsDefaults.h"

#include <gtest/gtest.h>

using zq::parseBuildNumber;
using zq::PendingUpdate;
using zq::UpdateAvailabilityStore;

namespace {

struct AvailabilityRig {
    AvailabilityRig() { zq::registerDefaults(settings); }
    zq::rt::Settings settings{QString()};
};

} // namespace

TEST(UpdateAvailabilityTest, BuildNumbersAreASignAndDigitsThatFit64Bits)
{
    EXPECT_EQ(parseBuildNumber("42"), 42);
    EXPECT_EQ(parseBuildNumber("+42"), 42);
    EXPECT_EQ(parseBuildNumber("-7"), -7);
    EXPECT_EQ(parseBuildNumber("007"), 7);
    EXPECT_EQ(parseBuildNumber("9223372036854775807"), std::numeric_limits<qint64>::max());
    EXPECT_EQ(parseBuildNumber("-9223372036854775808"), std::numeric_limits<qint64>::min());
    for (const char *bad : {"", "+", "-", " 42", "42\n", "4 2", "1.2", "12a", "9223372036854775808",
                            "-9223372036854775809", "99999999999999999999", "٤٢", "+-1"})
        EXPECT_EQ(parseBuildNumber(QString::fromUtf8(bad)), std::nullopt) << bad;
}

TEST(UpdateAvailabilityTest, ResolvePendsOnlyANewerBuildWithAVisibleVersion)
{
    EXPECT_EQ(PendingUpdate::resolve("1.3.0", "5", 4), (PendingUpdate{"1.3.0", 5}));
    EXPECT_EQ(PendingUpdate::resolve("1.3.0", "4", 4), std::nullopt) << "equal build";
    EXPECT_EQ(PendingUpdate::resolve("1.3.0", "3", 4), std::nullopt) << "older build";
    EXPECT_EQ(PendingUpdate::resolve("1.3.0", "5", std::nullopt), std::nullopt) << "running build unknown";
    EXPECT_EQ(PendingUpdate::resolve("  \n\t", "5", 4), std::nullopt) << "blank version";
    EXPECT_EQ(PendingUpdate::resolve(std::nullopt, "5", 4), std::nullopt);
    EXPECT_EQ(PendingUpdate::resolve("1.3.0", "", 4), std::nullopt);
    EXPECT_EQ(PendingUpdate::resolve("1.3.0", std::nullopt, 4), std::nullopt);
    EXPECT_EQ(PendingUpdate::resolve("1.3.0", "5.0", 4), std::nullopt);
    EXPECT_EQ(PendingUpdate::resolve(" 1.3 ", "+5", 4), (PendingUpdate{" 1.3 ", 5})) << "kept untrimmed";
}

TEST(UpdateAvailabilityTest, RecordWritesBothKeysAndANewStoreSeesThePendingUpdate)
{
    AvailabilityRig rig;
    UpdateAvailabilityStore store(rig.settings, QStringLiteral("4"));
    EXPECT_EQ(store.pending(), std::nullopt) << "registered empty defaults";

    store.record("1.2.0", "3");
    EXPECT_EQ(rig.settings.stringValue("updateAvailableVersion"), "1.2.0") << "written although older";
    EXPECT_EQ(rig.settings.stringValue("updateAvailableBuild"), "3");
    EXPECT_EQ(store.pending(), std::nullopt);

    store.record("1.3.0", "+5");
    EXPECT_EQ(rig.settings.stringValue("updateAvailableBuild"), "+5") << "stored as given, not as a number";
    EXPECT_EQ(store.pending(), (PendingUpdate{"1.3.0", 5}));
    EXPECT_EQ(UpdateAvailabilityStore(rig.settings, QStringLiteral("4")).pending(), (PendingUpdate{"1.3.0", 5}));
    EXPECT_EQ(UpdateAvailabilityStore(rig.settings, QStringLiteral("5")).pending(), std::nullopt)
        << "the update is installed: the same record no longer pends";
    EXPECT_EQ(UpdateAvailabilityStore(rig.settings, QStringLiteral("4.1")).pending(), std::nullopt)
        << "a running build that is no integer never has a pending update";
    EXPECT_EQ(UpdateAvailabilityStore(rig.settings, std::nullopt).pending(), std::nullopt);

    store.clear();
    EXPECT_EQ(store.pending(), std::nullopt);
    EXPECT_FALSE(rig.settings.hasUserValue("updateAvailableVersion"));
    EXPECT_FALSE(rig.settings.hasUserValue("updateAvailableBuild"));
    EXPECT_EQ(UpdateAvailabilityStore(rig.settings, QStringLiteral("4")).pending(), std::nullopt);
}

TEST(UpdateAvailabilityTest, ValuesOfAnotherTypeReadAsNoRecord)
{
    AvailabilityRig rig;
    rig.settings.setValue("updateAvailableVersion", QStringLiteral("1.3.0"));
    rig.settings.setValue("updateAvailableBuild", qint64(9));
    EXPECT_EQ(UpdateAvailabilityStore(rig.settings, QStringLiteral("4")).pending(), std::nullopt);
}

TEST(UpdateAvailabilityTest, TheLiveStoreRunsAsTheBuildItWasMadeAs)
{
    AvailabilityRig rig;
    EXPECT_EQ(UpdateAvailabilityStore::live(rig.settings).runningBuild(), parseBuildNumber(ZQ_BUILD));
}

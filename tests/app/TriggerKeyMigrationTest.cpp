#include "app/TriggerKeyMigration.h"
#include "pipeline/SettingsDefaults.h"
#include "pipeline/TriggerBinding.h"
#include "runtime/Settings.h"

#include <gtest/gtest.h>

namespace {

struct Slots {
    QString primary;
    QString secondary;
};

Slots migrate(std::optional<QString> primary, std::optional<QString> secondary)
{
    zq::rt::Settings settings{QString()};
    zq::registerDefaults(settings);
    if (primary)
        settings.setValue("triggerKey", *primary);
    if (secondary)
        settings.setValue("secondaryTriggerKey", *secondary);
    zq::migrateTriggerKeyToSecondary(settings);
    return {settings.stringValue("triggerKey"), settings.stringValue("secondaryTriggerKey")};
}

} // namespace

TEST(TriggerKeyMigrationTest, PredefinedPrimaryKeysStayWhereTheyAre)
{
    for (const char *raw : {"fn", "right-option", "f13"}) {
        const auto after = migrate(QString::fromLatin1(raw), std::nullopt);
        EXPECT_EQ(after.primary, raw);
        EXPECT_EQ(after.secondary, "");
    }
    const auto fresh = migrate(std::nullopt, std::nullopt);
    EXPECT_EQ(fresh.primary, "fn") << "a fresh account has nothing to move";
}

TEST(TriggerKeyMigrationTest, ACustomPrimaryMovesToAnEmptySecondarySlotOnce)
{
    zq::rt::Settings settings{QString()};
    zq::registerDefaults(settings);
    const QString custom = zq::TriggerBinding::keyboard(96, QStringLiteral("F5")).storageValue();
    settings.setValue("triggerKey", custom);
    zq::migrateTriggerKeyToSecondary(settings);
    EXPECT_EQ(settings.stringValue("triggerKey"), "fn");
    EXPECT_EQ(settings.stringValue("secondaryTriggerKey"), custom);
    zq::migrateTriggerKeyToSecondary(settings);
    EXPECT_EQ(settings.stringValue("triggerKey"), "fn");
    EXPECT_EQ(settings.stringValue("secondaryTriggerKey"), custom) << "a second run finds nothing to move";
}

TEST(TriggerKeyMigrationTest, ATakenSecondarySlotOrAnUndecodableTextChangesNothing)
{
    const QString custom = zq::TriggerBinding::keyboard(96, QStringLiteral("F5")).storageValue();
    const QString other = zq::TriggerBinding::keyboard(97, QStringLiteral("F6")).storageValue();
    auto taken = migrate(custom, other);
    EXPECT_EQ(taken.primary, custom);
    EXPECT_EQ(taken.secondary, other);

    auto garbage = migrate(QStringLiteral("not a binding"), std::nullopt);
    EXPECT_EQ(garbage.primary, "not a binding");
    EXPECT_EQ(garbage.secondary, "");
}

#include "pipeline/SettingsDefaults.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using zq::rt::Settings;
using zq::rt::SettingValue;
namespace keys = zq::keys;

TEST(SettingsDefaultsTest, TheTableHasTwentyEightTypedKeys)
{
    const auto &table = zq::defaultSettingsTable();
    ASSERT_EQ(table.size(), 28u);
    EXPECT_EQ(table.front().first, "backend");
    EXPECT_EQ(table.back().first, "updateReminderDate");

    std::set<QString> unique;
    for (const auto &entry : table)
        unique.insert(entry.first);
    EXPECT_EQ(unique.size(), 28u);
    EXPECT_EQ(unique.count(keys::captureCore), 0u) << "the capture-core switch stays hidden";

    // Spot checks of types that a reader would get wrong silently.
    std::map<QString, SettingValue> byKey(table.begin(), table.end());
    EXPECT_EQ(byKey[keys::typingWPM], SettingValue(qint64(40)));
    EXPECT_EQ(byKey[keys::inviteVerifiedDownloads], SettingValue(qint64(-1)));
    EXPECT_EQ(byKey[keys::milestoneLastShown], SettingValue(0.0));
    EXPECT_EQ(byKey[keys::depthUnlocked], SettingValue(QList<qint64>()));
    EXPECT_EQ(byKey[keys::dictionary], SettingValue(QStringList()));
    EXPECT_EQ(byKey[keys::secondaryTriggerKey], SettingValue(QString()));
}

TEST(SettingsDefaultsTest, AFreshUserReadsEveryDefault)
{
    Settings settings({});
    zq::registerDefaults(settings);

    EXPECT_EQ(settings.stringValue(keys::backend), "local");
    EXPECT_EQ(settings.stringValue(keys::triggerKey), "fn");
    EXPECT_EQ(settings.integerValue(keys::inviteVerifiedDownloads), -1);
    EXPECT_EQ(settings.integerValue(keys::typingWPM), 40);
    EXPECT_TRUE(settings.stringListValue(keys::dictionary, {"x"}).isEmpty());
    EXPECT_TRUE(settings.boolValue(keys::cleanupEnabled));
    EXPECT_TRUE(settings.boolValue(keys::soundCues));
    EXPECT_FALSE(settings.boolValue(keys::onboarded, true));
    EXPECT_EQ(settings.stringValue(keys::inputDevice), "system-default");
    EXPECT_EQ(settings.stringValue(keys::audioDuringDictation), "lower-volume");
    EXPECT_EQ(settings.doubleValue(keys::updateReminderDate, 9.0), 0.0);
    EXPECT_EQ(settings.stringValue(keys::captureCore), "");
    for (const auto &[key, value] : zq::defaultSettingsTable())
        EXPECT_EQ(settings.value(key), value) << key.toStdString();
}

TEST(SettingsDefaultsTest, StoredValuesWinOverRegistrationAndRemovalRestoresTheDefault)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("settings.json");
    {
        Settings before(path);
        before.setValue(keys::backend, QStringLiteral("openai"));
        before.setValue(keys::captureCore, QStringLiteral("avfaudio"));
    }
    Settings settings(path);
    zq::registerDefaults(settings);
    EXPECT_EQ(settings.stringValue(keys::backend), "openai");
    EXPECT_EQ(settings.stringValue(keys::captureCore), "avfaudio");

    settings.remove(keys::backend);
    EXPECT_EQ(settings.stringValue(keys::backend), "local");

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray onDisk = file.readAll();
    EXPECT_FALSE(onDisk.contains("typingWPM")) << "defaults are never written";
    EXPECT_FALSE(onDisk.contains("\"backend\""));
}

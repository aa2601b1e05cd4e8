#include "runtime/Settings.h"
#include "runtime/BackendKind.h"
#include "runtime/FileOps.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <thread>

#include <sys/stat.h>

using zq::rt::Settings;
using zq::rt::SettingValue;
using zq::test::readFile;
using zq::test::writeFile;

namespace {

QStringList changedKeys(const QSignalSpy &spy)
{
    QStringList keys;
    for (const auto &arguments : spy)
        keys.append(arguments.at(0).toString());
    return keys;
}

} // namespace

TEST(SettingsTest, EveryValueTypeSurvivesAReloadAsItself)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("config/settings.json");
    const QList<qint64> extremes{std::numeric_limits<qint64>::min(), -1, 0, std::numeric_limits<qint64>::max()};
    {
        Settings settings(path);
        settings.setValue("int", qint64(40));
        settings.setValue("double", 40.0);
        settings.setValue("fraction", 0.1);
        settings.setValue("nan", std::nan(""));
        settings.setValue("inf", -HUGE_VAL);
        settings.setValue("bool", false);
        settings.setValue("text", QStringLiteral("Grüße, \"quoted\" ✓"));
        settings.setValue("empty", QString());
        settings.setValue("words", QStringList{"Kubernetes", "", "naïve"});
        settings.setValue("noWords", QStringList());
        settings.setValue("tiers", extremes);
    }
    Settings reloaded(path);
    EXPECT_EQ(reloaded.value("int"), SettingValue(qint64(40)));
    EXPECT_EQ(reloaded.value("double"), SettingValue(40.0)) << "a double 40.0 must not come back as an integer";
    EXPECT_EQ(reloaded.doubleValue("fraction"), 0.1);
    EXPECT_TRUE(std::isnan(reloaded.doubleValue("nan", 1.0)));
    EXPECT_EQ(reloaded.doubleValue("inf"), -HUGE_VAL);
    EXPECT_EQ(reloaded.value("bool"), SettingValue(false));
    EXPECT_EQ(reloaded.stringValue("text"), QStringLiteral("Grüße, \"quoted\" ✓"));
    EXPECT_EQ(reloaded.value("empty"), SettingValue(QString()));
    EXPECT_EQ(reloaded.stringListValue("words"), (QStringList{"Kubernetes", "", "naïve"}));
    EXPECT_EQ(reloaded.value("noWords"), SettingValue(QStringList()));
    EXPECT_EQ(reloaded.integerListValue("tiers"), extremes);
    EXPECT_FALSE(reloaded.value("never-set").has_value());
}

TEST(SettingsTest, AValueOfTheWrongTypeReadsAsTheDefault)
{
    Settings settings({});
    settings.registerDefaults({{"typingWPM", qint64(40)}, {"backend", QStringLiteral("local")}});
    settings.setValue("typingWPM", QStringLiteral("fast"));
    settings.setValue("backend", true);
    settings.setValue("unregistered", 2.5);

    EXPECT_EQ(settings.integerValue("typingWPM"), 40);
    EXPECT_EQ(settings.stringValue("backend"), "local");
    EXPECT_EQ(settings.doubleValue("typingWPM", 7.0), 7.0) << "no layer holds a double";
    EXPECT_EQ(settings.integerValue("unregistered", -3), -3) << "a double is not an integer";
    EXPECT_EQ(settings.doubleValue("unregistered"), 2.5);
    EXPECT_EQ(settings.value("typingWPM"), SettingValue(QStringLiteral("fast"))) << "the raw value is still there";
}

TEST(SettingsTest, EnumerationsReadAndWriteTheirStoredTextUnderAnySpellingOfTheKey)
{
    using zq::BackendKind;
    QTemporaryDir dir;
    const QString path = dir.filePath("settings.json");
    // A file as earlier versions wrote it.
    writeFile(path, R"({"format": 1, "values": {
        "backend": {"type": "string", "value": "openai"},
        "pillAnimation": {"type": "string", "value": "Surface"}}})");

    Settings settings(path);
    const char *key = "backend";
    EXPECT_EQ(settings.enumValue<BackendKind>(key), BackendKind::openai);
    EXPECT_EQ(settings.enumValue<BackendKind>(QLatin1StringView("backend")), BackendKind::openai);
    EXPECT_EQ(settings.enumValue<BackendKind>(QStringLiteral("pillAnimation")), std::nullopt) << "unknown text";
    EXPECT_EQ(settings.enumValue<BackendKind>(u"missing"), std::nullopt);

    settings.setValue(key, BackendKind::local);
    EXPECT_EQ(settings.value(QStringLiteral("backend")), SettingValue(QStringLiteral("local")));
    settings.setValue(key, true);
    EXPECT_EQ(settings.enumValue<BackendKind>(key), std::nullopt) << "not text";
    settings.setValue(key, BackendKind::openai);
    EXPECT_EQ(Settings(path).stringValue(key), "openai") << "written as the text it was read from";
}

TEST(SettingsTest, RegisteredDefaultsAreNeverWrittenAndRemovingShowsThemAgain)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("settings.json");
    Settings settings(path);
    settings.registerDefaults({{"language", QStringLiteral("auto")}, {"soundCues", true}});
    EXPECT_FALSE(QFile::exists(path)) << "registering writes nothing";

    settings.setValue("language", QStringLiteral("de"));
    settings.setValue("soundCues", false);
    EXPECT_EQ(settings.stringValue("language"), "de");
    const QByteArray onDisk = readFile(path);
    EXPECT_TRUE(onDisk.contains("\"de\""));
    EXPECT_FALSE(onDisk.contains("auto"));

    settings.remove("language");
    EXPECT_EQ(settings.stringValue("language"), "auto");
    EXPECT_FALSE(settings.hasUserValue("language"));
    settings.clear();
    EXPECT_TRUE(settings.boolValue("soundCues"));

    Settings reloaded(path);
    EXPECT_FALSE(reloaded.value("language").has_value()) << "the removal reached the file";
    EXPECT_FALSE(reloaded.value("soundCues").has_value());
}

TEST(SettingsTest, ChangedIsEmittedOnlyWhenTheVisibleValueChanges)
{
    Settings settings({});
    QSignalSpy spy(&settings, &Settings::changed);
    settings.registerDefaults({{"backend", QStringLiteral("local")}});
    EXPECT_EQ(changedKeys(spy), QStringList{"backend"}) << "a new default is a new visible value";
    spy.clear();

    settings.setValue("backend", QStringLiteral("local")); // same as the default
    settings.remove("backend");                            // back to the same default
    settings.remove("backend");                            // nothing to remove
    settings.registerDefaults({{"backend", QStringLiteral("local")}});
    EXPECT_TRUE(spy.isEmpty());

    settings.setValue("backend", QStringLiteral("openai"));
    settings.setValue("backend", QStringLiteral("openai"));
    settings.registerDefaults({{"backend", QStringLiteral("other")}}); // hidden under the user value
    EXPECT_EQ(changedKeys(spy), QStringList{"backend"});
    spy.clear();

    settings.setValue("typingWPM", qint64(40));
    settings.setValue("typingWPM", 40.0); // same number, other type: a change
    settings.setValue("nan", std::nan(""));
    settings.setValue("nan", std::nan(""));
    EXPECT_EQ(changedKeys(spy), (QStringList{"typingWPM", "typingWPM", "nan"}));
    settings.registerDefaults({{"soundCues", true}});
    settings.setValue("soundCues", true); // a user value equal to its default
    ASSERT_TRUE(settings.hasUserValue("soundCues"));
    spy.clear();

    // Clearing changes only what the user sees: the equal value goes without a signal.
    settings.clear();
    EXPECT_EQ(changedKeys(spy), (QStringList{"backend", "nan", "typingWPM"}));
}

TEST(SettingsTest, ACorruptFileIsKeptAsideAndTheDefaultsApply)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("settings.json");
    writeFile(path, "{\"values\": {\"backend\": {\"type\": \"string\", \"value\": \"openai\"");

    Settings settings(path);
    settings.registerDefaults({{"backend", QStringLiteral("local")}});
    EXPECT_EQ(settings.stringValue("backend"), "local");

    const QStringList kept = QDir(dir.path()).entryList({"settings.json.corrupt-*"});
    ASSERT_EQ(kept.size(), 1);
    EXPECT_TRUE(readFile(dir.filePath(kept.first())).startsWith("{\"values\"")) << "the broken file is kept unchanged";
    EXPECT_FALSE(QFile::exists(path));

    settings.setValue("language", QStringLiteral("fr"));
    const Settings nextStart(path);
    EXPECT_EQ(nextStart.stringValue("language"), "fr") << "saving goes on into a fresh file";
    EXPECT_EQ(settings.keptAside(), (zq::rt::KeptAsideFile{"settings", dir.filePath(kept.first())}))
        << "the user can be told where the file is kept";
    EXPECT_EQ(nextStart.keptAside(), std::nullopt) << "and only once";
}

// The notice tells why a file was set aside whole: only one over the size bound was too large.
TEST(SettingsTest, AFileSetAsideWholeSaysWhetherItWasTooLarge)
{
    using Reason = zq::rt::KeptAsideFile::Reason;
    const struct {
        const char *name;
        std::function<bool(const QString &)> make;
        Reason reason;
    } cases[] = {
        {"over the bound",
         [](const QString &path) {
             QFile file(path);
             return file.open(QIODevice::WriteOnly) && file.resize(Settings::maximumFileBytes + 1);
         },
         Reason::tooLarge},
        {"not a regular file",
         [](const QString &path) { return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0; },
         Reason::unreadable},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.filePath("settings.json");
        ASSERT_TRUE(c.make(path));
        const Settings settings(path);
        const QStringList kept =
            QDir(dir.path()).entryList({"settings.json.corrupt-*"}, QDir::AllEntries | QDir::System);
        ASSERT_EQ(kept.size(), 1);
        EXPECT_EQ(settings.keptAside(), (zq::rt::KeptAsideFile{"settings", dir.filePath(kept.first()), c.reason}));
    }
}

TEST(SettingsTest, ReadableEntriesOfADamagedFileAreKept)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("settings.json");
    writeFile(path, R"({"format": 1, "values": {
        "onboarded": {"type": "bool", "value": true},
        "typingWPM": {"type": "integer", "value": 55.5},
        "dictionary": {"type": "strings", "value": ["ok", 3]},
        "mystery": {"type": "colour", "value": "red"},
        "language": {"type": "string", "value": "pl"}}})");

    Settings settings(path);
    EXPECT_TRUE(settings.boolValue("onboarded"));
    EXPECT_EQ(settings.stringValue("language"), "pl");
    EXPECT_FALSE(settings.value("typingWPM").has_value()) << "55.5 is no integer";
    EXPECT_FALSE(settings.value("dictionary").has_value());
    EXPECT_FALSE(settings.value("mystery").has_value());
    EXPECT_EQ(QDir(dir.path()).entryList({"settings.json.corrupt-*"}).size(), 1);
    EXPECT_EQ(settings.keptAside(), std::nullopt) << "not set aside whole: entries of it were kept";

    Settings reloaded(path);
    EXPECT_TRUE(reloaded.boolValue("onboarded")) << "the readable entries were written back at once";
    EXPECT_EQ(QDir(dir.path()).entryList({"settings.json.corrupt-*"}).size(), 1) << "the rewritten file is clean";
}

TEST(SettingsTest, AFailedSaveIsRetriedBySync)
{
    QTemporaryDir dir;
    writeFile(dir.filePath("config"), "a file where the folder should be");
    const QString path = dir.filePath("config/settings.json");

    Settings settings(path);
    settings.setValue("onboarded", true);
    EXPECT_TRUE(settings.boolValue("onboarded")) << "the value is kept in memory";
    EXPECT_FALSE(settings.sync());

    ASSERT_TRUE(QFile::remove(dir.filePath("config")));
    ASSERT_TRUE(settings.sync());
    EXPECT_TRUE(Settings(path).boolValue("onboarded"));
}

TEST(SettingsTest, ConcurrentWritersAllReachTheFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("settings.json");
    {
        Settings settings(path);
        std::vector<std::thread> writers;
        for (int t = 0; t < 4; ++t) {
            writers.emplace_back([&settings, t] {
                const QString key = QStringLiteral("key%1").arg(t);
                for (qint64 i = 0; i <= 30; ++i) {
                    settings.setValue(key, i);
                    (void)settings.integerValue(QStringLiteral("key%1").arg((t + 1) % 4));
                }
            });
        }
        for (auto &writer : writers)
            writer.join();
    }
    Settings reloaded(path);
    for (int t = 0; t < 4; ++t)
        EXPECT_EQ(reloaded.integerValue(QStringLiteral("key%1").arg(t)), 30) << "writer " << t;
}

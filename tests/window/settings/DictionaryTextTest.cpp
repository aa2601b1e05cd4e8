#include "window/settings/DictionaryText.h"

#include "pipeline/SettingsDefaults.h"
#include "runtime/Settings.h"

#include <gtest/gtest.h>

using namespace zq;

namespace {

QStringList stored(const rt::Settings &settings)
{
    return settings.stringListValue(keys::dictionary);
}

TEST(DictionaryTextTest, LinesAreTrimmedOfSpacesAndTabsAndBlankOnesDropped)
{
    // Two spaces and a name and a space; an empty line; a tab and a word; CR LF; a word and two spaces.
    const QString text = QStringLiteral("  Zoz Vudedori \n\n\tKubernetes\r\nPostgres  ");
    EXPECT_EQ(dictionaryEntries(text), (QStringList{"Zoz Vudedori", "Kubernetes", "Postgres"}));
    EXPECT_EQ(dictionaryEntries(QStringLiteral(" alpha \n\n\tBeta\r\n   ")), (QStringList{"alpha", "Beta"}));
}

TEST(DictionaryTextTest, EveryUnicodeLineBreakSplitsAndCrLfIsOneBreak)
{
    const QString breaks = QString::fromUtf8("a\nb\x0B"
                                             "c\x0C"
                                             "d\re\r\nf\xC2\x85g\xE2\x80\xA8h\xE2\x80\xA9i");
    EXPECT_EQ(splitLines(breaks), (QStringList{"a", "b", "c", "d", "e", "f", "g", "h", "i"}));
    EXPECT_EQ(splitLines(QStringLiteral("\n\nx\n\n")), QStringList{"x"}) << "empty pieces are dropped";
}

TEST(DictionaryTextTest, NoBreakSpacesAreTrimmedButInnerBlanksStay)
{
    const QString text = QString::fromUtf8("\xC2\xA0\xE2\x80\x83New\tYork\xC2\xA0 \t");
    EXPECT_EQ(dictionaryEntries(text), QStringList{"New\tYork"});
    EXPECT_EQ(dictionaryEntries(QStringLiteral(" \t \t")), QStringList{}) << "only blanks is no entry";
}

TEST(DictionaryTextTest, DuplicatesAndCaseAreKeptInLineOrder)
{
    EXPECT_EQ(dictionaryEntries(QStringLiteral("x\nx\nX")), (QStringList{"x", "x", "X"}));
}

TEST(DictionaryTextTest, SavingStoresTheListAndAnEmptyOneToo)
{
    rt::Settings settings{QString()};
    registerDefaults(settings);
    saveDictionary(settings, QStringLiteral("alpha\n\nBeta\n"));
    EXPECT_EQ(stored(settings), (QStringList{"alpha", "Beta"}));
    EXPECT_EQ(dictionaryText(settings), QStringLiteral("alpha\nBeta")) << "opens as one entry a line";

    saveDictionary(settings, QString());
    EXPECT_TRUE(settings.hasUserValue(keys::dictionary)) << "an empty list is written";
    EXPECT_EQ(stored(settings), QStringList{});
}

TEST(DictionaryTextTest, AStoredValueOfAnotherTypeOpensEmpty)
{
    rt::Settings settings{QString()};
    registerDefaults(settings);
    settings.setValue(keys::dictionary, QStringLiteral("not a list"));
    EXPECT_EQ(dictionaryText(settings), QString());
}

} // namespace

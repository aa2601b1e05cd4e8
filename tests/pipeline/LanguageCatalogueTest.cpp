#include "pipeline/LanguageCatalogue.h"

#include <gtest/gtest.h>

#include <QSet>

using zq::Language;
using zq::LanguageCatalogue;
using zq::namedLanguage;
using zq::openAILanguages;

namespace {

// What this computer offers on the device in most tests: the English model only.
const LanguageCatalogue english(QStringList{"en"});

} // namespace

TEST(LanguageCatalogueTest, TheOpenAITableIsCompleteAndSorted)
{
    QSet<QString> codes;
    for (qsizetype i = 0; i < openAILanguages().size(); ++i) {
        codes.insert(openAILanguages()[i].code);
        if (i > 0) {
            EXPECT_LT(openAILanguages()[i - 1].displayName, openAILanguages()[i].displayName);
        }
    }
    EXPECT_EQ(codes.size(), 57);
    EXPECT_EQ(openAILanguages().first(), (Language{"af", "Afrikaans"}));
    EXPECT_EQ(openAILanguages().last(), (Language{"cy", "Welsh"}));
}

TEST(LanguageCatalogueTest, TheOnDeviceListIsTheInstalledModelsNamedAndSorted)
{
    EXPECT_TRUE(LanguageCatalogue().localLanguages().isEmpty());
    EXPECT_EQ(english.localLanguages(), (QList<Language>{{"en", "English"}}));
    // Repeats, unknown codes and codes that are no language codes are dropped; names sort the list.
    const LanguageCatalogue found(QStringList{"ru", "en", "yue", "en", "xx", "EN", "en-US"});
    EXPECT_EQ(found.localLanguages(), (QList<Language>{{"yue", "Cantonese"}, {"en", "English"}, {"ru", "Russian"}}));
    EXPECT_EQ(&found.languages("openai"), &openAILanguages());
    EXPECT_EQ(found.languages("local"), found.localLanguages());
    EXPECT_EQ(found.languages("whisper"), found.localLanguages()) << "any other backend is the device's";

    EXPECT_EQ(namedLanguage("de"), (Language{"de", "German"})) << "the OpenAI table's name";
    EXPECT_EQ(namedLanguage("yue"), (Language{"yue", "Cantonese"})) << "the desktop's name";
    for (const char *notACode : {"auto", "EN", "en-US", "xx", "", "e"})
        EXPECT_EQ(namedLanguage(notACode), std::nullopt) << notACode;
}

TEST(LanguageCatalogueTest, SupportIsTheListOfTheBackendWithExactCodes)
{
    for (const char *backend : {"openai", "local", "", "whisper"})
        EXPECT_TRUE(LanguageCatalogue().isLanguageSupported("auto", backend)) << backend;

    EXPECT_TRUE(english.isLanguageSupported("en", "local"));
    EXPECT_FALSE(english.isLanguageSupported("de", "local")) << "no German model";
    EXPECT_TRUE(LanguageCatalogue(QStringList{"de"}).isLanguageSupported("de", "local"));
    EXPECT_TRUE(english.isLanguageSupported("cy", "openai"));
    EXPECT_FALSE(english.isLanguageSupported("cy", "OpenAI")) << "backend names are case-sensitive";
    for (const char *code : {"EN", "en-US", "en_US", " en", "Auto", ""}) {
        EXPECT_FALSE(english.isLanguageSupported(code, "openai")) << code;
        EXPECT_FALSE(english.isLanguageSupported(code, "local")) << code;
    }
}

TEST(LanguageCatalogueTest, TheOnDeviceEngineKeepsAKnownLanguageWithoutAModel)
{
    struct Case {
        const char *language;
        const char *backend;
        bool kept;
    };
    for (const Case &c : std::initializer_list<Case>{{"auto", "local", true},
                                                     {"en", "local", true},
                                                     {"de", "local", true}, // no model: kept, and the note says so
                                                     {"hi", "local", true},
                                                     {"yue", "local", true},
                                                     {"en-US", "local", false},
                                                     {"xx", "local", false},
                                                     {"de", "openai", true},
                                                     {"yue", "openai", false},
                                                     {"en-US", "openai", false}}) {
        EXPECT_EQ(english.keepsLanguage(c.language, c.backend), c.kept) << c.language << " " << c.backend;
    }
}

TEST(LanguageCatalogueTest, TheNoteNamesTheLanguageTheDeviceCannotTranscribe)
{
    const QLocale polish(QLocale::Polish, QLocale::Poland);
    const QLocale german(QLocale::German, QLocale::Austria);
    const QLocale americanEnglish(QLocale::English, QLocale::UnitedStates);
    // The system language behind "auto".
    EXPECT_EQ(english.unsupportedLanguage("local", "auto", polish), (Language{"pl", "Polish"}));
    EXPECT_EQ(english.unsupportedLanguage("local", "auto", german), (Language{"de", "German"})) << "no German model";
    EXPECT_EQ(LanguageCatalogue(QStringList{"de"}).unsupportedLanguage("local", "auto", german), std::nullopt);
    EXPECT_EQ(english.unsupportedLanguage("local", "auto", americanEnglish), std::nullopt);
    EXPECT_EQ(LanguageCatalogue().unsupportedLanguage("local", "auto", americanEnglish), (Language{"en", "English"}))
        << "no model at all";
    EXPECT_EQ(english.unsupportedLanguage("local", "auto", QLocale::c()), std::nullopt) << "no language code";
    EXPECT_EQ(english.unsupportedLanguage("local", "auto", QLocale(QLocale::Filipino)), std::nullopt)
        << "Filipino has only the three-letter code fil";
    EXPECT_EQ(english.unsupportedSystemLanguage("local", "auto", QString("xx")), std::nullopt) << "known to neither";
    EXPECT_EQ(english.unsupportedLanguage("openai", "auto", polish), std::nullopt);
    EXPECT_EQ(english.unsupportedLanguage("", "auto", polish), std::nullopt) << "only exactly \"local\"";

    // A chosen language.
    EXPECT_EQ(english.unsupportedLanguage("local", "de", americanEnglish), (Language{"de", "German"}));
    EXPECT_EQ(english.unsupportedLanguage("local", "yue", americanEnglish), (Language{"yue", "Cantonese"}));
    EXPECT_EQ(english.unsupportedLanguage("local", "en", polish), std::nullopt) << "the choice, not the system";
    EXPECT_EQ(english.unsupportedLanguage("openai", "de", americanEnglish), std::nullopt);
}

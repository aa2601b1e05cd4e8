#include "pipeline/LanguageCatalogue.h"

#include <gtest/gtest.h>

#include <QSet>

using zq::isLanguageSupported;
using zq::Language;
using zq::localLanguages;
using zq::openAILanguages;
using zq::unsupportedSystemLanguage;

TEST(LanguageCatalogueTest, TablesAreCompleteSortedAndConsistent)
{
    for (const auto *table : {&openAILanguages(), &localLanguages()}) {
        QSet<QString> codes;
        for (qsizetype i = 0; i < table->size(); ++i) {
            codes.insert(table->at(i).code);
            if (i > 0) {
                EXPECT_LT(table->at(i - 1).displayName, table->at(i).displayName) << "sorted by display name";
            }
        }
        EXPECT_EQ(codes.size(), table->size()) << "codes are unique";
    }
    EXPECT_EQ(openAILanguages().size(), 57);
    EXPECT_EQ(localLanguages().size(), 16);
    EXPECT_EQ(openAILanguages().first(), (Language{"af", "Afrikaans"}));
    EXPECT_EQ(openAILanguages().last(), (Language{"cy", "Welsh"}));
    EXPECT_EQ(localLanguages().first(), (Language{"yue", "Cantonese"}));

    for (const Language &local : localLanguages()) {
        if (local.code != "yue") {
            EXPECT_TRUE(isLanguageSupported(local.code, "openai")) << local.code.toStdString();
        }
    }
}

TEST(LanguageCatalogueTest, SupportDependsOnTheBackendAndExactCodes)
{
    for (const char *backend : {"openai", "local", "", "whisper"})
        EXPECT_TRUE(isLanguageSupported("auto", backend)) << backend;

    EXPECT_TRUE(isLanguageSupported("yue", "local"));
    EXPECT_FALSE(isLanguageSupported("yue", "openai"));
    EXPECT_TRUE(isLanguageSupported("cy", "openai"));
    EXPECT_FALSE(isLanguageSupported("cy", "local"));
    EXPECT_FALSE(isLanguageSupported("cy", "")) << "an unknown backend uses the on-device table";
    EXPECT_FALSE(isLanguageSupported("cy", "OpenAI")) << "backend names are case-sensitive";

    for (const char *code : {"EN", "en-US", "en_US", " en", "Auto", ""}) {
        EXPECT_FALSE(isLanguageSupported(code, "openai")) << code;
        EXPECT_FALSE(isLanguageSupported(code, "local")) << code;
    }
}

TEST(LanguageCatalogueTest, ASystemLanguageOnlyTheCloudKnowsIsReported)
{
    EXPECT_EQ(unsupportedSystemLanguage("local", "auto", QString("pl")), (Language{"pl", "Polish"}));
    EXPECT_EQ(unsupportedSystemLanguage("local", "auto", QString("de")), std::nullopt) << "on the device";
    EXPECT_EQ(unsupportedSystemLanguage("local", "auto", QString("fil")), std::nullopt) << "three letters";
    EXPECT_EQ(unsupportedSystemLanguage("local", "auto", QString("xx")), std::nullopt) << "known to neither";
    EXPECT_EQ(unsupportedSystemLanguage("local", "auto", QString()), std::nullopt);
    EXPECT_EQ(unsupportedSystemLanguage("openai", "auto", QString("pl")), std::nullopt);
    EXPECT_EQ(unsupportedSystemLanguage("", "auto", QString("pl")), std::nullopt) << "only exactly \"local\"";
    EXPECT_EQ(unsupportedSystemLanguage("local", "pl", QString("pl")), std::nullopt) << "only with \"auto\"";
}

TEST(LanguageCatalogueTest, TheLocaleGivesItsLanguageCode)
{
    EXPECT_EQ(unsupportedSystemLanguage("local", "auto", QLocale(QLocale::Polish, QLocale::Poland)),
              (Language{"pl", "Polish"}));
    EXPECT_EQ(unsupportedSystemLanguage("local", "auto", QLocale(QLocale::Welsh)), (Language{"cy", "Welsh"}));
    EXPECT_EQ(unsupportedSystemLanguage("local", "auto", QLocale(QLocale::German, QLocale::Austria)), std::nullopt);
    EXPECT_EQ(unsupportedSystemLanguage("local", "auto", QLocale::c()), std::nullopt) << "no language code";
    EXPECT_EQ(unsupportedSystemLanguage("local", "auto", QLocale(QLocale::Filipino)), std::nullopt)
        << "Filipino has only the three-letter code fil";
}

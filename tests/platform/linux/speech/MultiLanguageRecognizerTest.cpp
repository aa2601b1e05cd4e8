// Takes go to the model of their language; models load only when their language is used.
#include "platform/linux/speech/MultiLanguageRecognizer.h"

#include "support/FakeSpeechRecognizer.h"

#include <gtest/gtest.h>

using namespace zq;
using platform::MultiLanguageRecognizer;
using test::FakeSpeechRecognizer;

TEST(MultiLanguageRecognizerTest, EachLanguageGoesToItsModelLoadedOnFirstUse)
{
    std::map<QString, std::shared_ptr<FakeSpeechRecognizer>> made;
    auto model = [&made](const QString &locale) {
        return MultiLanguageRecognizer::Model{locale, [&made, locale] {
                                                  auto recognizer = std::make_shared<FakeSpeechRecognizer>();
                                                  made[locale] = recognizer;
                                                  return recognizer;
                                              }};
    };
    MultiLanguageRecognizer recognizer({model("en-US"), model("fr-FR")});
    EXPECT_TRUE(made.empty()) << "nothing loads before it is asked for";
    recognizer.loadNow(QStringLiteral("en"));
    EXPECT_TRUE(made.count("en-US")) << "the expected language loads when asked ahead of its take";
    EXPECT_FALSE(made.count("fr-FR")) << "the other waits for its first take";
    EXPECT_TRUE(recognizer.isAvailable());

    struct Case {
        const char *asked;
        std::optional<QString> supported;
        bool needsAssets;
    };
    for (const Case &c : std::initializer_list<Case>{{"en_GB", QStringLiteral("en-US"), true},
                                                     {"en-US", QStringLiteral("en-US"), false},
                                                     {"FR-be", QStringLiteral("fr-FR"), true},
                                                     {"fr-FR", QStringLiteral("fr-FR"), false},
                                                     {"de_DE", std::nullopt, true},
                                                     {"", std::nullopt, true}}) {
        EXPECT_EQ(recognizer.supportedLocale(c.asked), c.supported) << c.asked;
        EXPECT_EQ(recognizer.needsAssetInstallation(c.asked).value(), c.needsAssets) << c.asked;
    }
    EXPECT_FALSE(recognizer.installAssets(QStringLiteral("de"), {})) << "nothing can be installed from here";

    ASSERT_NE(recognizer.makeAnalyzer(QStringLiteral("fr-FR")), nullptr);
    ASSERT_TRUE(made.count("fr-FR"));
    const auto french = made["fr-FR"];
    ASSERT_NE(recognizer.makeAnalyzer(QStringLiteral("fr-FR")), nullptr);
    EXPECT_EQ(made["fr-FR"], french) << "loaded once, then reused";
    EXPECT_EQ(french->calls(), (QStringList{"analyzer fr-FR", "analyzer fr-FR"}));
    EXPECT_TRUE(made["en-US"]->calls().isEmpty());
    EXPECT_EQ(recognizer.makeAnalyzer(QStringLiteral("de-DE")), nullptr);
    EXPECT_EQ(recognizer.bestAvailableAudioFormat(QStringLiteral("de-DE")), std::nullopt);

    EXPECT_FALSE(MultiLanguageRecognizer({}).isAvailable()) << "no model, no engine";
}

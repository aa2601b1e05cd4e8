// The installed speech models as the application finds and uses them, on real recorded speech:
// takes in a language with a model come out as text (cleaned up when long enough), takes in one
// without a model fail with a sentence that names it.
#include "platform/linux/speech/MultiLanguageRecognizer.h"

#include "pipeline/LanguageCatalogue.h"
#include "platform/linux/speech/PocketSphinxModelFolder.h"
#include "platform/linux/speech/PocketSphinxRecognizer.h"
#include "support/ServiceEnvironment.h"
#include "support/SpeechSamples.h"
#include "support/TranscriptCollector.h"
#include "support/VirtualLoop.h"
#include "transcription/LocalBackend.h"
#include "transcription/RuleBasedCleanupModel.h"
#include "transcription/TranscriptCleanup.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace zq;
using platform::InstalledSpeechModel;
using platform::MultiLanguageRecognizer;
using platform::PocketSphinxModelFolder;
using platform::SharedPCMBuffer;

namespace {

std::shared_ptr<MultiLanguageRecognizer> recognizerFor(const std::vector<InstalledSpeechModel> &models)
{
    std::vector<MultiLanguageRecognizer::Model> recognizers;
    for (const InstalledSpeechModel &model : models) {
        recognizers.push_back({model.locale, [files = model.files] {
                                   return std::make_shared<platform::PocketSphinxRecognizer>(files);
                               }});
    }
    return std::make_shared<MultiLanguageRecognizer>(std::move(recognizers));
}

class MultiLanguageRecognizerIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ZQ_REQUIRE_SERVICE(platform::PocketSphinxModel::debianEnglish().isInstalled() &&
                               QFile::exists(test::kGoForwardSpeech),
                           "the pocketsphinx-en-us model and pocketsphinx-testdata are needed");
    }

    std::shared_ptr<test::TranscriptOutcome> transcribe(const std::shared_ptr<MultiLanguageRecognizer> &recognizer,
                                                        const std::vector<float> &samples, const QString &language)
    {
        rt::AsyncChannel<SharedPCMBuffer> stream;
        for (auto &block : test::asMicBlocks(samples))
            stream.send(block);
        stream.finish();
        LocalBackend backend(loop, recognizer, QLocale(QStringLiteral("en_US")));
        auto outcome = std::make_shared<test::TranscriptOutcome>();
        consumer = rt::spawn(
            loop, test::collectTranscript(backend.transcribe(AudioSource::stream(stream, {}), language, {}), outcome));
        // Decoding is CPU-bound: on a loaded machine the long take alone can take minutes. The
        // deadline only ends a hung test.
        EXPECT_TRUE(loop.runUntil([&] { return outcome->done; }, std::chrono::minutes(4)));
        return outcome;
    }

    static QString finalText(const test::TranscriptOutcome &outcome)
    {
        return outcome.updates.empty() || !outcome.updates.back().isFinal() ? QString() : outcome.updates.back().text;
    }

    test::VirtualLoop loop;
    rt::TaskHandle<void> consumer;
};

} // namespace

TEST_F(MultiLanguageRecognizerIntegrationTest, TheSystemModelTranscribesAndAMissingLanguageIsNamed)
{
    const std::vector<InstalledSpeechModel> models =
        PocketSphinxModelFolder::scan(PocketSphinxModelFolder::systemFolder());
    ASSERT_FALSE(models.empty());
    EXPECT_EQ(models.front().locale, "en-US");
    EXPECT_EQ(models.front().files.languageModel, platform::PocketSphinxModel::debianEnglish().languageModel)
        << "the word model, not the phone model beside it";
    auto recognizer = recognizerFor(models);

    auto outcome = transcribe(recognizer, test::loadRawSpeech(test::kGoForwardSpeech), "en");
    EXPECT_EQ(finalText(*outcome), "go forward ten meters") << outcome->errorText().toStdString();

    outcome = transcribe(recognizer, test::loadRawSpeech(test::kGoForwardSpeech), "de");
    ASSERT_TRUE(outcome->error);
    EXPECT_TRUE(outcome->errorText().startsWith("On-device transcription of German isn't available on this computer"))
        << outcome->errorText().toStdString();
}

TEST_F(MultiLanguageRecognizerIntegrationTest, ALongTakeLandsAsACapitalisedSentenceWithAFullStop)
{
    // Six times "go forward ten meters", with a breath between: 24 words, enough to be cleaned.
    const std::vector<float> phrase = test::loadRawSpeech(test::kGoForwardSpeech);
    std::vector<float> take;
    for (int i = 0; i < 6; ++i) {
        take.insert(take.end(), phrase.begin(), phrase.end());
        take.insert(take.end(), 6400, 0.0f);
    }
    auto outcome =
        transcribe(recognizerFor(PocketSphinxModelFolder::scan(PocketSphinxModelFolder::systemFolder())), take, "auto");
    const QString raw = finalText(*outcome);
    ASSERT_TRUE(TranscriptCleanup::shouldClean(raw, true)) << raw.toStdString();
    EXPECT_TRUE(raw.startsWith("go forward")) << raw.toStdString();

    TranscriptCleanup cleanup(std::make_shared<RuleBasedCleanupModel>(), loop.clocks());
    auto cleaned = rt::spawn(loop, cleanup.clean(raw, {}));
    ASSERT_TRUE(loop.runUntil([&] { return cleaned.isDone(); }));
    const QString text = *cleaned.result();
    EXPECT_TRUE(text.startsWith("Go forward ten meters go forward")) << text.toStdString();
    EXPECT_TRUE(text.endsWith("meters.")) << text.toStdString();
    EXPECT_EQ(splitWords(text).size(), splitWords(raw).size()) << "no word was lost";
}

TEST_F(MultiLanguageRecognizerIntegrationTest, ASecondModelFolderIsOfferedAndUsed)
{
    // The English model's files under a second locale's name stand in for a second language.
    QTemporaryDir root;
    const QString english = QFileInfo(platform::PocketSphinxModel::debianEnglish().acousticModel).path();
    ASSERT_TRUE(QFile::link(english, root.filePath("en-us")));
    ASSERT_TRUE(QFile::link(english, root.filePath("fr-fr")));
    const std::vector<InstalledSpeechModel> models = PocketSphinxModelFolder::scan(root.path());
    ASSERT_EQ(models.size(), 2u);
    QStringList codes;
    for (const InstalledSpeechModel &model : models)
        codes.append(model.language());
    EXPECT_EQ(LanguageCatalogue(codes).localLanguages(), (QList<Language>{{"en", "English"}, {"fr", "French"}}));

    auto outcome = transcribe(recognizerFor(models), test::loadRawSpeech(test::kGoForwardSpeech), "fr");
    EXPECT_EQ(finalText(*outcome), "go forward ten meters") << outcome->errorText().toStdString();
}

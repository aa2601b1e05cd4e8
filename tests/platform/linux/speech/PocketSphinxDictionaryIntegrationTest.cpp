// The user's dictionary reaching the on-device recogniser, on speech made by espeak-ng.
#include "platform/linux/speech/PocketSphinxRecognizer.h"
#include "support/ServiceEnvironment.h"
#include "support/SpeechSamples.h"
#include "support/SpokenText.h"
#include "support/TranscriptCollector.h"
#include "support/VirtualLoop.h"
#include "transcription/LocalBackend.h"

#include <gtest/gtest.h>

using namespace zq;
using platform::AudioFormat;
using platform::SharedPCMBuffer;

namespace {

class PocketSphinxDictionaryIntegrationTest : public ::testing::Test {
protected:
    // The whole take at once, as the microphone gave it; the final text, or the failure's text.
    QString transcribe(const std::vector<float> &samples, const QStringList &dictionary)
    {
        rt::AsyncChannel<SharedPCMBuffer> stream;
        for (auto &block : test::asMicBlocks(samples))
            stream.send(block);
        stream.finish();
        AudioFormat format;
        format.sampleRate = 48000;
        format.channelCount = 2;
        LocalBackend backend(loop, recognizer, QLocale(QStringLiteral("en_US")));
        auto outcome = std::make_shared<test::TranscriptOutcome>();
        consumer = rt::spawn(loop, test::collectTranscript(backend.transcribe(AudioSource::stream(stream, format),
                                                                              QStringLiteral("auto"), dictionary),
                                                           outcome));
        for (int i = 0; i < 60 * 50 && !outcome->done; ++i)
            loop.runUntil([&] { return outcome->done; }, std::chrono::milliseconds(20));
        if (!outcome->done || outcome->error || outcome->updates.empty())
            return QStringLiteral("(failed: %1)").arg(outcome->errorText());
        return outcome->updates.back().text;
    }

    test::VirtualLoop loop;
    std::shared_ptr<platform::PocketSphinxRecognizer> recognizer = std::make_shared<platform::PocketSphinxRecognizer>();
    rt::TaskHandle<void> consumer;
};

} // namespace

TEST_F(PocketSphinxDictionaryIntegrationTest, InventedNameComesOutAsSpeltOnlyInTakesWhoseDictionaryHasIt)
{
    ZQ_REQUIRE_SERVICE(platform::PocketSphinxModel::debianEnglish().isInstalled(),
                       "the pocketsphinx-en-us model is needed");
    const std::vector<float> speech = test::speakText(QStringLiteral("ask Vudedori about the invoice"));
    ZQ_REQUIRE_SERVICE(!speech.empty(), "espeak-ng is needed");
    const auto words = [](const QString &text) { return text.split(QLatin1Char(' '), Qt::SkipEmptyParts); };

    // Entries without a pronunciation are skipped, not an error; the name comes out as spelt.
    const QString first =
        transcribe(speech, {QStringLiteral("k8s"), QStringLiteral("C++"), QStringLiteral("Vudedori")});
    EXPECT_TRUE(words(first).contains(QStringLiteral("Vudedori"))) << first.toStdString();

    // The next takes run on the same decoder, without the name in their dictionary.
    const QString without = transcribe(speech, {});
    EXPECT_FALSE(without.contains(QStringLiteral("vudedori"), Qt::CaseInsensitive)) << without.toStdString();
    const QString other = transcribe(speech, {QStringLiteral("Kubernetes")});
    EXPECT_FALSE(other.contains(QStringLiteral("vudedori"), Qt::CaseInsensitive)) << other.toStdString();

    // Back in the dictionary, the word the decoder already learnt is recognised again.
    const QString again = transcribe(speech, {QStringLiteral("Vudedori")});
    EXPECT_TRUE(words(again).contains(QStringLiteral("Vudedori"))) << again.toStdString();
    EXPECT_EQ(recognizer->pool()->loadCount(), 1) << "every take should have used the one decoder";
}

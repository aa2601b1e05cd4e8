// Decoders loading and decoding on several threads at once, as overlapping takes use them, and a
// pool that closes while its decoder still loads or a take still decodes.
#include "platform/linux/speech/PocketSphinxAnalyzer.h"
#include "platform/linux/speech/PocketSphinxChannelEstimate.h"
#include "platform/linux/speech/PocketSphinxDecoder.h"
#include "platform/linux/speech/PocketSphinxRecognizer.h"
#include "support/FakeCaptureCore.h"
#include "support/FakeGate.h"
#include "support/Polling.h"
#include "support/ServiceEnvironment.h"
#include "support/SpeechSamples.h"
#include "support/SpokenText.h"
#include "support/TestFiles.h"
#include "support/VirtualLoop.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sphinxbase/err.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <functional>
#include <future>
#include <thread>

using namespace zq;
using platform::PocketSphinxDecoder;

namespace {

QString decode(PocketSphinxDecoder &decoder, const std::vector<std::int16_t> &speech)
{
    if (!decoder.startUtterance() || !decoder.process(speech.data(), speech.size()) || !decoder.endUtterance())
        return QStringLiteral("(decoder error)");
    return decoder.hypothesis();
}

rt::Task<void> collect(rt::AsyncChannel<platform::SpeechResult> results,
                       std::shared_ptr<std::vector<platform::SpeechResult>> heard)
{
    while (std::optional<platform::SpeechResult> result = co_await results.next())
        heard->push_back(*result);
}

} // namespace

TEST(PocketSphinxDecoderIntegrationTest, DecodersLoadWhileAnotherDecodesWithoutTouchingItsLogStream)
{
    const auto model = platform::PocketSphinxModel::debianEnglish();
    ZQ_REQUIRE_SERVICE(model.isInstalled() && QFile::exists(test::kGoForwardSpeech),
                       "the pocketsphinx-en-us model and pocketsphinx-testdata are needed");
    const std::vector<std::int16_t> speech = test::asPcm16(test::loadRawSpeech(test::kGoForwardSpeech));
    std::unique_ptr<PocketSphinxDecoder> running = PocketSphinxDecoder::load(model).value();
    // The library writes every decoder's log lines to one stream of the process; replacing it closes
    // the old one under whoever is writing to it.
    FILE *const stream = err_get_logfp();

    std::array<QString, 4> heard;
    std::vector<std::thread> threads;
    threads.emplace_back([&] { heard[0] = decode(*running, speech); });
    for (std::size_t i = 1; i < heard.size(); ++i) {
        threads.emplace_back([&, i] {
            auto loaded = PocketSphinxDecoder::load(model);
            heard[i] = loaded ? decode(*loaded.value(), speech) : loaded.error().message;
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    for (std::size_t i = 0; i < heard.size(); ++i)
        EXPECT_EQ(heard[i], QStringLiteral("go forward ten meters")) << "decoder " << i;
    EXPECT_EQ(err_get_logfp(), stream) << "loading a decoder replaced the log stream the others write to";
}

TEST(PocketSphinxDecoderIntegrationTest, ClosingThePoolWakesATakeWaitingForTheModelAndWaitsForTheLoad)
{
    // Without the model the load fails once the gate opens: the wake does not depend on it.
    const auto model = platform::PocketSphinxModel::debianEnglish();
    auto gate = std::make_shared<test::FakeGate>();
    auto loadEnded = std::make_shared<std::atomic<bool>>(false);
    test::AudioLogCapture log;
    auto pool = std::make_shared<platform::PocketSphinxDecoderPool>(
        model, QString(), QString(),
        [gate, loadEnded](const platform::PocketSphinxModel &loaded,
                          std::shared_ptr<const platform::PocketSphinxDictionaryCut>,
                          const PocketSphinxDecoder::LanguageModelRead &) {
            gate->pass();
            auto decoder = PocketSphinxDecoder::load(loaded);
            loadEnded->store(true);
            return decoder;
        });
    pool->preload();
    ASSERT_TRUE(gate->waitUntilReached(test::kLoadedMachineTimeout));
    platform::PocketSphinxAnalyzer take(pool);
    ASSERT_TRUE(take.start());

    auto closed = std::async(std::launch::async, [&] { pool->close(); });
    auto woke = std::async(std::launch::async, [&] { return take.finalizeAndFinishThroughEndOfInput({}); });
    const bool wokeAtOnce = woke.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    gate->open(); // lets the load end and the take go, so a failure does not hang
    take.cancel();
    EXPECT_TRUE(wokeAtOnce) << "the take waited for the model after the pool closed";
    closed.get();
    EXPECT_TRUE(loadEnded->load()) << "closing the pool did not wait for its load";
    EXPECT_FALSE(log.contains(QStringLiteral("speech model ready"))) << log.lines().join('\n').toStdString();
}

TEST(PocketSphinxDecoderIntegrationTest, ADecoderOnTheCutDictionaryHearsAndLooksUpWordsAsOnTheWholeOne)
{
    const auto model = platform::PocketSphinxModel::debianEnglish();
    ZQ_REQUIRE_SERVICE(model.isInstalled() && QFile::exists(test::kGoForwardSpeech),
                       "the pocketsphinx-en-us model and pocketsphinx-testdata are needed");
    const std::vector<std::int16_t> speech = test::asPcm16(test::loadRawSpeech(test::kGoForwardSpeech));
    QTemporaryDir cache;
    const std::string folder = cache.path().toStdString();
    std::unique_ptr<PocketSphinxDecoder> whole = PocketSphinxDecoder::load(model).value();
    const auto inModel = whole->languageModelWords();
    ASSERT_TRUE(platform::PocketSphinxDictionaryCut::make(
        folder, model.dictionary.toStdString(), model.languageModel.toStdString(),
        [&](std::string_view w) { return inModel.count(std::string(w)) > 0; }));
    auto kept = platform::PocketSphinxDictionaryCut::open(folder, model.dictionary.toStdString(),
                                                          model.languageModel.toStdString());
    ASSERT_TRUE(kept);
    // Another file put at the cut's name once it was found, with "forward" spelt otherwise: the
    // decoder reads the cut that was found.
    const QString name = QString::fromStdString(kept->dictionaryFile());
    test::writeFile(name + QStringLiteral(".other"), test::readFile(name).replace("\nforward ", "\nfxrward "));
    ASSERT_EQ(::rename(QFile::encodeName(name + QStringLiteral(".other")), QFile::encodeName(name)), 0);
    std::unique_ptr<PocketSphinxDecoder> cut = PocketSphinxDecoder::load(model, kept).value();

    EXPECT_EQ(decode(*cut, speech), QStringLiteral("go forward ten meters"));
    EXPECT_EQ(decode(*whole, speech), QStringLiteral("go forward ten meters"));
    // A word of the language model, one the cut left out (with an alternate), one in neither.
    for (const char *word : {"forward", "acetylcholine", "Acetylcholine", "vudedori"})
        EXPECT_EQ(cut->pronunciations(QString::fromUtf8(word)), whole->pronunciations(QString::fromUtf8(word))) << word;
    EXPECT_EQ(cut->pronunciations(QStringLiteral("acetylcholine")).size(), 2);

    // A vocabulary naming a left-out word teaches the decoder the dictionary's pronunciations, so
    // the word comes out as from the whole dictionary (it is not in the language model: nothing else
    // could produce it). The second decode of each, once the channel estimate fits the voice.
    const std::vector<std::int16_t> named =
        test::asPcm16(test::speakText(QStringLiteral("acetylcholine is a neurotransmitter")));
    ZQ_REQUIRE_SERVICE(!named.empty(), "espeak-ng is needed");
    QString heard[2];
    for (PocketSphinxDecoder *decoder : {cut.get(), whole.get()}) {
        const auto vocabulary = platform::PocketSphinxVocabulary::plan(
            {QStringLiteral("acetylcholine")}, [&](const QString &w) { return decoder->pronunciations(w); },
            [](const QString &) { return std::nullopt; });
        ASSERT_TRUE(decoder->useVocabulary(vocabulary));
        decode(*decoder, named);
        heard[decoder == cut.get() ? 0 : 1] = decode(*decoder, named);
    }
    EXPECT_TRUE(heard[0].contains(QStringLiteral("acetylcholine"))) << heard[0].toStdString();
    EXPECT_EQ(heard[0].toStdString(), heard[1].toStdString());
}

TEST(PocketSphinxDecoderIntegrationTest, AFirstLaunchKeepsTheCutDictionaryAndTheNextLoadsFromIt)
{
    const auto model = platform::PocketSphinxModel::debianEnglish();
    ZQ_REQUIRE_SERVICE(model.isInstalled() && QFile::exists(test::kGoForwardSpeech),
                       "the pocketsphinx-en-us model and pocketsphinx-testdata are needed");
    const std::vector<std::int16_t> speech = test::asPcm16(test::loadRawSpeech(test::kGoForwardSpeech));
    QTemporaryDir cache;
    const QString folder = cache.filePath(QStringLiteral("not-yet-made"));
    auto keptCut = [&] {
        return platform::PocketSphinxDictionaryCut::open(folder.toStdString(), model.dictionary.toStdString(),
                                                         model.languageModel.toStdString());
    };
    // The cut's word "forward" spelt otherwise, in place: the manifest still names the sources and
    // the sizes, only the contents differ.
    auto damage = [&] {
        const auto kept = keptCut();
        ASSERT_TRUE(kept);
        QFile file(QString::fromStdString(kept->dictionaryFile()));
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        QByteArray data = file.readAll();
        const qsizetype at = data.indexOf("\nforward ");
        ASSERT_GE(at, 0);
        data.replace(at + 1, 7, "fxrward");
        ASSERT_TRUE(file.seek(0));
        ASSERT_EQ(file.write(data), data.size());
    };
    const struct {
        const char *name;
        std::function<void()> before;
        const char *dictionary;
        bool cutLoads = true; // false: every load from the cut fails, and the whole one takes its place
        const char *thenLogged = "(cut dictionary)";
        bool beside = false; // the next take starts while the first holds its decoder: it loads its own
    } launches[] = {
        {"first launch", [] {}, "(whole dictionary)"},
        {"next launch", [] {}, "(cut dictionary)"},
        {"a launch after the cut was damaged", damage, "(whole dictionary)"},
        {"the launch after that", [] {}, "(cut dictionary)"},
        {"a take beside another", [] {}, "(cut dictionary)", true, "(cut dictionary)", true},
        {"a take beside another that cannot load from the cut", [] {}, "(whole dictionary)", false,
         "loading the whole one again", true},
        {"a launch that cannot load from the cut", [] {}, "(whole dictionary)", false, "(whole dictionary)"},
        {"a first launch that cannot load from the cut", [&] { QDir(folder).removeRecursively(); },
         "(whole dictionary)", false, "loading the whole one again"},
    };
    for (const auto &launch : launches) {
        SCOPED_TRACE(launch.name);
        launch.before();
        test::AudioLogCapture log;
        {
            platform::PocketSphinxDecoderPool pool(
                model, {}, folder,
                [&](const auto &m, auto cut, const auto &read) -> rt::Result<std::unique_ptr<PocketSphinxDecoder>> {
                    if (cut && !launch.cutLoads)
                        return rt::makeError(QStringLiteral("cut refused"));
                    return PocketSphinxDecoder::load(m, std::move(cut), read);
                });
            pool.preload();
            auto decoder = pool.acquire({});
            ASSERT_TRUE(decoder);
            EXPECT_TRUE(log.contains(QString::fromUtf8(launch.dictionary))) << log.lines().join('\n').toStdString();
            EXPECT_EQ(decode(*decoder.value(), speech), QStringLiteral("go forward ten meters"));
            // Once the cut is made, the decoder the next take gets reads it, on every launch, whether
            // it was the first's or one of its own; one that fails to load from the cut gives the take
            // the whole one.
            auto held = std::move(decoder).value();
            if (!launch.beside)
                pool.release(std::move(held));
            // The cut is made at the lowest priority: on a machine busy with other work it waits its turn.
            const auto logged = [&] {
                return test::waitFor([&] { return log.contains(QString::fromUtf8(launch.thenLogged)); },
                                     3 * test::kLoadedMachineTimeout);
            };
            ASSERT_TRUE(launch.beside || logged());
            auto next = pool.acquire({});
            ASSERT_TRUE(next);
            EXPECT_TRUE(logged()) << log.lines().join('\n').toStdString();
            EXPECT_EQ(next.value()->readsCut(), launch.cutLoads);
        }
        // The cut is kept even by a launch that quits as soon as its decoder is out.
        EXPECT_TRUE(test::waitFor([&] { return keptCut() != nullptr; }, 3 * test::kLoadedMachineTimeout));
    }
}

TEST(PocketSphinxDecoderIntegrationTest, WhatATakeLearntIsSavedWhenItsRecognizerGoes)
{
    // A recogniser that goes stops its takes and waits for them, then writes what they learnt.
    using platform::PocketSphinxRecognizer;
    const auto model = platform::PocketSphinxModel::debianEnglish();
    ZQ_REQUIRE_SERVICE(model.isInstalled() && QFile::exists(test::kGoForwardSpeech),
                       "the pocketsphinx-en-us model and pocketsphinx-testdata are needed");
    const std::vector<platform::SharedPCMBuffer> speech =
        test::asMicBlocks(test::loadRawSpeech(test::kGoForwardSpeech));
    for (const bool stopped : {false, true}) {
        SCOPED_TRACE(stopped ? "a take stopped while its recogniser lives"
                             : "a take in flight when its recogniser goes");
        QTemporaryDir state;
        const QString file = state.filePath(QStringLiteral("speech-channel.json"));
        auto recognizer =
            std::make_shared<PocketSphinxRecognizer>(model, PocketSphinxRecognizer::Preload::atOnce, file);
        const std::weak_ptr<platform::PocketSphinxDecoderPool> pool = recognizer->pool();
        std::shared_ptr<platform::SpeechAnalyzer> analyzer =
            recognizer->makeAnalyzer(PocketSphinxRecognizer::installedLocale);
        test::VirtualLoop loop;
        auto heard = std::make_shared<std::vector<platform::SpeechResult>>();
        const rt::TaskHandle<void> results = rt::spawn(loop, collect(analyzer->results(), heard));
        ASSERT_TRUE(analyzer->start());
        for (const platform::SharedPCMBuffer &block : speech)
            analyzer->feed(block);
        // The take holds a decoder that has heard some of it.
        ASSERT_TRUE(loop.runUntil([&] { return !heard->empty(); }, std::chrono::minutes(3)));

        if (stopped) {
            analyzer->cancel();
            analyzer.reset();
            ASSERT_TRUE(loop.runUntil([&] { return results.isDone(); }, test::kLoadedMachineTimeout));
            EXPECT_FALSE(QFile::exists(file)) << "the stopped take's thread wrote";
            recognizer.reset();
            EXPECT_TRUE(QFile::exists(file)) << "what the stopped take learnt was lost";
        } else {
            recognizer.reset();
            EXPECT_TRUE(QFile::exists(file)) << "what the take learnt was lost";
            EXPECT_TRUE(analyzer->finalizeAndFinishThroughEndOfInput({})) << "the take was not ended";
            analyzer.reset();
            EXPECT_TRUE(pool.expired());
            ASSERT_TRUE(loop.runUntil([&] { return results.isDone(); }, test::kLoadedMachineTimeout));
        }
    }
}

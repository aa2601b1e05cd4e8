#include "transcription/LocalBackend.h"

#include "pipeline/ZEPAError.h"
#include "platform/AudioFile.h"
#include "records/IncidentPresentation.h"
#include "support/AudioFormats.h"
#include "support/FakeSpeechRecognizer.h"
#include "support/TranscriptCollector.h"
#include "support/VirtualLoop.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace zq;
using platform::AudioFormat;
using platform::PCMBuffer;
using platform::SharedPCMBuffer;
using platform::SpeechResult;
using test::collectTranscript;
using test::FakeSpeechRecognizer;
using test::TranscriptOutcome;
using zq::test::audioFormat;

namespace {

SharedPCMBuffer buffer(const AudioFormat &f, std::uint32_t frames)
{
    auto b = std::make_shared<PCMBuffer>(f, frames);
    for (int c = 0; c < f.channelCount; ++c)
        for (std::uint32_t i = 0; i < frames; ++i)
            b->channelData(c)[i] = 0.1f * static_cast<float>(i % 7);
    b->setFrameLength(frames);
    return b;
}

class LocalBackendTest : public ::testing::Test {
protected:
    // Conditions set by worker threads without a post to the loop: poll briefly instead of
    // waiting for runUntil's whole timeout.
    bool settle(const std::function<bool()> &predicate)
    {
        for (int i = 0; i < 250; ++i)
            if (loop.runUntil(predicate, std::chrono::milliseconds(20)))
                return true;
        return false;
    }

    void TearDown() override
    {
        for (const auto &analyzer : recognizer->analyzers())
            analyzer->releaseFinalize();
        for (const auto &task : m_consumers)
            task.cancel();
        settle([this] {
            for (const auto &outcome : m_outcomes)
                if (!outcome->done)
                    return false;
            return true;
        });
        loop.runUntilIdle();
    }

    std::shared_ptr<TranscriptOutcome> run(AudioSource source, QString language = QStringLiteral("auto"),
                                           QStringList dictionary = {})
    {
        LocalBackend backend(loop, recognizer, currentLocale);
        auto outcome = std::make_shared<TranscriptOutcome>();
        channel = backend.transcribe(std::move(source), std::move(language), std::move(dictionary));
        consumer = rt::spawn(loop, collectTranscript(channel, outcome));
        m_outcomes.push_back(outcome);
        m_consumers.push_back(consumer);
        return outcome;
    }
    std::shared_ptr<TranscriptOutcome> runStream(std::vector<SharedPCMBuffer> buffers,
                                                 QString language = QStringLiteral("auto"), QStringList dictionary = {})
    {
        rt::AsyncChannel<SharedPCMBuffer> source;
        for (auto &b : buffers)
            source.send(b);
        source.finish();
        auto outcome =
            run(AudioSource::stream(source, audioFormat(48000, 1)), std::move(language), std::move(dictionary));
        EXPECT_TRUE(settle([&] { return outcome->done; })) << "the transcription never ended";
        return outcome;
    }

    test::VirtualLoop loop;
    QLocale currentLocale{QStringLiteral("en_GB")};
    std::shared_ptr<FakeSpeechRecognizer> recognizer = std::make_shared<FakeSpeechRecognizer>();
    rt::AsyncChannel<TranscriptUpdate> channel;
    rt::TaskHandle<void> consumer; // the task reading the latest transcription

private:
    std::vector<std::shared_ptr<TranscriptOutcome>> m_outcomes;
    std::vector<rt::TaskHandle<void>> m_consumers;
};

} // namespace

struct ResultsCase {
    const char *name;
    std::vector<SpeechResult> results;
    std::vector<TranscriptUpdate> expected;
};

class LocalBackendResultsTest : public LocalBackendTest, public ::testing::WithParamInterface<ResultsCase> {};

TEST_P(LocalBackendResultsTest, EveryPartialIsTheWholeTextSoFarAndTheFinalComesLast)
{
    recognizer->configureAnalyzer = [](test::FakeSpeechAnalyzer &a) { a.resultsAtFinalize = GetParam().results; };
    auto outcome = runStream({buffer(audioFormat(48000, 1), 480)});
    ASSERT_FALSE(outcome->error) << outcome->errorText().toStdString();
    EXPECT_EQ(outcome->updates, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Drain, LocalBackendResultsTest,
    ::testing::Values(ResultsCase{"FinalVolatileFinal",
                                  {{"A", true}, {"B", false}, {"C", true}},
                                  {TranscriptUpdate::partial("A"), TranscriptUpdate::partial("A B"),
                                   TranscriptUpdate::partial("A C"), TranscriptUpdate::final("A C")}},
                      ResultsCase{"VolatileFirstHasNoLeadingSpace",
                                  {{"hel", false}, {"hello", true}},
                                  {TranscriptUpdate::partial("hel"), TranscriptUpdate::partial("hello"),
                                   TranscriptUpdate::final("hello")}},
                      ResultsCase{"EmptyFinalAddsASpaceThatTrimmingRemoves",
                                  {{"A", true}, {"", true}},
                                  {TranscriptUpdate::partial("A"), TranscriptUpdate::partial("A "),
                                   TranscriptUpdate::final("A")}},
                      ResultsCase{"OnlyVolatileGivesAnEmptyFinal",
                                  {{"maybe", false}},
                                  {TranscriptUpdate::partial("maybe"), TranscriptUpdate::final("")}},
                      ResultsCase{"SpacesAndTabsAreTrimmedLineBreaksAreNot",
                                  {{"\t line one\nline two\n \t", true}},
                                  {TranscriptUpdate::partial("\t line one\nline two\n \t"),
                                   TranscriptUpdate::final("line one\nline two\n")}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(LocalBackendTest, TheCLocaleOfAMinimalSessionFollowsEnglish)
{
    // With LANG unset the system locale is "C"; asking the recogniser for "C" failed every take.
    currentLocale = QLocale::c();
    recognizer->equivalents.insert("en_US", "en-US");
    auto outcome = runStream({buffer(audioFormat(16000, 1), 160)});
    ASSERT_FALSE(outcome->error) << outcome->errorText().toStdString();
    EXPECT_EQ(recognizer->calls(), QStringList{"analyzer en-US"});
}

TEST_F(LocalBackendTest, LocaleIsResolvedAndAnyOtherLocaleIsTried)
{
    recognizer->equivalents.insert("en_GB", "en-US");
    auto outcome = runStream({buffer(audioFormat(16000, 1), 160)});
    ASSERT_FALSE(outcome->error) << outcome->errorText().toStdString();
    EXPECT_EQ(recognizer->calls(), QStringList{"analyzer en-US"}) << "auto follows the current locale's equivalent";

    // Not supported and without an equivalent: used as requested, and its model must be installed.
    // When it cannot be, the take fails as an unavailable engine, which tells the user to choose a
    // supported language rather than reporting a broken transcription.
    recognizer->installError = rt::makeError("no model for this language");
    outcome = runStream({buffer(audioFormat(16000, 1), 160)}, "de");
    EXPECT_EQ(transcriptionIncidentPresentation(outcome->errorText(), "local").code, "ZQ-TX-LOCAL-UNAVAILABLE")
        << outcome->errorText().toStdString();
    EXPECT_TRUE(outcome->errorText().contains("of German isn")) << "the language is named";
    EXPECT_TRUE(outcome->updates.empty()) << "nothing follows or precedes an error";
    EXPECT_EQ(recognizer->calls().last(), "install de");
    EXPECT_EQ(recognizer->analyzers().size(), 1u) << "no analyzer after a failed installation";

    recognizer->installError.reset();
    outcome = runStream({buffer(audioFormat(16000, 1), 160)}, "fr");
    EXPECT_FALSE(outcome->error);
    EXPECT_EQ(recognizer->calls().mid(2), (QStringList{"install fr", "analyzer fr"}));
}

TEST_F(LocalBackendTest, DictionaryBecomesOneGeneralContextBeforeTheStart)
{
    runStream({buffer(audioFormat(16000, 1), 160)});
    EXPECT_FALSE(recognizer->lastAnalyzer()->calls().contains("setContext")) << "an empty dictionary sets nothing";

    runStream({buffer(audioFormat(16000, 1), 160)}, "auto", {" Quorvane", "ZEPA", "ZEPA"});
    const auto calls = recognizer->lastAnalyzer()->calls();
    ASSERT_GE(calls.size(), 2);
    EXPECT_EQ(calls.mid(0, 2), (QStringList{"setContext", "start"}));
    platform::AnalysisContext expected;
    expected.contextualStrings.insert("general", {" Quorvane", "ZEPA", "ZEPA"});
    EXPECT_EQ(recognizer->lastAnalyzer()->context(), expected) << "words passed on unchanged";
}

TEST_F(LocalBackendTest, BuffersAreConvertedOnlyWhenTheirFormatDiffers)
{
    const auto mono16 = buffer(audioFormat(16000, 1), 1600);
    const auto stereo48 = buffer(audioFormat(48000, 2), 4800);

    // No preferred format: everything goes in as captured.
    auto outcome = runStream({mono16, stereo48});
    EXPECT_FALSE(outcome->error);
    auto fed = recognizer->lastAnalyzer()->fed();
    ASSERT_EQ(fed.size(), 2u);
    EXPECT_EQ(fed[0], mono16);
    EXPECT_EQ(fed[1], stereo48);

    recognizer->preferredFormat = audioFormat(16000, 1);
    outcome = runStream({mono16, stereo48, stereo48});
    EXPECT_FALSE(outcome->error);
    fed = recognizer->lastAnalyzer()->fed();
    ASSERT_GE(fed.size(), 2u);
    EXPECT_EQ(fed[0], mono16) << "already in the analyzer's format: handed on without a copy";
    std::uint32_t converted = 0;
    for (std::size_t i = 1; i < fed.size(); ++i) {
        EXPECT_EQ(fed[i]->format(), audioFormat(16000, 1));
        converted += fed[i]->frameLength();
    }
    EXPECT_EQ(converted, 3200u) << "two 0.1 s stereo blocks at 48 kHz become 0.2 s of 16 kHz mono, tail included";
}

TEST_F(LocalBackendTest, NoAudioFailsWithTheMicSentence)
{
    auto outcome = runStream({});
    EXPECT_EQ(outcome->errorText(), "No audio captured — check the mic");
    EXPECT_TRUE(outcome->updates.empty());
    EXPECT_TRUE(recognizer->lastAnalyzer()->isCancelled());
    EXPECT_FALSE(recognizer->lastAnalyzer()->calls().contains("finalize"));

    QTemporaryDir dir;
    for (const QString &path : {dir.filePath("missing.wav"), dir.filePath("empty.wav"), dir.filePath("text.wav")}) {
        if (path.endsWith("text.wav")) {
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write("definitely not a wave file");
        } else if (path.endsWith("empty.wav")) {
            ASSERT_TRUE(platform::AudioFile::createForWriting(path, audioFormat(16000, 1)).value()->close());
        }
        auto fileOutcome = run(AudioSource::file(path));
        ASSERT_TRUE(settle([&] { return fileOutcome->done; }));
        EXPECT_EQ(fileOutcome->errorText(), "No audio captured — check the mic") << path.toStdString();
    }
}

TEST_F(LocalBackendTest, RecordingFileIsReadWholeInBlocks)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("kept.wav");
    {
        auto file = platform::AudioFile::createForWriting(path, audioFormat(16000, 1)).value();
        ASSERT_TRUE(file->write(*buffer(audioFormat(16000, 1), 20000)));
    }
    recognizer->preferredFormat = audioFormat(16000, 1);
    recognizer->configureAnalyzer = [](test::FakeSpeechAnalyzer &a) { a.resultsAtFinalize = {{"kept", true}}; };
    auto outcome = run(AudioSource::file(path));
    ASSERT_TRUE(settle([&] { return outcome->done; }));
    ASSERT_FALSE(outcome->error) << outcome->errorText().toStdString();
    EXPECT_EQ(outcome->updates.back(), TranscriptUpdate::final("kept"));
    std::vector<std::uint32_t> lengths;
    for (const auto &b : recognizer->lastAnalyzer()->fed())
        lengths.push_back(b->frameLength());
    EXPECT_EQ(lengths, (std::vector<std::uint32_t>{8192, 8192, 3616}));
}

TEST_F(LocalBackendTest, RecogniserFailuresArePassedOnUnchanged)
{
    recognizer->available = false;
    EXPECT_EQ(runStream({buffer(audioFormat(16000, 1), 10)})->errorText(),
              "On-device transcription isn't available on this computer.");
    recognizer->available = true;

    recognizer->assetQueryError = rt::makeError("asset query broke");
    EXPECT_EQ(runStream({buffer(audioFormat(16000, 1), 10)})->errorText(), "asset query broke");
    recognizer->assetQueryError.reset();

    recognizer->configureAnalyzer = [](test::FakeSpeechAnalyzer &a) { a.setContextError = rt::makeError("no ctx"); };
    EXPECT_EQ(runStream({buffer(audioFormat(16000, 1), 10)}, "auto", {"word"})->errorText(), "no ctx");

    recognizer->configureAnalyzer = [](test::FakeSpeechAnalyzer &a) { a.startError = rt::makeError("no start"); };
    EXPECT_EQ(runStream({buffer(audioFormat(16000, 1), 10)})->errorText(), "no start");

    recognizer->configureAnalyzer = [](test::FakeSpeechAnalyzer &a) {
        a.finalizeError = rt::makeError("finalize broke");
    };
    auto outcome = runStream({buffer(audioFormat(16000, 1), 10)});
    EXPECT_EQ(outcome->errorText(), "finalize broke");
    EXPECT_TRUE(recognizer->lastAnalyzer()->isCancelled());

    // A broken result sequence: partials before it stay, no final follows.
    recognizer->configureAnalyzer = [](test::FakeSpeechAnalyzer &a) { a.holdFinalize = true; };
    rt::AsyncChannel<SharedPCMBuffer> source;
    source.send(buffer(audioFormat(16000, 1), 10));
    outcome = run(AudioSource::stream(source, audioFormat(16000, 1)));
    ASSERT_TRUE(settle([&] { return recognizer->analyzers().size() == 4; }));
    auto analyzer = recognizer->lastAnalyzer();
    analyzer->emitResult({"so far", false});
    analyzer->failResults(rt::makeError("results broke"));
    source.finish();
    ASSERT_TRUE(settle([&] { return analyzer->calls().contains("finalize"); }));
    analyzer->releaseFinalize();
    ASSERT_TRUE(settle([&] { return outcome->done; }));
    EXPECT_EQ(outcome->errorText(), "results broke");
    EXPECT_EQ(outcome->updates, std::vector<TranscriptUpdate>{TranscriptUpdate::partial("so far")});
}

TEST_F(LocalBackendTest, ConsumerStoppingEndsTheWorkAtOnce)
{
    // Cancelled while live audio still streams.
    rt::AsyncChannel<SharedPCMBuffer> source;
    source.send(buffer(audioFormat(16000, 1), 160));
    auto outcome = run(AudioSource::stream(source, audioFormat(16000, 1)));
    ASSERT_TRUE(
        settle([&] { return !recognizer->analyzers().empty() && recognizer->lastAnalyzer()->fed().size() == 1; }));
    recognizer->lastAnalyzer()->emitResult({"go", false});
    loop.runUntilIdle();
    consumer.cancel(); // the controller gives up on the take
    loop.runUntilIdle();
    EXPECT_TRUE(recognizer->lastAnalyzer()->isCancelled());
    EXPECT_FALSE(source.send(buffer(audioFormat(16000, 1), 160))) << "the live stream is no longer read";

    // Cancelled while the analyzer is finalising: the wait ends at once too.
    recognizer->configureAnalyzer = [](test::FakeSpeechAnalyzer &a) { a.holdFinalize = true; };
    outcome = runStream({});
    rt::AsyncChannel<SharedPCMBuffer> second;
    second.send(buffer(audioFormat(16000, 1), 160));
    second.finish();
    outcome = run(AudioSource::stream(second, audioFormat(16000, 1)));
    ASSERT_TRUE(settle([&] { return recognizer->lastAnalyzer()->calls().contains("finalize"); }));
    consumer.cancel();
    loop.runUntilIdle();
    EXPECT_TRUE(recognizer->lastAnalyzer()->isCancelled()) << "a held finalisation must not keep the analyzer running";
    EXPECT_TRUE(outcome->done);
}

TEST_F(LocalBackendTest, AStoppedStreamEndsTheAnalysisBeforeTheLoopRunsAgain)
{
    // At quit the loop may never run again: what the recogniser's threads do after the stop must
    // not post to it, whether it streamed or was finalising.
    recognizer->configureAnalyzer = [](test::FakeSpeechAnalyzer &a) { a.holdFinalize = true; };
    for (const bool finalizing : {false, true}) {
        SCOPED_TRACE(finalizing ? "finalizing" : "streaming");
        rt::AsyncChannel<SharedPCMBuffer> source;
        source.send(buffer(audioFormat(16000, 1), 160));
        if (finalizing)
            source.finish();
        run(AudioSource::stream(source, audioFormat(16000, 1)));
        ASSERT_TRUE(settle([&] {
            return !recognizer->analyzers().empty() &&
                   recognizer->lastAnalyzer()->calls().contains(finalizing ? "finalize" : "feed");
        }));
        const std::shared_ptr<test::FakeSpeechAnalyzer> analyzer = recognizer->lastAnalyzer();
        channel.cancel();
        EXPECT_TRUE(analyzer->isCancelled());
        const int pending = loop.pendingCount();
        analyzer->emitResult({"late", false});
        EXPECT_EQ(loop.pendingCount(), pending) << "a late result woke the loop";
        loop.runUntilIdle();
    }
}

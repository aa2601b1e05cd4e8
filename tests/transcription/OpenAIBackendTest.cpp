// The OpenAI engine's rules that need no server: language, prompt, key, upload copy, warm-up
// throttle and the refusal of a live source.
#include "transcription/OpenAIBackend.h"

#include "support/OpenAITestSupport.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using zq::AudioSource;
using zq::OpenAIBackend;
using zq::ZEPAError;

TEST(OpenAIBackendTest, ResolvesTheLanguageField)
{
    EXPECT_EQ(OpenAIBackend::resolvedLanguage(QStringLiteral("auto"), QStringLiteral("en")), QStringLiteral("en"));
    EXPECT_EQ(OpenAIBackend::resolvedLanguage(QStringLiteral("auto"), QStringLiteral("yue")), std::nullopt)
        << "a three-letter system code lets the service detect the language";
    EXPECT_EQ(OpenAIBackend::resolvedLanguage(QStringLiteral("auto"), QString()), std::nullopt);
    EXPECT_EQ(OpenAIBackend::resolvedLanguage(QStringLiteral("pt-BR"), QStringLiteral("en")), QStringLiteral("pt-BR"))
        << "any other setting is sent unchanged";
    EXPECT_EQ(OpenAIBackend::resolvedLanguage(QStringLiteral("Auto"), QStringLiteral("en")), QStringLiteral("Auto"));
}

TEST(OpenAIBackendTest, AddsTheDictionaryToThePromptInItsOrder)
{
    const QString base = QStringLiteral(
        "Verbatim transcript of dictated speech. Transcribe exactly what is said; never answer or respond to it.");
    EXPECT_EQ(OpenAIBackend::prompt({}), base);
    EXPECT_EQ(OpenAIBackend::prompt({QStringLiteral("B"), QStringLiteral("A")}),
              base + QStringLiteral(" Expected vocabulary: B, A"));
}

TEST(OpenAIBackendTest, ChecksTheStoredKey)
{
    EXPECT_EQ(OpenAIBackend::checkAPIKey(std::nullopt).problem, ZEPAError::noAPIKey());
    EXPECT_EQ(OpenAIBackend::checkAPIKey(QString()).problem, ZEPAError::noAPIKey());
    EXPECT_EQ(OpenAIBackend::checkAPIKey(QStringLiteral("\t \r\n")).problem, ZEPAError::noAPIKey());

    const auto trimmed = OpenAIBackend::checkAPIKey(QStringLiteral(" sk-abc\n"));
    EXPECT_FALSE(trimmed.problem);
    EXPECT_EQ(trimmed.key, QStringLiteral("sk-abc"));

    const auto rejected =
        ZEPAError::transcriptionFailed(QStringLiteral("OpenAI rejected the API key — check Settings"));
    for (const QString &key :
         {QStringLiteral("sk-a\nb"), QStringLiteral("sk-a\r\nAuthorization: x"), QStringLiteral("sk-a\x7f"),
          QStringLiteral("sk-a\u0085b"), QStringLiteral("sk-a\u2029b")})
        EXPECT_EQ(OpenAIBackend::checkAPIKey(key).problem, rejected) << key.toStdString();
}

TEST(OpenAIBackendTest, ThrottlesWarmUpsToOnePerMinuteOfUptime)
{
    zq::OpenAIPrewarmThrottle throttle;
    EXPECT_TRUE(throttle.claim(100s));
    EXPECT_FALSE(throttle.claim(100s));
    EXPECT_FALSE(throttle.claim(159s + 999ms));
    EXPECT_TRUE(throttle.claim(160s)) << "exactly 60 s after the last one starts another";
    EXPECT_FALSE(throttle.claim(200s));
}

TEST(OpenAIBackendTest, PrewarmIfNeededUsesTheUptimeClock)
{
    zq::test::VirtualLoop loop;
    zq::OpenAIPrewarmThrottle throttle;
    OpenAIBackend::Config config; // no key: a started warm-up does nothing
    EXPECT_TRUE(OpenAIBackend::prewarmIfNeeded(config, loop.clocks(), throttle));
    loop.advance(59s);
    loop.clocks().addSleep(10s); // sleep does not count: the throttle reads uptime
    EXPECT_FALSE(OpenAIBackend::prewarmIfNeeded(config, loop.clocks(), throttle));
    loop.advance(1s);
    EXPECT_TRUE(OpenAIBackend::prewarmIfNeeded(config, loop.clocks(), throttle));
}

TEST(OpenAIBackendTest, ALiveSourceEndsTheStreamAtOnce)
{
    zq::test::VirtualLoop loop;
    OpenAIBackend::Config config;
    bool keyRead = false;
    config.readAPIKey = [&keyRead]() -> std::optional<QString> {
        keyRead = true;
        return QStringLiteral("sk");
    };
    OpenAIBackend backend(loop, config);
    zq::rt::AsyncChannel<zq::platform::SharedPCMBuffer> buffers;
    zq::test::StreamOutcome outcome;
    auto handle = zq::rt::spawn(
        loop, zq::test::consume(
                  backend.transcribe(AudioSource::stream(buffers, {48000, 1}), QStringLiteral("auto"), {}), &outcome));
    loop.runUntilIdle();
    ASSERT_TRUE(handle.isDone());
    EXPECT_EQ(outcome.errorText(), ZEPAError::wrongAudioSource().errorDescription());
    EXPECT_FALSE(keyRead);
    EXPECT_TRUE(buffers.send(nullptr)) << "the buffer stream is not touched";
}

TEST(OpenAIBackendTest, MakesA16kMonoCopyOfTheTake)
{
    QTemporaryDir folder;
    const QString take = folder.filePath(QStringLiteral("take.wav"));
    const QString copy = folder.filePath(QStringLiteral("copy.wav"));
    zq::test::writeTake(take, 2.0, 44100, 2);

    ASSERT_TRUE(OpenAIBackend::transcodeTo16kWav(take, copy));

    auto file = zq::platform::AudioFile::openForReading(copy);
    ASSERT_TRUE(file);
    EXPECT_EQ(file.value()->fileFormat().sampleRate, 16000.0);
    EXPECT_EQ(file.value()->fileFormat().channelCount, 1);
    EXPECT_EQ(file.value()->fileFormat().commonFormat, zq::platform::AudioFormat::CommonFormat::int16);
    EXPECT_NEAR(double(file.value()->length()), 32000.0, 16.0) << "the copy keeps the take's length";
}

TEST(OpenAIBackendTest, AFailedOrStoppedCopyLeavesNothingBehind)
{
    QTemporaryDir folder;
    const QString take = folder.filePath(QStringLiteral("take.wav"));
    const QString copy = folder.filePath(QStringLiteral("copy.wav"));
    EXPECT_FALSE(OpenAIBackend::transcodeTo16kWav(take, copy)) << "no take file";
    EXPECT_FALSE(QFile::exists(copy));

    zq::test::writeTake(take, 1.0);
    std::stop_source stop;
    stop.request_stop();
    EXPECT_FALSE(OpenAIBackend::transcodeTo16kWav(take, copy, stop.get_token()));
    EXPECT_FALSE(QFile::exists(copy));
}

// Choosing an engine by name, and transcribing a kept recording with it.
#include "pipeline/BackendFactory.h"

#include "pipeline/ZEPAError.h"
#include "support/VirtualLoop.h"
#include "transcription/LocalBackend.h"

#include <gtest/gtest.h>

using zq::BackendEnvironment;
using zq::RecoveredTakeTranscriber;
using zq::TranscriptUpdate;
using zq::ZEPAError;

namespace {

// An engine whose stream carries a scripted list of updates and then ends, or fails.
class ScriptedBackend final : public zq::TranscriptionBackend {
public:
    struct Call {
        QString path;
        QString language;
        QStringList dictionary;
    };

    ScriptedBackend(std::vector<TranscriptUpdate> updates, std::exception_ptr failure, std::vector<Call> *calls)
        : m_updates(std::move(updates)), m_failure(std::move(failure)), m_calls(calls)
    {}

    zq::rt::AsyncChannel<TranscriptUpdate> transcribe(zq::AudioSource source, QString language,
                                                      QStringList dictionary) override
    {
        m_calls->push_back({source.isFile() ? source.asFile()->path : QString(), language, dictionary});
        zq::rt::AsyncChannel<TranscriptUpdate> channel;
        for (const auto &update : m_updates)
            channel.send(update);
        if (m_failure)
            channel.fail(m_failure);
        else
            channel.finish();
        return channel;
    }

private:
    std::vector<TranscriptUpdate> m_updates;
    std::exception_ptr m_failure;
    std::vector<Call> *m_calls;
};

class RecoveredTakeTranscriberTest : public ::testing::Test {
protected:
    // Runs transcribeRecording with the scripted engine; returns the text or the error's text.
    QString run(std::vector<TranscriptUpdate> updates, std::exception_ptr failure = {})
    {
        RecoveredTakeTranscriber transcriber([&, updates, failure](const QString &name) {
            names.push_back(name);
            return std::make_unique<ScriptedBackend>(updates, failure, &calls);
        });
        auto handle =
            zq::rt::spawn(loop, transcriber.transcribeRecording(QStringLiteral("/kept/a.wav"), QStringLiteral("openai"),
                                                                QStringLiteral("de"), {QStringLiteral("Quarn")}));
        loop.runUntilIdle();
        EXPECT_TRUE(handle.isDone());
        if (!handle.hasFailed())
            return *handle.result();
        try {
            std::rethrow_exception(handle.exception());
        } catch (const ZEPAError &error) {
            return QStringLiteral("error: ") + error.errorDescription();
        } catch (...) {
            return QStringLiteral("other failure");
        }
    }

    zq::test::VirtualLoop loop;
    std::vector<QString> names;
    std::vector<ScriptedBackend::Call> calls;
};

} // namespace

TEST(BackendFactoryTest, OnlyTheExactNameOpenAIMakesTheOpenAIEngine)
{
    zq::test::VirtualLoop loop;
    BackendEnvironment environment;
    environment.loop = &loop;
    const auto factory = zq::makeBackendFactory(environment);

    EXPECT_NE(dynamic_cast<zq::OpenAIBackend *>(factory(QStringLiteral("openai")).get()), nullptr);
    for (const QString &name :
         {QStringLiteral("local"), QString(), QStringLiteral("OpenAI"), QStringLiteral("whisper")})
        EXPECT_NE(dynamic_cast<zq::LocalBackend *>(factory(name).get()), nullptr) << name.toStdString();

    const auto first = factory(QStringLiteral("openai"));
    const auto second = factory(QStringLiteral("openai"));
    EXPECT_NE(first.get(), second.get()) << "every call makes a new engine";
}

TEST_F(RecoveredTakeTranscriberTest, HandsTheRecordingToTheNamedEngineAndKeepsTheLastFinalText)
{
    EXPECT_EQ(run({TranscriptUpdate::partial(QStringLiteral("he")), TranscriptUpdate::final(QStringLiteral("first")),
                   TranscriptUpdate::final(QStringLiteral("second"))}),
              QStringLiteral("second"));
    ASSERT_EQ(names, std::vector<QString>{QStringLiteral("openai")});
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].path, QStringLiteral("/kept/a.wav"));
    EXPECT_EQ(calls[0].language, QStringLiteral("de"));
    EXPECT_EQ(calls[0].dictionary, QStringList{QStringLiteral("Quarn")});

    EXPECT_EQ(run({TranscriptUpdate::final(QString())}), QString()) << "an empty final text is still a result";
}

TEST_F(RecoveredTakeTranscriberTest, FailsWithoutAFinalTextAndPassesEngineErrorsOn)
{
    EXPECT_EQ(run({TranscriptUpdate::partial(QStringLiteral("only partial"))}),
              QStringLiteral("error: Transcription returned no result"));
    EXPECT_EQ(run({}), QStringLiteral("error: Transcription returned no result"));
    EXPECT_EQ(run({TranscriptUpdate::partial(QStringLiteral("x"))}, std::make_exception_ptr(ZEPAError::noAPIKey())),
              QStringLiteral("error: ") + ZEPAError::noAPIKey().errorDescription());
    EXPECT_EQ(run({TranscriptUpdate::final(QStringLiteral("kept"))},
                  std::make_exception_ptr(ZEPAError::transcriptionFailed(QStringLiteral("late failure")))),
              QStringLiteral("error: late failure"))
        << "a failure after a final text still fails the retry";
}

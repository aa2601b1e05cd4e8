#include "transcription/TranscriptCleanup.h"

#include "support/FakeLanguageModel.h"
#include "support/VirtualLoop.h"

#include <gtest/gtest.h>

using namespace zq;

namespace {

QString words(int count)
{
    QStringList list;
    for (int i = 0; i < count; ++i)
        list.append(QStringLiteral("w%1").arg(i));
    return list.join(QLatin1Char(' '));
}

class TranscriptCleanupTest : public ::testing::Test {
protected:
    QString clean(const QString &transcript, const QStringList &vocabulary = {})
    {
        TranscriptCleanup cleanup(model, loop.clocks());
        auto task = rt::spawn(loop, cleanup.clean(transcript, vocabulary));
        EXPECT_TRUE(loop.runUntil([&] { return task.isDone(); }));
        return task.isDone() && !task.hasFailed() ? *task.result() : QStringLiteral("<not done>");
    }

    test::VirtualLoop loop;
    std::shared_ptr<test::FakeLanguageModel> model = std::make_shared<test::FakeLanguageModel>();
};

} // namespace

TEST(TranscriptCleanupRulesTest, WordsAreCountedAcrossAllUnicodeWhitespace)
{
    EXPECT_EQ(splitWords("a\nb\tc").size(), 3);
    EXPECT_EQ(splitWords("  a   b  \n").size(), 2);
    EXPECT_EQ(splitWords(QString::fromUtf8("a\u00a0b\u2003c\u3000d\u2028e\u0085f")).size(), 6);
    EXPECT_TRUE(splitWords(" \t\n").isEmpty());
    EXPECT_EQ(splitWords(QString::fromUtf8("naïve 😀 ok")), (QStringList{QString::fromUtf8("naïve"), "😀", "ok"}));

    EXPECT_FALSE(TranscriptCleanup::shouldClean(words(19), true));
    EXPECT_TRUE(TranscriptCleanup::shouldClean(words(20), true));
    EXPECT_FALSE(TranscriptCleanup::shouldClean(words(50), false));
}

TEST(TranscriptCleanupRulesTest, PreambleIsStrippedOnlyAtTheStart)
{
    EXPECT_EQ(TranscriptCleanup::stripPreamble("Here's the cleaned-up text: Hello there."), "Hello there.");
    EXPECT_EQ(TranscriptCleanup::stripPreamble("HERE IS YOUR POLISHED TRANSCRIPT:\nHello"), "Hello");
    EXPECT_EQ(TranscriptCleanup::stripPreamble("Cleaned text: Hello"), "Hello");
    EXPECT_EQ(TranscriptCleanup::stripPreamble("  here are the edited up version :  Hi "), "Hi");
    EXPECT_EQ(TranscriptCleanup::stripPreamble(" Note: here is the cleaned text: Hello \n"),
              "Note: here is the cleaned text: Hello");
    EXPECT_EQ(TranscriptCleanup::stripPreamble("The cleaned text is fine."), "The cleaned text is fine.");
    EXPECT_EQ(TranscriptCleanup::stripPreamble("Corrected transcript:"), "");
}

TEST(TranscriptCleanupRulesTest, VocabularyLineFollowsTheInstructions)
{
    EXPECT_EQ(TranscriptCleanup::instructions.toUtf8().size(), 442);
    EXPECT_EQ(TranscriptCleanup::sessionInstructions({}), TranscriptCleanup::instructions);
    EXPECT_EQ(TranscriptCleanup::sessionInstructions({"Quorvane", " ZEPA"}),
              TranscriptCleanup::instructions + "\nPreserve these exact spellings when they appear: Quorvane,  ZEPA.");
}

TEST_F(TranscriptCleanupTest, KeepsTheAnswerOnlyWhenFewWordsWereLost)
{
    const QString input = words(20);
    model->answer = QStringLiteral("Here is the cleaned text: ") + words(12);
    EXPECT_EQ(clean(input, {"Quorvane"}), words(12)) << "120 >= 120: kept, preamble gone";
    EXPECT_EQ(model->prompts().last(), input) << "the transcript itself is the prompt";
    EXPECT_TRUE(model->sessionInstructions().last().endsWith("appear: Quorvane."));

    model->answer = words(11);
    EXPECT_EQ(clean(input), input) << "110 < 120: the original comes back";
    model->answer = QStringLiteral("");
    EXPECT_EQ(clean(input), input);
    model->answer = QStringLiteral("Polished output:  ");
    EXPECT_EQ(clean(input), input) << "only a preamble";
    model->answer = rt::makeError("model busy");
    EXPECT_EQ(clean(input), input);
    EXPECT_EQ(model->sessionInstructions().size(), 5) << "one fresh session per transcript";
}

TEST_F(TranscriptCleanupTest, UnavailableModelReturnsTheInputWithoutASession)
{
    model->available = {false, "modelNotReady"};
    EXPECT_EQ(clean(words(30)), words(30));
    EXPECT_TRUE(model->sessionInstructions().isEmpty());
}

// The on-device cleanup's rules: what they change, and the texts they must leave alone.
#include "transcription/RuleBasedCleanupModel.h"

#include "support/VirtualLoop.h"
#include "transcription/TranscriptCleanup.h"

#include <gtest/gtest.h>

using namespace zq;

TEST(RuleBasedCleanupModelTest, RulesChangeOnlyWhatTheyAreSureOf)
{
    struct Case {
        const char *input;
        const char *cleaned;
        QStringList vocabulary = {};
    };
    const std::vector<Case> cases{
        // Sentence case, "I", the closing full stop.
        {"go forward ten meters", "Go forward ten meters."},
        {"i think i'm right. then i'll go", "I think I'm right. Then I'll go."},
        {"is it ready? yes! it is", "Is it ready? Yes! It is."},
        {"  leading space kept", "  Leading space kept."},
        // Fillers, alone and with their punctuation.
        {"um so uh we start", "So we start."},
        {"so, um, we start", "So, we start."},
        {"I think, erm.", "I think."},
        {"the error was er harmless", "The error was harmless."},
        {"umbrella under the ermine", "Umbrella under the ermine."},
        // Repeats said straight after each other.
        {"the the cat sat sat down", "The cat sat down."},
        {"No, no, not that", "No, no, not that."},
        {"he had had enough of that that way", "He had had enough of that that way."},
        {"The the.", "The."},
        // Vocabulary spellings, whole words, any case; longer entries first.
        {"ask zepa quarn about kubernetes", "Ask ZEPA QUARN about Kubernetes.", {"Kubernetes", "ZEPA QUARN", "ZEPA"}},
        {"kubectl runs. kubectl stops", "kubectl runs. kubectl stops.", {"kubectl"}},
        {"use node.js, not nodejs", "Use Node.js, not nodejs.", {"Node.js"}},
        {"zepa, quarn", "ZEPA, quarn.", {"ZEPA QUARN", "ZEPA"}},
        // Left alone: punctuated text, a lone filler answer, numbers, addresses, mixed case.
        {"Hello there. How are you?", "Hello there. How are you?"},
        {"Um.", "Um."},
        {"um uh", "um uh"},
        {"42", "42"},
        {"3.5 million in 2024, up 12%", "3.5 million in 2024, up 12%."},
        {"see https://example.com/a?b=1", "See https://example.com/a?b=1"},
        {"example.com is up", "example.com is up."},
        {"mail me@example.org", "Mail me@example.org"},
        {"iPhone sales rose. eBay fell", "iPhone sales rose. eBay fell."},
        {"e.g. this one", "e.g. this one."},
        {"ask dr. smith", "Ask dr. smith."},
        {"a list:\nfirst item", "A list:\nfirst item."},
        {"", ""},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(RuleBasedCleanupModel::clean(QString::fromUtf8(c.input), c.vocabulary), QString::fromUtf8(c.cleaned))
            << c.input;
    }
}

TEST(RuleBasedCleanupModelTest, ALongTakeIsCleanedThroughTheCleanupAndAShortOneIsNot)
{
    test::VirtualLoop loop;
    TranscriptCleanup cleanup(std::make_shared<RuleBasedCleanupModel>(), loop.clocks());
    const auto clean = [&](const QString &text, const QStringList &vocabulary) {
        auto task = rt::spawn(loop, cleanup.clean(text, vocabulary));
        EXPECT_TRUE(loop.runUntil([&] { return task.isDone(); }));
        return task.isDone() ? *task.result() : QString();
    };
    EXPECT_TRUE(RuleBasedCleanupModel().availability().isAvailable);

    const QString take = QStringLiteral("um so the the quarterly numbers for zepa look good and i think we should "
                                        "ship the release on friday after the review with the whole team");
    ASSERT_TRUE(TranscriptCleanup::shouldClean(take, true));
    EXPECT_EQ(clean(take, {QStringLiteral("ZEPA")}),
              "So the quarterly numbers for ZEPA look good and I think we should ship the release on friday after "
              "the review with the whole team.");
    EXPECT_FALSE(TranscriptCleanup::shouldClean(QStringLiteral("go forward ten meters"), true))
        << "a short take is delivered as recognised";
    EXPECT_FALSE(TranscriptCleanup::shouldClean(take, false));
}

#pragma once

#include "platform/LanguageModel.h"
#include "runtime/Clocks.h"
#include "runtime/Task.h"

#include <QString>
#include <QStringList>

#include <memory>

namespace zq {

// The words of a text: maximal runs of characters that are not Unicode whitespace.
QStringList splitWords(const QString &text);

// Tidies a long on-device transcript with the on-device language model: filler words out,
// punctuation in, the user's vocabulary spelled as given. It never loses or blocks a transcript:
// every failure, and an answer that dropped more than 40 % of the words, gives back the input.
class TranscriptCleanup {
public:
    static constexpr int minimumWordCount = 20;
    static const QString instructions;

    TranscriptCleanup(std::shared_ptr<platform::LanguageModel> model, const rt::Clocks &clocks);

    // Whether a transcript is worth cleaning: cleanup enabled and at least 20 words.
    static bool shouldClean(const QString &transcript, bool cleanupEnabled);
    // The session's instructions: the fixed text, then the vocabulary line when there are words.
    static QString sessionInstructions(const QStringList &vocabulary);
    // The answer without a leading "Here is the cleaned text:"-style label, trimmed.
    static QString stripPreamble(const QString &answer);

    // The text to deliver. The model answers on a worker thread; the task resumes on its loop.
    rt::Task<QString> clean(QString transcript, QStringList vocabulary) const;

private:
    std::shared_ptr<platform::LanguageModel> m_model;
    const rt::Clocks &m_clocks;
};

} // namespace zq

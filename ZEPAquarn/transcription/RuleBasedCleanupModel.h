#pragma once

#include "platform/LanguageModel.h"

#include <QStringList>

namespace zq {

// The on-device cleanup. There is no language model on this system, so a few rules stand
// in for one; each changes only what it is sure of:
// - "um", "uh", "erm" and "er" standing alone are removed (a transcript of nothing else is kept);
// - a word said twice in a row is said once ("the the" -> "the"; not "had had" or "that that");
// - a standalone "i" (also "i'm", "i've", "i'll", "i'd") is written "I";
// - the vocabulary's entries get their spelling and capitals (whole words, any case);
// - a sentence starts with a capital: the first word and the one after a full stop, question or
//   exclamation mark, when the word is all lower case and no web address;
// - a text that ends without punctuation gets a full stop.
// Numbers, web addresses and words in mixed case are never changed. Always available; sessions
// answer at once, on the calling thread.
class RuleBasedCleanupModel final : public platform::LanguageModel {
public:
    platform::LanguageModelAvailability availability() const override;
    std::unique_ptr<platform::LanguageModelSession> makeSession(const QString &instructions,
                                                                const QStringList &vocabulary) override;

    // The rules above, applied to one transcript.
    static QString clean(const QString &text, const QStringList &vocabulary);
};

} // namespace zq

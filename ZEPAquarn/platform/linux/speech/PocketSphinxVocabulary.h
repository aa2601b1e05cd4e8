#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

namespace zq::platform {

// The words of the user's dictionary as one take's decoder needs them: each word in the entry's
// own spelling, with the pronunciations the decoder must learn for it (none when the pronunciation
// dictionary knows the word as spelt, so only its language-model weight is raised).
struct PocketSphinxVocabulary {
    struct Word {
        QString text;
        QStringList pronunciations;
        friend bool operator==(const Word &, const Word &) = default;
    };
    std::vector<Word> words;

    // Multi-word entries are taken word by word; each word once. A word spelt as the pronunciation
    // dictionary has it is known; one it has only in another letter case borrows those
    // pronunciations; any other gets the one `pronounce` derives. A word made of anything but
    // letters (with apostrophes or hyphens inside), or that `pronounce` cannot say, is left out
    // with a debug line.
    static PocketSphinxVocabulary plan(const QStringList &entries,
                                       const std::function<QStringList(const QString &)> &knownPronunciations,
                                       const std::function<std::optional<QString>(const QString &)> &pronounce);

    QStringList texts() const;
    friend bool operator==(const PocketSphinxVocabulary &, const PocketSphinxVocabulary &) = default;
};

} // namespace zq::platform

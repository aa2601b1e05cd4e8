#include "platform/linux/speech/PocketSphinxVocabulary.h"

#include "runtime/Log.h"

#include <QRegularExpression>
#include <QSet>

namespace zq::platform {

namespace {

// Letters, with single apostrophes or hyphens between them ("O'Brien", "Jean-Luc"). Digits and
// other signs have no reading the recogniser could match reliably.
bool isSpeakable(const QString &word)
{
    static const QRegularExpression pattern(QStringLiteral("^\\p{L}+(?:['’-]\\p{L}+)*$"));
    return pattern.match(word).hasMatch();
}

} // namespace

PocketSphinxVocabulary
PocketSphinxVocabulary::plan(const QStringList &entries,
                             const std::function<QStringList(const QString &)> &knownPronunciations,
                             const std::function<std::optional<QString>(const QString &)> &pronounce)
{
    PocketSphinxVocabulary vocabulary;
    QSet<QString> seen;
    for (const QString &entry : entries) {
        for (const QString &word : entry.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts)) {
            if (seen.contains(word))
                continue;
            seen.insert(word);
            // Word contents stay out of the log: dictionary entries are the user's own.
            if (!isSpeakable(word)) {
                qCDebug(lcLocalBackend) << "dictionary word skipped — not letters only, no pronunciation";
                continue;
            }
            if (!knownPronunciations(word).isEmpty()) {
                vocabulary.words.push_back({word, {}});
                continue;
            }
            if (QStringList borrowed = knownPronunciations(word.toLower()); !borrowed.isEmpty()) {
                vocabulary.words.push_back({word, borrowed});
                continue;
            }
            if (std::optional<QString> derived = pronounce(word)) {
                vocabulary.words.push_back({word, {*derived}});
                continue;
            }
            qCDebug(lcLocalBackend) << "dictionary word skipped — no pronunciation could be derived";
        }
    }
    return vocabulary;
}

QStringList PocketSphinxVocabulary::texts() const
{
    QStringList texts;
    for (const Word &word : words)
        texts << word.text;
    return texts;
}

} // namespace zq::platform

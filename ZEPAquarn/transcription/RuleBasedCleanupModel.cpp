#include "transcription/RuleBasedCleanupModel.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <vector>

namespace zq {

namespace {

// One word of the text with what surrounds it: the whitespace before it, opening quotes or
// brackets, the word itself, and the punctuation after it.
struct Token {
    QString gap;
    QString lead;
    QString core;
    QString trail;
    bool spelledByVocabulary = false;
};

bool isOpening(QChar c)
{
    return QStringView(u"(\"'“‘«[{").contains(c);
}

bool isClosing(QChar c)
{
    return QStringView(u".,;:!?)\"'”’»]}…").contains(c);
}

bool endsSentence(QChar c)
{
    return c == QLatin1Char('.') || c == QLatin1Char('?') || c == QLatin1Char('!') || c == QChar(0x2026);
}

bool hasSentenceEnd(const QString &trail)
{
    return std::any_of(trail.begin(), trail.end(), endsSentence);
}

std::vector<Token> tokenize(const QString &text)
{
    std::vector<Token> tokens;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        const qsizetype gapStart = i;
        while (i < n && text[i].isSpace())
            ++i;
        if (i == n)
            break;
        const qsizetype start = i;
        while (i < n && !text[i].isSpace())
            ++i;
        qsizetype coreStart = start;
        qsizetype coreEnd = i;
        while (coreStart < coreEnd && isOpening(text[coreStart]))
            ++coreStart;
        while (coreEnd > coreStart && isClosing(text[coreEnd - 1]))
            --coreEnd;
        tokens.push_back(Token{text.mid(gapStart, start - gapStart), text.mid(start, coreStart - start),
                               text.mid(coreStart, coreEnd - coreStart), text.mid(coreEnd, i - coreEnd)});
    }
    return tokens;
}

bool isFiller(const QString &core)
{
    for (const char *filler : {"um", "uh", "erm", "er"}) {
        if (core.compare(QLatin1String(filler), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// Letters, with apostrophes inside ("don't"): the only words a repeat is removed from.
bool isPlainWord(const QString &core)
{
    if (core.isEmpty())
        return false;
    for (QChar c : core) {
        if (!c.isLetter() && c != QLatin1Char('\'') && c != QChar(0x2019))
            return false;
    }
    return true;
}

// Web and mail addresses, paths and dotted names ("example.com", "node.js") keep their case.
bool looksLikeAddress(const QString &core)
{
    if (core.contains(QLatin1String("://")) || core.contains(QLatin1Char('@')) || core.contains(QLatin1Char('/')))
        return true;
    for (qsizetype i = 1; i + 1 < core.size(); ++i) {
        if (core[i] == QLatin1Char('.') && core[i - 1].isLetterOrNumber() && core[i + 1].isLetter())
            return true;
    }
    return false;
}

bool isAllLowerCase(const QString &core)
{
    bool anyLetter = false;
    for (QChar c : core) {
        if (c.isUpper() || c.isTitleCase())
            return false;
        anyLetter = anyLetter || c.isLetter();
    }
    return anyLetter;
}

// A full stop after these does not end a sentence.
bool isAbbreviation(const QString &core)
{
    for (const char *abbreviation : {"e.g", "i.e", "vs", "mr", "mrs", "ms", "dr"}) {
        if (core.compare(QLatin1String(abbreviation), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// Said twice on purpose often enough to be left alone.
bool isGrammaticalRepeat(const QString &core)
{
    return core.compare(QLatin1String("had"), Qt::CaseInsensitive) == 0 ||
           core.compare(QLatin1String("that"), Qt::CaseInsensitive) == 0;
}

void removeFillers(std::vector<Token> &tokens)
{
    std::vector<Token> kept;
    kept.reserve(tokens.size());
    QString pendingGap;
    bool pending = false;
    for (Token &token : tokens) {
        if (isFiller(token.core)) {
            // "I think, um." keeps its full stop: it moves to the word before.
            if (!kept.empty() && hasSentenceEnd(token.trail) && !hasSentenceEnd(kept.back().trail)) {
                QString &trail = kept.back().trail;
                while (trail.endsWith(QLatin1Char(',')))
                    trail.chop(1);
                for (QChar c : token.trail) {
                    if (endsSentence(c))
                        trail.append(c);
                }
            }
            if (!pending)
                pendingGap = token.gap;
            pending = true;
            continue;
        }
        if (pending) {
            token.gap = pendingGap;
            pending = false;
        }
        kept.push_back(std::move(token));
    }
    tokens = std::move(kept);
}

void removeRepeats(std::vector<Token> &tokens)
{
    std::vector<Token> kept;
    kept.reserve(tokens.size());
    for (Token &token : tokens) {
        if (!kept.empty()) {
            Token &previous = kept.back();
            if (previous.trail.isEmpty() && token.lead.isEmpty() && isPlainWord(token.core) &&
                token.core.compare(previous.core, Qt::CaseInsensitive) == 0 && !isGrammaticalRepeat(token.core)) {
                previous.trail = token.trail;
                continue;
            }
        }
        kept.push_back(std::move(token));
    }
    tokens = std::move(kept);
}

void capitaliseI(std::vector<Token> &tokens)
{
    for (Token &token : tokens) {
        const QString &core = token.core;
        if (core == QLatin1String("i")) {
            token.core = QStringLiteral("I");
            continue;
        }
        if (core.size() < 3 || core[0] != QLatin1Char('i') ||
            (core[1] != QLatin1Char('\'') && core[1] != QChar(0x2019)))
            continue;
        const QStringView rest = QStringView(core).mid(2);
        if (rest == u"m" || rest == u"ve" || rest == u"ll" || rest == u"d")
            token.core[0] = QLatin1Char('I');
    }
}

// Each entry as its words; longer entries are tried first so "Visual Studio Code" wins over "Code".
struct VocabularyEntry {
    QStringList words;
};

void applyVocabulary(std::vector<Token> &tokens, const QStringList &vocabulary)
{
    if (vocabulary.isEmpty())
        return;
    // Only entries whose first word was said are split up: a long dictionary costs one look-up each.
    QSet<QString> said;
    for (const Token &token : tokens)
        said.insert(token.core.toLower());
    QHash<QString, std::vector<VocabularyEntry>> byFirstWord;
    for (const QString &entry : vocabulary) {
        const QStringView trimmed = QStringView(entry).trimmed();
        qsizetype end = 0;
        while (end < trimmed.size() && !trimmed[end].isSpace())
            ++end;
        const QString first = trimmed.left(end).toString().toLower();
        if (first.isEmpty() || !said.contains(first))
            continue;
        byFirstWord[first].push_back({entry.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts)});
    }
    if (byFirstWord.isEmpty())
        return;
    for (auto &entries : byFirstWord) {
        std::stable_sort(entries.begin(), entries.end(), [](const VocabularyEntry &a, const VocabularyEntry &b) {
            return a.words.size() > b.words.size();
        });
    }
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const auto found = byFirstWord.constFind(tokens[i].core.toLower());
        if (found == byFirstWord.constEnd())
            continue;
        for (const VocabularyEntry &entry : *found) {
            const auto count = static_cast<std::size_t>(entry.words.size());
            if (i + count > tokens.size())
                continue;
            bool matches = true;
            for (std::size_t k = 0; k < count && matches; ++k) {
                const Token &token = tokens[i + k];
                // The words of one entry are said together: no punctuation between them.
                matches = token.core.compare(entry.words[static_cast<qsizetype>(k)], Qt::CaseInsensitive) == 0 &&
                          (k == 0 || token.lead.isEmpty()) && (k + 1 == count || token.trail.isEmpty());
            }
            if (!matches)
                continue;
            for (std::size_t k = 0; k < count; ++k) {
                tokens[i + k].core = entry.words[static_cast<qsizetype>(k)];
                tokens[i + k].spelledByVocabulary = true;
            }
            i += count - 1;
            break;
        }
    }
}

void sentenceCase(std::vector<Token> &tokens)
{
    bool sentenceStart = true;
    for (Token &token : tokens) {
        if (token.core.isEmpty())
            continue;
        if (sentenceStart && !token.spelledByVocabulary && isAllLowerCase(token.core) && token.core[0].isLetter() &&
            !looksLikeAddress(token.core)) {
            token.core[0] = token.core[0].toUpper();
        }
        sentenceStart = hasSentenceEnd(token.trail) && !isAbbreviation(token.core);
    }
}

void endWithFullStop(std::vector<Token> &tokens)
{
    Token &last = tokens.back();
    if (last.core.isEmpty() || looksLikeAddress(last.core))
        return;
    const bool punctuated = std::any_of(last.trail.begin(), last.trail.end(), [](QChar c) {
        return endsSentence(c) || c == QLatin1Char(',') || c == QLatin1Char(';') || c == QLatin1Char(':');
    });
    if (!punctuated)
        last.trail.append(QLatin1Char('.'));
}

class RuleBasedCleanupSession final : public platform::LanguageModelSession {
public:
    explicit RuleBasedCleanupSession(QStringList vocabulary) : m_vocabulary(std::move(vocabulary)) {}

    rt::Result<QString> respond(const QString &prompt, std::stop_token) override
    {
        return RuleBasedCleanupModel::clean(prompt, m_vocabulary);
    }

private:
    QStringList m_vocabulary;
};

} // namespace

platform::LanguageModelAvailability RuleBasedCleanupModel::availability() const
{
    return {true, {}};
}

std::unique_ptr<platform::LanguageModelSession> RuleBasedCleanupModel::makeSession(const QString &,
                                                                                   const QStringList &vocabulary)
{
    return std::make_unique<RuleBasedCleanupSession>(vocabulary);
}

QString RuleBasedCleanupModel::clean(const QString &text, const QStringList &vocabulary)
{
    std::vector<Token> tokens = tokenize(text);
    // Nothing but fillers ("Um."), or no word at all ("42"): a real answer, left as it is.
    const bool hasWords = std::any_of(tokens.begin(), tokens.end(), [](const Token &token) {
        return !isFiller(token.core) &&
               std::any_of(token.core.begin(), token.core.end(), [](QChar c) { return c.isLetter(); });
    });
    if (!hasWords)
        return text;

    removeFillers(tokens);
    removeRepeats(tokens);
    capitaliseI(tokens);
    applyVocabulary(tokens, vocabulary);
    sentenceCase(tokens);
    endWithFullStop(tokens);

    QString cleaned;
    cleaned.reserve(text.size() + 1);
    for (const Token &token : tokens)
        cleaned += token.gap + token.lead + token.core + token.trail;
    return cleaned;
}

} // namespace zq

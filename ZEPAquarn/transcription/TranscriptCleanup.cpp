#include "transcription/TranscriptCleanup.h"

#include "runtime/Log.h"

#include <QRegularExpression>

namespace zq {

namespace {

const QString kVocabularyPrefix = QStringLiteral("\nPreserve these exact spellings when they appear: ");

const QString kPreamblePattern = QStringLiteral(
    R"(^\s*(?:here(?:'s| is| are)?\s+)?(?:the\s+|your\s+)?(?:cleaned|corrected|edited|improved|revised|polished|reformatted|formatted)(?:[-\s]?up)?\s+(?:text|transcript|version|dictation|output)\s*:\s*)");

} // namespace

const QString TranscriptCleanup::instructions = QStringLiteral(
    "You clean up dictated speech transcripts. Remove filler words (um, uh, you know, like when used as filler), "
    "fix punctuation and capitalization, and break run-on sentences. Never rephrase, summarize, or change the "
    "meaning. Never drop content words. Return ONLY the cleaned text with no commentary. Never add any "
    "introduction, label, or preamble such as \"Here is the cleaned text:\". Your output must begin with the first "
    "word of the transcript.");

QStringList splitWords(const QString &text)
{
    QStringList words;
    qsizetype start = -1;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        const bool space = i == text.size() || text[i].isSpace();
        if (space && start >= 0) {
            words.append(text.mid(start, i - start));
            start = -1;
        } else if (!space && start < 0) {
            start = i;
        }
    }
    return words;
}

TranscriptCleanup::TranscriptCleanup(std::shared_ptr<platform::LanguageModel> model, const rt::Clocks &clocks)
    : m_model(std::move(model)), m_clocks(clocks)
{}

bool TranscriptCleanup::shouldClean(const QString &transcript, bool cleanupEnabled)
{
    if (!cleanupEnabled) {
        qCDebug(lcCleanup) << "cleanup skipped: disabled";
        return false;
    }
    const qsizetype count = splitWords(transcript).size();
    if (count >= minimumWordCount)
        return true;
    qCDebug(lcCleanup).noquote()
        << QStringLiteral("cleanup skipped: below threshold (%1 < %2 words)").arg(count).arg(minimumWordCount);
    return false;
}

QString TranscriptCleanup::sessionInstructions(const QStringList &vocabulary)
{
    if (vocabulary.isEmpty())
        return instructions;
    return instructions + kVocabularyPrefix + vocabulary.join(QStringLiteral(", ")) + QStringLiteral(".");
}

QString TranscriptCleanup::stripPreamble(const QString &answer)
{
    static const QRegularExpression pattern(kPreamblePattern, QRegularExpression::CaseInsensitiveOption |
                                                                  QRegularExpression::UseUnicodePropertiesOption);
    if (!pattern.isValid())
        return answer.trimmed();
    const QRegularExpressionMatch match =
        pattern.match(answer, 0, QRegularExpression::NormalMatch, QRegularExpression::AnchorAtOffsetMatchOption);
    if (!match.hasMatch())
        return answer.trimmed();
    return answer.mid(match.capturedEnd()).trimmed();
}

rt::Task<QString> TranscriptCleanup::clean(QString transcript, QStringList vocabulary) const
{
    const platform::LanguageModelAvailability availability = m_model->availability();
    if (!availability.isAvailable) {
        qCDebug(lcCleanup).noquote()
            << QStringLiteral("cleanup skipped: model unavailable (%1)").arg(availability.reason);
        co_return transcript;
    }
    std::shared_ptr<platform::LanguageModelSession> session =
        m_model->makeSession(sessionInstructions(vocabulary), vocabulary);
    if (!session) {
        qCDebug(lcCleanup) << "cleanup failed (no session) — returning original";
        co_return transcript;
    }
    const rt::Nanos startedAt = m_clocks.continuousNow();

    std::optional<rt::Result<QString>> answer;
    bool cancelled = false;
    try {
        // Named first: g++ 12 destroys the captures of a lambda written inside a co_await twice.
        auto respond = [session, transcript](std::stop_token stop) { return session->respond(transcript, stop); };
        answer.emplace(co_await rt::runOnWorker(std::move(respond)));
    } catch (...) {
        cancelled = true;
    }
    if (cancelled || !answer->hasValue()) {
        const QString reason = cancelled ? QStringLiteral("cancelled") : answer->error().message;
        qCDebug(lcCleanup).noquote() << QStringLiteral("cleanup failed (%1) — returning original").arg(reason);
        co_return transcript;
    }

    const QString cleaned = stripPreamble(answer->value());
    const qsizetype inputWords = splitWords(transcript).size();
    const qsizetype cleanedWords = splitWords(cleaned).size();
    const auto elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(m_clocks.continuousNow() - startedAt);
    qCInfo(lcCleanup).noquote()
        << QStringLiteral("cleaned in %1ms: %2 -> %3 words").arg(elapsedMs.count()).arg(inputWords).arg(cleanedWords);
    if (!cleaned.isEmpty() && cleanedWords * 10 >= inputWords * 6)
        co_return cleaned;
    qCWarning(lcCleanup).noquote() << QStringLiteral(
                                          "cleanup discarded: >40% word loss (%1 -> %2) — returning original")
                                          .arg(inputWords)
                                          .arg(cleanedWords);
    co_return transcript;
}

} // namespace zq

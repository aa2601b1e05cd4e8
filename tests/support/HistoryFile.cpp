#include "support/HistoryFile.h"

#include "records/HistoryItem.h"
#include "support/TestFiles.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <iterator>

namespace zq::test {

namespace {

const char *const kWords[] = {"quarterly", "planning", "meeting", "send",     "the",     "draft",   "to",
                              "Maria",     "before",   "Friday",  "café",     "numbers", "look",    "good",
                              "schedule",  "review",   "with",    "design",   "team",    "and",     "budget",
                              "please",    "call",     "back",    "tomorrow", "morning", "release", "notes"};

} // namespace

QString dictationText(qsizetype length, std::uint32_t seed)
{
    const auto next = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
    QString text;
    text.reserve(length + 16);
    while (text.size() < length) {
        const int words = 6 + static_cast<int>(next() % 14);
        for (int w = 0; w < words; ++w) {
            QString word = QString::fromUtf8(kWords[next() % std::size(kWords)]);
            if (w == 0)
                word[0] = word[0].toUpper();
            text += word;
            text += w + 1 < words ? QLatin1Char(' ') : QLatin1Char('.');
        }
        text += QLatin1Char(' ');
    }
    text.truncate(length);
    return text;
}

void writeHistoryFile(const QString &folder, const QStringList &texts)
{
    QJsonArray array;
    QDateTime date = QDateTime::fromSecsSinceEpoch(1'780'000'000);
    for (const QString &text : texts) {
        array.append(HistoryItem{QUuid::createUuid(), text, date}.toJson());
        date = date.addSecs(-90);
    }
    writeFile(folder + QStringLiteral("/history.json"), QJsonDocument(array).toJson(QJsonDocument::Compact));
}

} // namespace zq::test

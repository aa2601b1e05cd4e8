#include "window/settings/DictionaryText.h"

#include "pipeline/SettingsDefaults.h"
#include "runtime/Settings.h"

#include <QTextDocument>

namespace zq {

namespace {

bool isLineBreak(QChar c)
{
    switch (c.unicode()) {
    case 0x000A:
    case 0x000B:
    case 0x000C:
    case 0x000D:
    case 0x0085:
    case 0x2028:
    case 0x2029:
        return true;
    default:
        return false;
    }
}

bool isBlank(QChar c)
{
    return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
}

} // namespace

QStringList splitLines(const QString &text)
{
    // A CR LF pair is one break; splitting at each of its characters only adds an empty piece, which
    // is dropped anyway.
    QStringList pieces;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i == text.size() || isLineBreak(text.at(i))) {
            if (i > start)
                pieces.append(text.mid(start, i - start));
            start = i + 1;
        }
    }
    return pieces;
}

QStringList dictionaryEntries(const QString &text)
{
    QStringList entries;
    for (const QString &piece : splitLines(text)) {
        qsizetype begin = 0;
        qsizetype end = piece.size();
        while (begin < end && isBlank(piece.at(begin)))
            ++begin;
        while (end > begin && isBlank(piece.at(end - 1)))
            --end;
        if (end > begin)
            entries.append(piece.mid(begin, end - begin));
    }
    return entries;
}

QString editorText(const QTextDocument &document)
{
    QString text = document.toRawText();
    for (QChar &c : text) {
        switch (c.unicode()) {
        case QChar::ParagraphSeparator:
        case QChar::LineSeparator:
        case 0xFDD0: // the document's frame markers
        case 0xFDD1:
            c = QLatin1Char('\n');
            break;
        default:
            break;
        }
    }
    return text;
}

void saveDictionary(rt::Settings &settings, const QString &text)
{
    settings.setValue(keys::dictionary, dictionaryEntries(text));
}

QString dictionaryText(const rt::Settings &settings)
{
    return settings.stringListValue(keys::dictionary).join(QLatin1Char('\n'));
}

} // namespace zq

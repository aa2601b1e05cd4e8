#pragma once

#include <QString>
#include <QStringList>

class QTextDocument;

namespace zq {

namespace rt {
class Settings;
}

// The custom vocabulary as the Dictionary page edits it: one entry a line.

// The text split at every line break (LF, VT, FF, CR, CR LF as one, NEL, U+2028, U+2029), empty
// pieces dropped.
QStringList splitLines(const QString &text);
// The entries an editor text stores: each line trimmed of spaces (Unicode Zs) and tabs, empty ones
// dropped; order, duplicates and case as typed.
QStringList dictionaryEntries(const QString &text);
// The editor's text with its paragraph and line breaks as line feeds and every other character as
// typed: the document's own plain text would turn a no-break space into a space.
QString editorText(const QTextDocument &document);
// Stores the entries of `text` under "dictionary" (an empty list as well).
void saveDictionary(rt::Settings &settings, const QString &text);
// The stored entries joined with one line feed, as the editor opens.
QString dictionaryText(const rt::Settings &settings);

} // namespace zq

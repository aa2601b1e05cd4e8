#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

namespace zq::test {

// Ordinary dictation of exactly `length` characters: words and sentences, the same for a seed.
QString dictationText(qsizetype length, std::uint32_t seed);

// Writes "<folder>/history.json" as the history store writes it, holding `texts` (newest first), so
// a store opened on `folder` starts full without rewriting its file once per item.
void writeHistoryFile(const QString &folder, const QStringList &texts);

} // namespace zq::test

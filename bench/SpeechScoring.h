#pragma once

// What the speech benchmarks share: the packaged recordings of real speech with the words said in
// them, and the word errors of a text against those words.
#include "platform/AudioFile.h"

#include <QFile>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <optional>
#include <vector>

namespace zq::bench {

inline const QString kLibrivox = QStringLiteral("/usr/share/pocketsphinx/test/data/librivox/");

struct LibrivoxLine {
    QString path;          // the wav file
    QStringList reference; // the words said in it, as listed
};

// The recordings the list names, in its order; none when the list cannot be read.
inline std::vector<LibrivoxLine> librivoxLines()
{
    std::vector<LibrivoxLine> lines;
    QFile list(kLibrivox + QStringLiteral("transcription"));
    if (!list.open(QIODevice::ReadOnly))
        return lines;
    static const QRegularExpression line(QStringLiteral(R"(<s>\s*(.*?)\s*</s>\s*\((\S+)\))"));
    for (const QString &text : QString::fromUtf8(list.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const auto match = line.match(text);
        if (!match.hasMatch())
            continue;
        lines.push_back({kLibrivox + match.captured(2) + QStringLiteral(".wav"),
                         match.captured(1).split(QLatin1Char(' '), Qt::SkipEmptyParts)});
    }
    return lines;
}

// The first channel of a wav file; nothing when it cannot be opened.
inline std::optional<std::vector<float>> readWav(const QString &path)
{
    auto file = platform::AudioFile::openForReading(path);
    if (!file)
        return std::nullopt;
    std::vector<float> samples;
    for (;;) {
        auto block = file.value()->read(8192);
        if (!block || block.value()->frameLength() == 0)
            break;
        samples.insert(samples.end(), block.value()->channelData(0),
                       block.value()->channelData(0) + block.value()->frameLength());
    }
    return samples;
}

// The word edits (insertions, deletions, substitutions) that turn `a` into `b`.
inline int editDistance(const QStringList &a, const QStringList &b)
{
    std::vector<int> row(static_cast<std::size_t>(b.size()) + 1);
    for (std::size_t j = 0; j < row.size(); ++j)
        row[j] = static_cast<int>(j);
    for (qsizetype i = 1; i <= a.size(); ++i) {
        int diagonal = row[0];
        row[0] = static_cast<int>(i);
        for (qsizetype j = 1; j <= b.size(); ++j) {
            const int up = row[static_cast<std::size_t>(j)];
            row[static_cast<std::size_t>(j)] =
                std::min({up + 1, row[static_cast<std::size_t>(j - 1)] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = up;
        }
    }
    return row.back();
}

} // namespace zq::bench

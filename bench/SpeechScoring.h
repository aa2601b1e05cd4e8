#pragma once

// What the speech benchmarks share: the packaged recordings of real speech with the words said in
// them, and the word errors of a text against those words.
#include "platform/AudioFile.h"
#include "support/SpeechSamples.h"

#include <QFile>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
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

// Recorded speech of the library's own tests that no constant of the recogniser was tuned on (those
// were tuned on the librivox recordings above): five spoken card names, a spoken command and a
// string of digits. The word-error benchmark reports on these; 16 kHz mono, wav or raw 16-bit.
inline std::vector<LibrivoxLine> reportLines()
{
    const QString data = QStringLiteral("/usr/share/pocketsphinx/test/data/");
    std::vector<LibrivoxLine> lines;
    QFile list(data + QStringLiteral("cards/cards.transcription"));
    if (list.open(QIODevice::ReadOnly)) {
        static const QRegularExpression line(QStringLiteral(R"(<s>\s*(.*?)\s*</s>\s*\((\S+)\))"));
        for (const QString &text : QString::fromUtf8(list.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const auto match = line.match(text);
            if (match.hasMatch())
                lines.push_back({data + QStringLiteral("cards/") + match.captured(2) + QStringLiteral(".wav"),
                                 match.captured(1).split(QLatin1Char(' '), Qt::SkipEmptyParts)});
        }
    }
    lines.push_back({data + QStringLiteral("goforward.raw"), {"go", "forward", "ten", "meters"}});
    // The digits corpus names each recording by what is said in it ("z" is zero).
    lines.push_back({data + QStringLiteral("tidigits/dhd.2934z.raw"), {"two", "nine", "three", "four", "zero"}});
    return lines;
}

// The first channel of a wav file (or of a headerless 16-bit one); nothing when it cannot be opened.
inline std::optional<std::vector<float>> readWav(const QString &path)
{
    if (path.endsWith(QLatin1String(".raw"))) { // 16-bit little-endian samples, no header
        std::vector<float> samples = test::loadRawSpeech(path);
        return samples.empty() ? std::nullopt : std::optional(std::move(samples));
    }
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

// A 16 kHz recording up to the end of its last word: its last 10 ms with a sample a twentieth of its
// peak or more (a recording's own noise stays below that). What follows would let a recogniser that
// ends an utterance at a pause finish before the end of the input.
inline std::vector<std::int16_t> wordsOnly(const std::vector<std::int16_t> &speech)
{
    constexpr std::size_t kBlock = 160;
    int peak = 0;
    for (const std::int16_t sample : speech)
        peak = std::max(peak, std::abs(int(sample)));
    std::size_t end = 0;
    for (std::size_t start = 0; start < speech.size(); start += kBlock)
        for (std::size_t i = start; i < std::min(start + kBlock, speech.size()); ++i)
            if (std::abs(int(speech[i])) * 20 >= peak)
                end = std::min(start + kBlock, speech.size());
    return {speech.begin(), speech.begin() + std::ptrdiff_t(end)};
}

} // namespace zq::bench

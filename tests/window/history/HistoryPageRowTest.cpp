// A transcript row lays out only a prefix of its text, yet shows the five lines a layout of the whole
// text shows, for ordinary and awkward scripts; hostile text stays bounded.
#include "window/history/HistoryPageRow.h"

#include "menubar/brand/Typography.h"
#include "support/HistoryFile.h"

#include <QFontMetricsF>
#include <QTextLayout>

#include <gtest/gtest.h>

using namespace zq;

namespace {

struct WholeText {
    QStringList lines;
    bool truncated = false;
};

// The five lines as a layout of the whole transcript gives them: what the row must keep showing.
WholeText wholeTextLines(qreal textWidth, const QString &text)
{
    const QFont font = textFont(textStyle::body);
    WholeText result;
    QString shown = text;
    shown.replace(QLatin1Char('\n'), QChar::LineSeparator);
    QTextLayout layout(shown, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(textWidth);
        if (result.lines.size() == kHistoryRowMaxLines - 1) {
            QString rest = shown.mid(line.textStart());
            rest.replace(QChar::LineSeparator, QLatin1Char(' '));
            const QString elided = QFontMetricsF(font).elidedText(rest, Qt::ElideRight, textWidth);
            result.truncated = elided != rest || layout.createLine().isValid();
            result.lines.append(elided);
            break;
        }
        result.lines.append(shown.mid(line.textStart(), line.textLength()).trimmed());
    }
    layout.endLayout();
    if (result.lines.isEmpty())
        result.lines.append(QString());
    return result;
}

QString repeated(const QString &piece, qsizetype length)
{
    return piece.repeated(length / piece.size() + 1).left(length / piece.size() * piece.size());
}

struct Transcript {
    const char *name;
    QString text;
    // UTF-16 units per grapheme cluster where all are alike: the prefix must end between two.
    int clusterUnits = 1;
};

TEST(HistoryPageRowTest, APrefixShowsTheSameFiveLinesAsTheWholeTranscript)
{
    QStringList shortLines;
    for (std::uint32_t seed = 0; seed < 400; ++seed)
        shortLines.append(test::dictationText(20 + seed % 50, seed));
    const std::vector<Transcript> transcripts = {
        {"one line", QStringLiteral("Send the draft to Maria before Friday.")},
        {"six short lines", QStringLiteral("one\ntwo\nthree\nfour\nfive\nsix")},
        {"prose", test::dictationText(20'000, 1)},
        {"a line break every few words", shortLines.join(QLatin1Char('\n'))},
        {"one unbroken word", QString(20'000, QLatin1Char('w'))},
        {"the narrowest letters", repeated(QStringLiteral("il.|!' "), 20'000)},
        {"emoji families", repeated(QStringLiteral("👨‍👩‍👧‍👦"), 11'000), 11},
        {"stacked accents", repeated(QStringLiteral("e\u0301\u0323"), 20'000), 3},
        {"flags", repeated(QStringLiteral("🇫🇷🇩🇪"), 10'000), 4},
        {"Japanese", repeated(QStringLiteral("漢字の文章です。"), 20'000)},
        {"Arabic", repeated(QStringLiteral("مرحبا بالعالم "), 20'000)},
        {"a long run of spaces",
         QStringLiteral("Start") + QString(6000, QLatin1Char(' ')) + test::dictationText(9000, 2)},
    };
    for (const Transcript &transcript : transcripts) {
        for (const qreal width : {300.0, 560.0, kHistoryColumnMaxWidth}) {
            SCOPED_TRACE(std::string(transcript.name) + " at " + std::to_string(int(width)));
            const HistoryRowLayout row = layoutHistoryRow(width, transcript.text);
            const WholeText whole = wholeTextLines(row.text.width(), transcript.text);
            EXPECT_EQ(row.lines.join(QLatin1Char('\n')).toStdString(),
                      whole.lines.join(QLatin1Char('\n')).toStdString());
            EXPECT_EQ(row.truncated, whole.truncated);
            if (transcript.text.size() >= 10'000) {
                EXPECT_LT(row.laidOutLength, transcript.text.size() / 2);
                EXPECT_EQ(row.laidOutLength % transcript.clusterUnits, 0);
                // Rows away from the screen are placed by an estimate: a long one's is its real height.
                EXPECT_EQ(estimateHistoryRow(width, transcript.text).height, row.height);
            }
        }
    }
}

TEST(HistoryPageRowTest, HostileTextIsLaidOutOnlyInPartAndShownCut)
{
    const std::vector<Transcript> transcripts = {
        {"100 kB of zero-width spaces", QString(100'000, QChar(0x200B))},
        {"one letter under 100 000 accents", QStringLiteral("e") + QString(100'000, QChar(0x0301))},
        {"100 kB of spaces inside a word",
         QStringLiteral("a") + QString(100'000, QLatin1Char(' ')) + QStringLiteral("b")},
    };
    for (const Transcript &transcript : transcripts) {
        SCOPED_TRACE(transcript.name);
        const HistoryRowLayout row = layoutHistoryRow(kHistoryColumnMaxWidth, transcript.text);
        EXPECT_LT(row.laidOutLength, 40'000);
        EXPECT_TRUE(row.truncated);
        EXPECT_TRUE(row.lines.last().endsWith(QChar(0x2026))) << row.lines.last().right(4).toStdString();
    }
}

} // namespace

#include "window/history/HistoryPageRow.h"

#include "menubar/brand/Metrics.h"
#include "menubar/brand/SymbolCatalogue.h"
#include "menubar/brand/Text.h"
#include "menubar/brand/Typography.h"
#include "menubar/brand/ZepaButton.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QTextBoundaryFinder>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace zq {

namespace {

constexpr qreal kPaddingH = 10;
constexpr qreal kPaddingV = 16;
constexpr qreal kSpacing = 13;
constexpr qreal kGroupSpacing = 8;
constexpr qreal kDeleteSide = 28;

QFont transcriptFont()
{
    static const QFont font = textFont(textStyle::body);
    return font;
}

QFont dateFont()
{
    static const QFont font = textFont(textStyle::figureSmall);
    return font;
}

ZepaButtonLabel copyLabel(bool copied)
{
    static const QFont font = textFont(textStyle::smallButton);
    return copied ? ZepaButtonLabel{QStringLiteral("Copied"), QStringLiteral("checkmark"), font}
                  : ZepaButtonLabel{QStringLiteral("Copy"), QStringLiteral("doc.on.doc"), font};
}

// The copy button keeps the width of its wider label, so the text never reflows when it confirms.
QSizeF copyButtonSize()
{
    static const QSizeF size = [] {
        const QSizeF copy = zepaButtonSize(ZepaButtonStyle::quiet, copyLabel(false));
        const QSizeF copied = zepaButtonSize(ZepaButtonStyle::quiet, copyLabel(true));
        return QSizeF(std::max(copy.width(), copied.width()), std::max(copy.height(), copied.height()));
    }();
    return size;
}

qreal textWidthFor(qreal rowWidth)
{
    const qreal groupWidth = copyButtonSize().width() + kGroupSpacing + kDeleteSide;
    return std::max<qreal>(40, rowWidth - 2 * kPaddingH - kSpacing - groupWidth);
}

// How much of a transcript is laid out at first: five lines of the narrowest printable characters
// at the widest row, twice over. Text that fills lines with fewer characters per width (zero-width
// marks, long runs of spaces, emoji sequences) gets a longer prefix, up to kPrefixGrowthCap times this.
qsizetype prefixBound()
{
    static const qsizetype bound = [] {
        const QFontMetricsF metrics(transcriptFont());
        qreal narrowest = metrics.horizontalAdvance(QLatin1Char(' '));
        for (char c = '!'; c <= '~'; ++c)
            narrowest = std::min(narrowest, metrics.horizontalAdvance(QLatin1Char(c)));
        const qreal perLine = std::ceil(textWidthFor(kHistoryColumnMaxWidth) / std::max<qreal>(1, narrowest));
        return static_cast<qsizetype>(2 * kHistoryRowMaxLines * perLine);
    }();
    return bound;
}

constexpr qsizetype kPrefixGrowthCap = 8;

// The end of the longest prefix of at most `length` characters that splits no grapheme cluster (and
// so no surrogate pair). Only a cluster longer than `length` itself is split, between code points.
qsizetype graphemeCut(const QString &text, qsizetype length)
{
    if (length >= text.size())
        return text.size();
    // Whether a place is a boundary depends on what precedes it and on the character there, no more.
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.constData(), std::min(text.size(), length + 2));
    finder.setPosition(length);
    if (finder.isAtBoundary())
        return length;
    const qsizetype previous = finder.toPreviousBoundary();
    if (previous > 0)
        return previous;
    return text.at(length).isLowSurrogate() ? length - 1 : length;
}

struct TextLines {
    QStringList lines;
    QList<qsizetype> starts;
    qsizetype laidOutLength = 0;
    bool truncated = false;
    // The last line was cut to the width: whatever follows the laid-out text cannot show.
    bool filled = false;
};

TextLines layOutLines(const QString &text, qreal textWidth)
{
    TextLines result;
    const QFontMetricsF metrics(transcriptFont());
    QString shown = text;
    shown.replace(QLatin1Char('\n'), QChar::LineSeparator);
    QTextLayout textLayout(shown, transcriptFont());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    textLayout.setTextOption(option);
    textLayout.beginLayout();
    for (;;) {
        QTextLine line = textLayout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(textWidth);
        if (result.lines.size() == kHistoryRowMaxLines - 1) {
            // The last line shown takes the rest of the text, cut with an ellipsis when it does not fit.
            QString rest = shown.mid(line.textStart());
            rest.replace(QChar::LineSeparator, QLatin1Char(' '));
            const QString elided = metrics.elidedText(rest, Qt::ElideRight, textWidth);
            result.filled = elided != rest;
            result.truncated = result.filled || textLayout.createLine().isValid();
            result.lines.append(elided);
            result.starts.append(line.textStart());
            break;
        }
        const QString raw = shown.mid(line.textStart(), line.textLength());
        qsizetype lead = 0;
        while (lead < raw.size() && raw.at(lead).isSpace())
            ++lead;
        result.lines.append(raw.trimmed());
        result.starts.append(line.textStart() + lead);
    }
    textLayout.endLayout();
    result.laidOutLength = textLayout.text().size();
    if (result.lines.isEmpty()) {
        result.lines.append(QString());
        result.starts.append(0);
    }
    return result;
}

// How many of the transcript's characters line `i` shows: the ellipsis that ends a cut row stands for none.
qsizetype shownLength(const HistoryRowLayout &layout, int i)
{
    const QString &line = layout.lines[i];
    if (i == layout.lines.size() - 1 && layout.truncated && line.endsWith(QChar(0x2026)))
        return line.size() - 1;
    return line.size();
}

// One shown line laid out on its own, for the places of its characters. Made only for pointer work and
// for drawing a selection, never for the plain rows.
class ShownLine {
public:
    explicit ShownLine(const QString &text) : m_layout(text, transcriptFont())
    {
        QTextOption option;
        option.setWrapMode(QTextOption::NoWrap);
        m_layout.setTextOption(option);
        m_layout.beginLayout();
        m_line = m_layout.createLine();
        if (m_line.isValid())
            m_line.setLineWidth(1e6);
        m_layout.endLayout();
    }

    qreal x(qsizetype cursor) const { return m_line.isValid() ? m_line.cursorToX(static_cast<int>(cursor)) : 0; }
    qsizetype cursorAt(qreal x) const { return m_line.isValid() ? m_line.xToCursor(x) : 0; }

private:
    QTextLayout m_layout;
    QTextLine m_line;
};

bool hasLineStarts(const HistoryRowLayout &layout)
{
    return !layout.lines.isEmpty() && layout.lineStarts.size() == layout.lines.size();
}

void paintSelection(QPainter &painter, const HistoryRowLayout &layout, HistoryTextSelection selection,
                    qreal lineSpacing, ColorScheme scheme)
{
    if (selection.isEmpty() || !hasLineStarts(layout))
        return;
    QColor fill = Palette::color(Palette::accent, scheme);
    fill.setAlphaF(0.3f);
    for (int i = 0; i < layout.lines.size(); ++i) {
        const qsizetype lineStart = layout.lineStarts[i];
        const qsizetype from = std::max(selection.start(), lineStart);
        const qsizetype to = std::min(selection.end(), lineStart + shownLength(layout, i));
        if (from >= to)
            continue;
        const ShownLine line(layout.lines[i]);
        const qreal left = line.x(from - lineStart);
        const qreal right = line.x(to - lineStart);
        painter.fillRect(
            QRectF(layout.text.left() + left, layout.text.top() + i * lineSpacing, right - left, lineSpacing), fill);
    }
}

void paintFocusRing(QPainter &painter, const HistoryRowLayout &layout, const QRectF &copyRect, HistoryRowPart part,
                    ColorScheme scheme)
{
    const QRectF around = part == HistoryRowPart::row    ? layout.body
                          : part == HistoryRowPart::copy ? copyRect
                                                         : layout.deleteButton;
    const qreal radius = part == HistoryRowPart::row ? Metrics::kControlRadius : 6;
    painter.setPen(QPen(Palette::color(Palette::focus, scheme), Metrics::kRingWidth));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(strokedRect(around, Metrics::kRingWidth), radius, radius);
}

// The geometry of a row whose transcript shows `lineCount` lines.
HistoryRowLayout placeHistoryRow(qreal width, qsizetype lineCount)
{
    HistoryRowLayout layout;
    layout.width = width;
    const QSizeF copy = copyButtonSize();
    const qreal groupWidth = copy.width() + kGroupSpacing + kDeleteSide;
    const qreal groupHeight = std::max(copy.height(), kDeleteSide);
    const qreal textWidth = textWidthFor(width);
    const qreal textHeight = static_cast<qreal>(lineCount) * QFontMetricsF(transcriptFont()).lineSpacing();
    const qreal dateHeight = QFontMetricsF(dateFont()).lineSpacing();
    layout.text = QRectF(kPaddingH, kPaddingV, textWidth, textHeight);
    layout.date = QRectF(kPaddingH, kPaddingV + textHeight + 8, textWidth, dateHeight);
    const qreal groupLeft = width - kPaddingH - groupWidth;
    layout.copyButton = QRectF(QPointF(groupLeft, kPaddingV + (groupHeight - copy.height()) / 2), copy);
    layout.deleteButton = QRectF(groupLeft + copy.width() + kGroupSpacing, kPaddingV + (groupHeight - kDeleteSide) / 2,
                                 kDeleteSide, kDeleteSide);
    const qreal content = std::max(textHeight + 8 + dateHeight, groupHeight);
    layout.body = QRectF(0, 0, width, content + 2 * kPaddingV);
    layout.height = layout.body.height() + 1;
    return layout;
}

} // namespace

HistoryRowLayout layoutHistoryRow(qreal width, const QString &text)
{
    const qreal textWidth = textWidthFor(width);
    // A transcript may be far longer than five lines can show, and laying out all of it would stall
    // the page: lay out a prefix, and a longer one only while the prefix does not fill the lines.
    TextLines shown;
    for (qsizetype bound = prefixBound();; bound *= 2) {
        const bool lastTry = bound >= kPrefixGrowthCap * prefixBound();
        const qsizetype laidOut = graphemeCut(text, bound);
        const bool cut = laidOut < text.size();
        // A prefix that still does not fill the lines is shown as cut.
        shown = layOutLines(cut && lastTry ? text.left(laidOut) + QChar(0x2026) : text.left(laidOut), textWidth);
        if (!cut || lastTry || shown.filled) {
            shown.truncated = shown.truncated || cut;
            break;
        }
    }
    HistoryRowLayout layout = placeHistoryRow(width, shown.lines.size());
    layout.lines = std::move(shown.lines);
    layout.lineStarts = std::move(shown.starts);
    layout.truncated = shown.truncated;
    layout.laidOutLength = shown.laidOutLength;
    return layout;
}

HistoryRowLayout estimateHistoryRow(qreal width, const QString &text)
{
    // Wraps by the font's average character width; a row's height is set right when it is laid out.
    const qreal perLine = std::max<qreal>(1, textWidthFor(width) / QFontMetricsF(transcriptFont()).averageCharWidth());
    qsizetype lines = 1;
    qreal run = 0;
    const qsizetype end = std::min(text.size(), prefixBound());
    for (qsizetype i = 0; i < end && lines < kHistoryRowMaxLines; ++i) {
        if (text.at(i) == QLatin1Char('\n')) {
            ++lines;
            run = 0;
        } else if (++run > perLine) {
            ++lines;
            run = 1;
        }
    }
    return placeHistoryRow(width, lines);
}

qsizetype historyTextOffsetAt(const HistoryRowLayout &layout, QPointF point)
{
    if (!hasLineStarts(layout))
        return 0;
    if (point.y() < layout.text.top())
        return layout.lineStarts.front();
    const int last = static_cast<int>(layout.lines.size()) - 1;
    const int i = static_cast<int>((point.y() - layout.text.top()) / QFontMetricsF(transcriptFont()).lineSpacing());
    if (i > last)
        return layout.lineStarts[last] + shownLength(layout, last);
    const qsizetype cursor = ShownLine(layout.lines[i]).cursorAt(point.x() - layout.text.left());
    return layout.lineStarts[i] + std::clamp<qsizetype>(cursor, 0, shownLength(layout, i));
}

void paintHistoryRow(QPainter &painter, const QRectF &rect, const HistoryRowInputs &inputs,
                     const HistoryRowLayout &layout, ColorScheme scheme)
{
    painter.save();
    painter.translate(rect.topLeft());
    painter.setRenderHint(QPainter::Antialiasing);
    if (inputs.hovering) {
        QPainterPath body;
        body.addRoundedRect(layout.body, 8, 8);
        painter.fillPath(body, Palette::color(Palette::controlHover, scheme));
    }

    // Plain text only: transcripts are never read as markup.
    painter.setFont(transcriptFont());
    painter.setPen(Palette::color(Palette::textPrimary, scheme));
    const qreal lineSpacing = QFontMetricsF(transcriptFont()).lineSpacing();
    const qreal ascent = QFontMetricsF(transcriptFont()).ascent();
    paintSelection(painter, layout, inputs.selection, lineSpacing, scheme);
    for (int i = 0; i < layout.lines.size(); ++i)
        painter.drawText(QPointF(layout.text.left(), layout.text.top() + i * lineSpacing + ascent), layout.lines[i]);

    painter.setFont(dateFont());
    painter.setPen(Palette::color(Palette::textTertiary, scheme));
    painter.drawText(QPointF(layout.date.left(), layout.date.top() + QFontMetricsF(dateFont()).ascent()),
                     inputs.dateText);

    painter.setOpacity(inputs.hovering || inputs.copied ? 1.0 : kHistoryButtonsIdleOpacity);
    const QSizeF copySize = zepaButtonSize(ZepaButtonStyle::quiet, copyLabel(inputs.copied));
    const QRectF copyRect(layout.copyButton.right() - copySize.width(), layout.copyButton.top(), copySize.width(),
                          copySize.height());
    paintZepaButton(painter, copyRect, ZepaButtonStyle::quiet, copyLabel(inputs.copied), inputs.copied, false, scheme);
    const QRectF trash(layout.deleteButton.center() - QPointF(6.5, 6.5), QSizeF(13, 13));
    SymbolCatalogue::paint(painter, trash, u"trash",
                           Palette::color(inputs.hovering ? Palette::textSecondary : Palette::textTertiary, scheme));
    painter.setOpacity(1.0);
    if (inputs.focus)
        paintFocusRing(painter, layout, copyRect, *inputs.focus, scheme);

    painter.fillRect(QRectF(0, layout.body.bottom(), layout.width, 1), Palette::color(Palette::hairline, scheme));
    painter.restore();
}

} // namespace zq

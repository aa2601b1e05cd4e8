#pragma once

#include "menubar/brand/Metrics.h"
#include "menubar/brand/Palette.h"
#include "window/history/HistoryRowFocus.h"

#include <QRectF>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <optional>

class QPainter;

namespace zq {

// A stretch of a transcript selected with the pointer: character offsets into the transcript, from
// where the drag began (`anchor`) to where it is (`cursor`), either way round.
struct HistoryTextSelection {
    qsizetype anchor = 0;
    qsizetype cursor = 0;

    qsizetype start() const { return std::min(anchor, cursor); }
    qsizetype end() const { return std::max(anchor, cursor); }
    bool isEmpty() const { return anchor == cursor; }
};

// What one transcript row shows.
struct HistoryRowInputs {
    QString text;
    QString dateText;
    bool hovering = false;
    bool copied = false;
    // The part the keyboard stands on, ringed; none while the list does not have the focus.
    std::optional<HistoryRowPart> focus{};
    HistoryTextSelection selection{};
};

// Where the parts of a row lie, with its top-left corner at (0, 0). The transcript is laid out into
// at most five lines; the fifth ends in an ellipsis when the text goes on. Only a bounded prefix of
// the transcript is laid out, long enough to fill those five lines as the whole text would.
struct HistoryRowLayout {
    qreal width = 0;
    qreal height = 0; // the divider included
    QRectF body;
    QRectF text;
    QRectF date;
    QRectF copyButton;
    QRectF deleteButton;
    // Empty for an estimate, which has geometry but no text yet.
    QStringList lines;
    // Where each line starts in the transcript (a line shows the transcript's characters from there on).
    QList<qsizetype> lineStarts;
    bool truncated = false;
    // How many characters the text layout was given.
    qsizetype laidOutLength = 0;
};

inline constexpr int kHistoryRowMaxLines = 5;
inline constexpr qreal kHistoryButtonsIdleOpacity = 0.62;
// The widest the list's column gets, so the widest a row gets.
inline constexpr qreal kHistoryColumnMaxWidth = Metrics::kPageWidth;

HistoryRowLayout layoutHistoryRow(qreal width, const QString &text);
// The row's geometry for a guessed number of lines, reading at most as much of the text as a layout
// would, and laying out nothing: for rows away from the screen, whose height only places the others.
HistoryRowLayout estimateHistoryRow(qreal width, const QString &text);
// The character offset into the transcript nearest to a point of the row (row coordinates): points above
// the text give its start, points below it the end of what shows. For a laid-out row only.
qsizetype historyTextOffsetAt(const HistoryRowLayout &layout, QPointF point);
// Draws the row laid out by layoutHistoryRow() into `rect` (of the layout's size).
void paintHistoryRow(QPainter &painter, const QRectF &rect, const HistoryRowInputs &inputs,
                     const HistoryRowLayout &layout, ColorScheme scheme);

} // namespace zq

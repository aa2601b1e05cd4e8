#pragma once

#include "menubar/brand/Metrics.h"
#include "menubar/brand/Palette.h"

#include <QRectF>
#include <QString>
#include <QStringList>

class QPainter;

namespace zq {

// What one transcript row shows.
struct HistoryRowInputs {
    QString text;
    QString dateText;
    bool hovering = false;
    bool copied = false;
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
// Draws the row laid out by layoutHistoryRow() into `rect` (of the layout's size).
void paintHistoryRow(QPainter &painter, const QRectF &rect, const HistoryRowInputs &inputs,
                     const HistoryRowLayout &layout, ColorScheme scheme);

} // namespace zq

#pragma once

#include "menubar/brand/Palette.h"

#include <QRectF>
#include <QString>
#include <QStringList>

class QAbstractButton;
class QPainter;

namespace zq {

// What one transcript row shows.
struct HistoryRowInputs {
    QString text;
    QString dateText;
    bool hovering = false;
    bool copied = false;
};

// Where the parts of a row lie, with its top-left corner at (0, 0). The transcript is laid out once
// into at most five lines; the fifth ends in an ellipsis when the text goes on.
struct HistoryRowLayout {
    qreal width = 0;
    qreal height = 0; // the divider included
    QRectF body;
    QRectF text;
    QRectF date;
    QRectF copyButton;
    QRectF deleteButton;
    QStringList lines;
    bool truncated = false;
};

inline constexpr int kHistoryRowMaxLines = 5;
inline constexpr qreal kHistoryButtonsIdleOpacity = 0.62;

HistoryRowLayout layoutHistoryRow(qreal width, const QString &text);
// Draws the row laid out by layoutHistoryRow() into `rect` (of the layout's size).
void paintHistoryRow(QPainter &painter, const QRectF &rect, const HistoryRowInputs &inputs,
                     const HistoryRowLayout &layout, ColorScheme scheme);

// The brand buttons draw no disabled look of their own: a disabled one is shown faded, so the
// user sees that clicking it will do nothing.
void setBrandButtonEnabled(QAbstractButton *button, bool enabled);

} // namespace zq

#pragma once

#include "window/history/HistoryPageList.h"
#include "window/history/HistoryPageRow.h"

#include <QPoint>
#include <QtMath>

#include <optional>

namespace zq::test {

// A whole-pixel point of the list's viewport where the pointer stands at character `offset` of row
// `row`'s transcript (on the line that shows that character), found by asking the row where the
// characters are, as a user's eye would. None while the row is not laid out or the offset does not show.
inline std::optional<QPoint> historyTextPoint(const HistoryPageList &list, int row, qsizetype offset)
{
    const HistoryRowLayout *layout = list.rowLayout(row);
    if (!layout || layout->lineStarts.isEmpty())
        return std::nullopt;
    int line = 0;
    while (line + 1 < layout->lineStarts.size() && layout->lineStarts[line + 1] <= offset)
        ++line;
    const QRectF rowRect = list.rowRect(row);
    const qreal lineHeight = layout->text.height() / layout->lines.size();
    const int y = qFloor(rowRect.top() + layout->text.top() + (line + 0.5) * lineHeight);
    for (int x = qFloor(rowRect.left() + layout->text.left()); x <= qCeil(rowRect.left() + layout->text.right()); ++x) {
        if (historyTextOffsetAt(*layout, QPointF(x, y) - rowRect.topLeft()) == offset)
            return QPoint(x, y);
    }
    return std::nullopt;
}

} // namespace zq::test

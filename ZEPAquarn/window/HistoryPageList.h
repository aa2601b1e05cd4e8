#pragma once

#include "window/HistoryPageRow.h"

#include <QAbstractScrollArea>
#include <QHash>
#include <QUuid>

#include <vector>

namespace zq {

class HistoryPageModel;

// The History page's list: the rows the search matches, newest first, in a column at most 760
// wide centred in the view. Rows are drawn, not built as widgets: only those on screen are painted.
// Only rows within a screen's height of the visible ones are laid out (once per width); the others
// are placed by an estimated height until they come near, so 500 long transcripts open, scroll and
// filter cheaply.
class HistoryPageList : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit HistoryPageList(HistoryPageModel &model, QWidget *parent = nullptr);

    // The row's rectangle in viewport coordinates (scrolled); empty for an index out of range.
    QRectF rowRect(int index) const;
    // The row under a viewport point, or -1.
    int rowAt(QPointF point) const;
    int hoveredRow() const { return m_hovered; }
    qreal contentHeight() const;
    // The row's text layout, or null while the row is away from the screen and only estimated.
    const HistoryRowLayout *rowLayout(int index) const;
    // How many rows the last paint drew.
    int paintedRows() const { return m_paintedRows; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    bool viewportEvent(QEvent *event) override;

private:
    struct Placed {
        qreal top = 0;
        HistoryRowLayout layout; // a shallow copy of the cached one, or an estimate
        bool laidOut = false;
    };

    void relayout();
    // Lays out the rows near the screen, keeping the first visible row where it is on screen.
    void layOutNearRows();
    void placeRows();
    // The row at or above a height in the content, 0 above the first.
    int rowIndexAt(qreal contentY) const;
    qreal columnWidth() const;
    qreal columnLeft() const;
    const HistoryRowLayout *cachedLayout(const QUuid &id, const QString &text) const;
    void setHovered(int row);

    HistoryPageModel &m_model;
    struct Cached {
        QString text;
        HistoryRowLayout layout;
    };
    QHash<QUuid, Cached> m_layouts;
    qreal m_layoutWidth = -1;
    std::vector<Placed> m_placed;
    qreal m_height = 0;
    int m_hovered = -1;
    int m_paintedRows = 0;
    // While rows are placed or laid out, the scroll bar moves they cause lay out nothing more.
    bool m_placing = false;
};

} // namespace zq

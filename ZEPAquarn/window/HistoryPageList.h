#pragma once

#include "window/HistoryPageRow.h"

#include <QAbstractScrollArea>
#include <QHash>
#include <QUuid>

#include <vector>

namespace zq {

class HistoryPageModel;

// The History page's list: the rows the search matches, newest first, in a column at most 760
// wide centred in the view. Rows are drawn, not built as widgets: only those on screen are painted,
// and each transcript is laid out once per width, so 500 transcripts scroll and filter cheaply.
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
    // How many rows the last paint drew.
    int paintedRows() const { return m_paintedRows; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    bool viewportEvent(QEvent *event) override;

private:
    struct Placed {
        qreal top = 0;
        HistoryRowLayout layout; // a shallow copy of the cached one
    };

    void relayout();
    qreal columnWidth() const;
    qreal columnLeft() const;
    const HistoryRowLayout &layoutFor(const QUuid &id, const QString &text, qreal width);
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
};

} // namespace zq

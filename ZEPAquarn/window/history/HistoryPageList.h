#pragma once

#include "window/history/HistoryPageRow.h"

#include <QAbstractScrollArea>
#include <QHash>
#include <QUuid>

#include <optional>
#include <utility>
#include <vector>

namespace zq {

class HistoryPageModel;

// The History page's list: the rows the search matches, newest first, in a column at most 760
// wide centred in the view. Rows are drawn, not built as widgets: only those on screen are painted.
// Only rows within a screen's height of the visible ones are laid out (once per width); the others
// are placed by an estimated height until they come near, so 500 long transcripts open, scroll and
// filter cheaply.
//
// The keyboard moves between the rows and their Copy and Delete (see HistoryFocusMove); Enter or Space
// runs the part it stands on and Delete or Backspace deletes its row. A drag over a transcript selects
// part of it, which Ctrl+C copies. Screen readers see a list of the rows on screen (HistoryRowAccessible).
class HistoryPageList : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit HistoryPageList(HistoryPageModel &model, QWidget *parent = nullptr);
    ~HistoryPageList() override;

    HistoryPageModel &model() const { return m_model; }

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
    // The rows at least partly on screen, first and last; first > last when there are none.
    std::pair<int, int> visibleRows() const;
    // The index of the row showing that transcript, or -1.
    int rowIndex(const QUuid &id) const;
    // A part of a row on screen, in global coordinates.
    QRect globalRect(int row, HistoryRowPart part) const;

    // Where the keyboard stands; none before it came to the list or once its row has gone.
    std::optional<HistoryFocusStop> focusStop() const;
    // Moves the keyboard there and scrolls the row into view.
    void setFocusStop(HistoryFocusStop stop);
    // What Enter on the part does: copies or deletes the row's transcript (a row itself does nothing).
    void activate(int row, HistoryRowPart part);
    // The part of a transcript selected with the pointer; empty when nothing is selected.
    QString selectedText() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    bool focusNextPrevChild(bool next) override;
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
    void scrollToRow(int row);
    // The button of a row under a viewport point, if any.
    std::optional<HistoryRowPart> buttonAt(int row, QPointF point) const;
    void clearSelection();

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
    // Kept by transcript, so they stay with their row while the search changes the list.
    QUuid m_focusId;
    HistoryRowPart m_focusPart = HistoryRowPart::row;
    // Where that row was, for handing the keyboard on when it goes.
    int m_focusRow = 0;
    // The ring shows where the keyboard stands once the keyboard has moved it, not after a click.
    bool m_ringShown = false;
    QUuid m_selectionId;
    HistoryTextSelection m_selection;
    bool m_selecting = false;
    // The button a press went down on: a click runs it when it comes up there too.
    std::optional<std::pair<QUuid, HistoryRowPart>> m_pressed;
};

} // namespace zq

#pragma once

#include "menubar/brand/Palette.h"

#include <QFrame>

class QVBoxLayout;

namespace zq {

// Which edge of the popover carries the arrow: the top when it opens below its anchor.
enum class PopoverArrowEdge { top, bottom };

// The popover's drawing: a raised surface in a rounded rectangle with an arrow on one edge whose tip
// is at `arrowX` (from the left of `rect`), a hairline along the whole outline and, when `shadowed`,
// a soft shadow in the margin around it. `rect` includes that margin.
struct PopoverLook {
    static constexpr qreal kRadius = 10;
    static constexpr qreal kArrowWidth = 18;
    static constexpr qreal kArrowHeight = 8;
    // Room left around the shape for the shadow.
    static constexpr int kShadowMargin = 12;

    // The outline (surface and arrow) inside `rect`.
    static QPainterPath outline(const QRectF &rect, PopoverArrowEdge edge, qreal arrowX);
    static void paint(QPainter &painter, const QRectF &rect, PopoverArrowEdge edge, qreal arrowX, bool shadowed,
                      ColorScheme scheme);
};

// A popover: a popup window in the brand's look that opens below a control with its arrow pointing
// at it, or above it when asked (either way on the other side when there is no room). It closes on Escape or a click
// outside it, like every popup. Without a compositing manager it cuts itself to its outline and draws no shadow.
class ZepaPopover : public QFrame {
    Q_OBJECT
public:
    explicit ZepaPopover(QWidget *parent = nullptr);

    // The room between the surface's edge and its content, in points.
    static constexpr int kPadding = 13;

    // The layout that holds the content, inside the padding.
    QVBoxLayout *contentLayout() const { return m_content; }
    // Sizes the popover for its content and shows it at `anchor` (its bounds in global coordinates),
    // below it for an arrow on the top edge, above it for one on the bottom edge.
    void popUp(const QRect &anchor, PopoverArrowEdge preferred = PopoverArrowEdge::top);

    qreal arrowX() const { return m_arrowX; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void applyMargins();
    void applyMask();

    QVBoxLayout *m_content;
    bool m_composited;
    PopoverArrowEdge m_edge = PopoverArrowEdge::top;
    qreal m_arrowX = 0;
};

} // namespace zq

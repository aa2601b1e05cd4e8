#include "menubar/brand/ZepaPopover.h"

#include "menubar/brand/Compositor.h"
#include "menubar/brand/Metrics.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

namespace zq {

QPainterPath PopoverLook::outline(const QRectF &rect, PopoverArrowEdge edge, qreal arrowX)
{
    const QRectF inner = rect.adjusted(kShadowMargin, kShadowMargin, -kShadowMargin, -kShadowMargin);
    const QRectF body =
        edge == PopoverArrowEdge::top ? inner.adjusted(0, kArrowHeight, 0, 0) : inner.adjusted(0, 0, 0, -kArrowHeight);
    QPainterPath shape;
    shape.addRoundedRect(body, kRadius, kRadius);
    // The arrow keeps clear of the rounded corners.
    const qreal tip = std::clamp(rect.left() + arrowX, body.left() + kRadius + kArrowWidth / 2,
                                 body.right() - kRadius - kArrowWidth / 2);
    QPainterPath arrow;
    if (edge == PopoverArrowEdge::top) {
        arrow.moveTo(tip - kArrowWidth / 2, body.top() + 1);
        arrow.lineTo(tip, inner.top());
        arrow.lineTo(tip + kArrowWidth / 2, body.top() + 1);
    } else {
        arrow.moveTo(tip - kArrowWidth / 2, body.bottom() - 1);
        arrow.lineTo(tip, inner.bottom());
        arrow.lineTo(tip + kArrowWidth / 2, body.bottom() - 1);
    }
    arrow.closeSubpath();
    return shape.united(arrow).simplified();
}

void PopoverLook::paint(QPainter &painter, const QRectF &rect, PopoverArrowEdge edge, qreal arrowX, bool shadowed,
                        ColorScheme scheme)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath shape = outline(rect, edge, arrowX);
    if (shadowed) {
        // A soft shadow: the outline widened step by step, each ring faint, a little lower than the shape.
        painter.setBrush(Qt::NoBrush);
        const QPainterPath lowered = shape.translated(0, 2);
        for (int step = kShadowMargin - 2; step >= 1; --step) {
            QColor shade(0, 0, 0, scheme == ColorScheme::dark ? 14 : 7);
            painter.setPen(QPen(shade, 2.0 * step, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            painter.drawPath(lowered);
        }
    }
    painter.setPen(Qt::NoPen);
    painter.fillPath(shape, Palette::color(Palette::surfaceRaised, scheme));
    painter.setPen(QPen(Palette::color(Palette::hairline, scheme), Metrics::kHairline));
    painter.drawPath(shape);
    painter.restore();
}

ZepaPopover::ZepaPopover(QWidget *parent)
    : QFrame(parent, Qt::Popup | Qt::FramelessWindowHint | Qt::NoDropShadowWindowHint),
      m_content(new QVBoxLayout(this)), m_composited(compositorRunning().value_or(false))
{
    setFrameShape(QFrame::NoFrame);
    if (m_composited)
        setAttribute(Qt::WA_TranslucentBackground);
    applyMargins();
}

void ZepaPopover::applyMargins()
{
    const int margin = PopoverLook::kShadowMargin + kPadding;
    const int arrow = int(PopoverLook::kArrowHeight);
    m_content->setContentsMargins(margin, margin + (m_edge == PopoverArrowEdge::top ? arrow : 0), margin,
                                  margin + (m_edge == PopoverArrowEdge::bottom ? arrow : 0));
}

void ZepaPopover::popUp(const QRect &anchor, PopoverArrowEdge preferred)
{
    m_edge = preferred;
    applyMargins();
    adjustSize();
    const QScreen *screen = QGuiApplication::screenAt(anchor.center());
    const QRect area =
        screen ? screen->availableGeometry() : QRect(anchor.center() - QPoint(2000, 2000), QSize(4000, 4000));
    const int margin = PopoverLook::kShadowMargin;
    // The arrow's tip touches the anchor's edge: under it for an arrow on top, over it for one below.
    const int below = anchor.bottom() + 1 - margin;
    const int above = anchor.top() - height() + margin;
    const bool fitsBelow = below + height() - margin <= area.bottom();
    const bool fitsAbove = above + margin >= area.top();
    // Where neither side fits, the side with more room shows more of it.
    const bool moreRoomAbove = anchor.top() - area.top() > area.bottom() - anchor.bottom();
    if (preferred == PopoverArrowEdge::top ? !fitsBelow && (fitsAbove || moreRoomAbove)
                                           : !fitsAbove && (fitsBelow || !moreRoomAbove)) {
        m_edge = preferred == PopoverArrowEdge::top ? PopoverArrowEdge::bottom : PopoverArrowEdge::top;
        applyMargins();
    }
    QPoint at(anchor.center().x() - width() / 2, m_edge == PopoverArrowEdge::top ? below : above);
    at.setX(
        std::clamp(at.x(), area.left() - margin, std::max(area.left() - margin, area.right() + 1 + margin - width())));
    m_arrowX = anchor.center().x() - at.x();
    move(at);
    applyMask();
    show();
}

void ZepaPopover::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    PopoverLook::paint(painter, QRectF(rect()), m_edge, m_arrowX, m_composited, colorSchemeOf(*this));
}

void ZepaPopover::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    applyMask();
}

void ZepaPopover::applyMask()
{
    // Without a compositing manager a translucent window paints black: cut it to its outline instead.
    if (m_composited)
        return;
    setMask(QRegion(PopoverLook::outline(QRectF(rect()), m_edge, m_arrowX).toFillPolygon().toPolygon()));
}

} // namespace zq

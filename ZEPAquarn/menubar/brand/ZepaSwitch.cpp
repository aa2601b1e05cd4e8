#include "menubar/brand/ZepaSwitch.h"

#include "menubar/brand/FocusRing.h"
#include "menubar/brand/Metrics.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace zq {

namespace {

// Room around the track for the focus ring: drawn on the track, the ring would vanish into the
// green of a switch that is on.
constexpr qreal kRingMargin = 3;

} // namespace

ZepaSwitch::ZepaSwitch(Size size, QWidget *parent) : QAbstractButton(parent), m_size(size)
{
    setCheckable(true);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusPolicy(Qt::StrongFocus);
}

QSizeF ZepaSwitch::trackSize(Size size)
{
    switch (size) {
    case Size::regular:
        return {38, 22};
    case Size::small:
        return {32, 18};
    case Size::mini:
        return {26, 15};
    }
    return {38, 22};
}

void ZepaSwitch::paint(QPainter &painter, const QRectF &rect, bool on, bool enabled, ColorScheme scheme)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    if (!enabled)
        painter.setOpacity(painter.opacity() * 0.5);
    const qreal radius = rect.height() / 2;
    QPainterPath track;
    track.addRoundedRect(rect, radius, radius);
    painter.fillPath(track, Palette::color(on ? Palette::brandGreen : Palette::pending, scheme));

    const qreal inset = std::max<qreal>(1.5, rect.height() * 0.08);
    const qreal knob = rect.height() - 2 * inset;
    const qreal x = on ? rect.right() - inset - knob : rect.left() + inset;
    painter.setPen(Qt::NoPen);
    painter.setBrush(Palette::color(Palette::onBrand, scheme));
    painter.drawEllipse(QRectF(x, rect.top() + inset, knob, knob));
    painter.restore();
}

QSize ZepaSwitch::sizeHint() const
{
    return (trackSize(m_size) + QSizeF(2 * kRingMargin, 2 * kRingMargin)).toSize();
}

void ZepaSwitch::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QSizeF track = trackSize(m_size);
    const QRectF area(QPointF(kRingMargin, (height() - track.height()) / 2), track);
    paint(painter, area, isChecked(), isEnabled(), colorSchemeOf(*this));
    if (showsFocusRing(*this))
        paintFocusRing(painter, area.adjusted(-kRingMargin, -kRingMargin, kRingMargin, kRingMargin),
                       track.height() / 2 + kRingMargin, colorSchemeOf(*this));
}

} // namespace zq

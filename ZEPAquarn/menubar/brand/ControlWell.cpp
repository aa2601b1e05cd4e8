#include "menubar/brand/ControlWell.h"

#include "menubar/brand/FocusRing.h"
#include "menubar/brand/Metrics.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>

namespace zq {

void strokeInsideEdge(QPainter &painter, const QRectF &rect, double radius, const QColor &color)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(color, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(strokedRect(rect), radius - 0.5, radius - 0.5);
    painter.restore();
}

void paintControlWell(QPainter &painter, const QRectF &rect, ColorScheme scheme, double radius)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(rect, radius, radius);
    painter.fillPath(shape, Palette::color(Palette::controlFill, scheme));
    strokeInsideEdge(painter, rect, radius, Palette::color(Palette::hairline, scheme));
    painter.restore();
}

void ControlWell::setFocusRingShown(bool shown)
{
    disconnect(m_focusWatch);
    m_focusWatch = {};
    update();
    if (!shown)
        return;
    m_focusWatch = connect(qApp, &QApplication::focusChanged, this, [this](QWidget *old, QWidget *now) {
        const auto inside = [this](QWidget *widget) { return widget && (widget == this || isAncestorOf(widget)); };
        if (inside(old) || inside(now))
            update();
    });
}

bool ControlWell::holdsFocus() const
{
    QWidget *focused = QApplication::focusWidget();
    return focused && (focused == this || isAncestorOf(focused));
}

void ControlWell::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paintControlWell(painter, QRectF(rect()), colorSchemeOf(*this));
    if (m_focusWatch && holdsFocus())
        paintFocusRing(painter, QRectF(rect()), Metrics::kControlRadius, colorSchemeOf(*this));
}

} // namespace zq

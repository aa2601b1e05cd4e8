#include "menubar/brand/ZepaSpinner.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zq {

ZepaSpinner::ZepaSpinner(qreal side, QWidget *parent)
    : QWidget(parent), m_side(side), m_frames(motion::spinnerStep, [this](rt::Nanos) {
          update();
          return true;
      })
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFixedSize(sizeHint());
}

void ZepaSpinner::paint(QPainter &painter, const QRectF &rect, const QColor &color, double seconds)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = std::min(rect.width(), rect.height());
    const qreal outer = side / 2;
    const qreal inner = outer * 0.45;
    const qreal width = std::max<qreal>(1.0, side * 0.1);
    // The brightest spoke steps round once a second; the others fade behind it.
    const int lead = int(std::floor(seconds * kSpokes)) % kSpokes;
    painter.translate(rect.center());
    for (int spoke = 0; spoke < kSpokes; ++spoke) {
        const int behind = ((lead - spoke) % kSpokes + kSpokes) % kSpokes;
        QColor ink = color;
        const double trail = 1.0 - behind / double(kSpokes - 1);
        ink.setAlphaF(float(color.alphaF() * (0.25 + 0.75 * trail * trail)));
        painter.setPen(QPen(ink, width, Qt::SolidLine, Qt::RoundCap));
        const double angle = 2 * std::numbers::pi * spoke / kSpokes;
        const QPointF direction(std::sin(angle), -std::cos(angle));
        painter.drawLine(direction * inner, direction * (outer - width / 2));
    }
    painter.restore();
}

QSize ZepaSpinner::sizeHint() const
{
    return QSizeF(m_side, m_side).toSize();
}

bool ZepaSpinner::isAnimating() const
{
    return m_frames.isActive();
}

void ZepaSpinner::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const double seconds = isAnimating() ? motion::Seconds(m_frames.motion()->now() - m_shownAt).count() : 0.0;
    paint(painter, QRectF(rect()), Palette::color(Palette::textSecondary, colorSchemeOf(*this)), seconds);
}

void ZepaSpinner::showEvent(QShowEvent *event)
{
    if (Motion *motion = Motion::of(*this)) {
        m_shownAt = motion->now();
        m_frames.start(*motion);
    }
    QWidget::showEvent(event);
}

void ZepaSpinner::hideEvent(QHideEvent *event)
{
    m_frames.stop();
    QWidget::hideEvent(event);
}

} // namespace zq

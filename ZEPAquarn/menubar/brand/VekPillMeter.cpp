#include "menubar/brand/VekPillMeter.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zq {

namespace {

constexpr double kRadius = 0.4511818181818182;
constexpr double kStroke = 0.0976590909090909;
constexpr double kHalfSpanDegrees = 34;
constexpr double kLiquidRadius = 0.38235227272727274;
// Top, right, bottom, left, with y growing downwards.
constexpr std::array<double, 4> kCentreAngles = {-std::numbers::pi / 2, 0, std::numbers::pi / 2, std::numbers::pi};

struct Square {
    QRectF rect;
    QPointF centre;
    double side = 0;
};

Square drawingSquare(const QRectF &rect)
{
    const double side = std::min(rect.width(), rect.height());
    const QRectF square(rect.left() + (rect.width() - side) / 2, rect.top() + (rect.height() - side) / 2, side, side);
    return {square, square.center(), side};
}

// The 68° arc around angle `a`, with increasing angle (clockwise on screen, y down).
QPainterPath arcPath(const QPointF &centre, double radius, double a)
{
    const QRectF box(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    const double startDegrees = -(a * 180 / std::numbers::pi - kHalfSpanDegrees);
    QPainterPath path;
    path.arcMoveTo(box, startDegrees);
    // Qt's angles run counter-clockwise on screen: a negative sweep follows increasing angle.
    path.arcTo(box, startDegrees, -2 * kHalfSpanDegrees);
    return path;
}

void strokeArc(QPainter &painter, const QPainterPath &arc, const QColor &color, double width, double opacity)
{
    QPen pen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::MiterJoin);
    pen.setMiterLimit(10);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.setOpacity(painter.opacity() * opacity);
    painter.drawPath(arc);
}

} // namespace

std::array<double, 4> VekPillMeter::levels() const
{
    std::array<double, 4> result{};
    for (int i = 0; i < 4; ++i)
        result[static_cast<std::size_t>(i)] = history.level(now, staggered ? kStagger * i : rt::Nanos(0));
    return result;
}

rt::Seconds VekPillMeter::waveElapsed() const
{
    return motion == VekMotion::surface ? rt::Seconds(std::max(rt::Nanos(0), now - startedAt)) : rt::Seconds(0);
}

void VekPillMeter::paint(QPainter &painter, const QRectF &rect) const
{
    paint(painter, rect, motion, color, levels(), waveElapsed());
}

void VekPillMeter::paint(QPainter &painter, const QRectF &rect, VekMotion motion, const QColor &color,
                         const std::array<double, 4> &level, rt::Seconds waveElapsed)
{
    const Square square = drawingSquare(rect);
    const double s = square.side;
    if (s <= 0)
        return;
    const QPointF c = square.centre;
    const double radius = kRadius * s;
    const double stroke = kStroke * s;
    const double mean = (level[0] + level[1] + level[2] + level[3]) / 4;

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    switch (motion) {
    case VekMotion::scaledPieces:
        for (std::size_t i = 0; i < 4; ++i) {
            painter.save();
            const double a = kCentreAngles[i];
            const QPointF mid = c + QPointF(std::cos(a), std::sin(a)) * radius;
            const double k = 0.55 + 0.5 * level[i];
            painter.translate(mid);
            painter.scale(k, k);
            painter.translate(-mid);
            strokeArc(painter, arcPath(c, radius, a), color, stroke, 0.55 + 0.45 * level[i]);
            painter.restore();
        }
        break;
    case VekMotion::bandSwell: {
        painter.save();
        const double k = 1 + 0.04 * mean;
        painter.translate(c);
        painter.scale(k, k);
        painter.translate(-c);
        for (std::size_t i = 0; i < 4; ++i) {
            painter.save();
            strokeArc(painter, arcPath(c, radius, kCentreAngles[i]), color, stroke * (0.45 + 0.95 * level[i]),
                      0.5 + 0.5 * level[i]);
            painter.restore();
        }
        painter.restore();
        break;
    }
    case VekMotion::surface: {
        const double t = waveElapsed.count();
        const double r = kLiquidRadius * s;
        painter.save();
        QPainterPath circle;
        circle.addEllipse(c, r, r);
        painter.setClipPath(circle);
        const double phase = (2.5 * mean + 0.8) * t;
        // The level rises from 8 % to 92 % of the circle as the mean goes from 0 to 1.
        const double base = c.y() + r - 2 * r * (0.84 * mean + 0.08);
        QPainterPath liquid;
        liquid.moveTo(square.rect.bottomLeft());
        for (double x = 0; x <= s; x += 1.5) {
            const double u = x / s;
            liquid.lineTo(square.rect.left() + x,
                          base + std::sin(phase + 5 * u) * 0.018 * s + std::sin(11 * u - 1.4 * phase) * 0.008 * s);
        }
        liquid.lineTo(square.rect.bottomRight());
        liquid.closeSubpath();
        QColor fill = color;
        fill.setAlphaF(static_cast<float>(color.alphaF() * 0.85));
        painter.fillPath(liquid, fill);
        painter.restore();
        for (std::size_t i = 0; i < 4; ++i) {
            painter.save();
            strokeArc(painter, arcPath(c, radius, kCentreAngles[i]), color, stroke, 0.28);
            painter.restore();
        }
        break;
    }
    }
    painter.restore();
}

void paintVekPillMeter(QPainter &painter, const QRectF &rect, VekMotion motion, const QColor &color,
                       const LevelHistory &history, rt::Nanos now, rt::Nanos startedAt, bool staggered)
{
    VekPillMeter{motion, color, history, now, startedAt, staggered}.paint(painter, rect);
}

} // namespace zq

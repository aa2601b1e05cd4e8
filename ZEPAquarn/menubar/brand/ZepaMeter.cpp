#include "menubar/brand/ZepaMeter.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace zq {

namespace {

double unit(double value)
{
    return std::clamp(value, 0.0, 1.0);
}

double easeOutCubic(double c)
{
    return 1 - std::pow(1 - c, 3);
}

} // namespace

double ZepaMeter::barWidth() const
{
    return std::max(0.19 * height, 3.0);
}

double ZepaMeter::spacing() const
{
    return std::max(0.89 * barWidth(), 2.0);
}

double ZepaMeter::frameWidth() const
{
    return 4 * barWidth() + 3 * spacing();
}

double ZepaMeter::restFraction() const
{
    return barWidth() / height;
}

double ZepaMeter::liveFraction(int bar, double level, rt::Nanos time, bool staggered, double restFraction)
{
    const double f0 = restFraction;
    double b = f0 + (1 - f0) * unit(level);
    if (staggered) {
        const double index = static_cast<double>(bar);
        const double wobble = (std::sin(4.5 * rt::Seconds(time).count() - 0.9 * index) * 0.5 + 0.5) * 0.55 + 0.45;
        b = f0 + (1 - f0) * unit((b - f0) / (1 - f0)) * wobble * kWeights[static_cast<std::size_t>(bar)];
    }
    return b;
}

ZepaMeter::Bar ZepaMeter::barGeometry(int bar) const
{
    const double f0 = restFraction();
    if (rollupElapsed) {
        const double from =
            static_cast<std::size_t>(bar) < rollupFrom.size() ? rollupFrom[static_cast<std::size_t>(bar)] : 1.0;
        // The rightmost bar sinks first, the leftmost 0.165 s later.
        const double e = easeOutCubic(unit((*rollupElapsed - kStagger * (3 - bar)) / kEase));
        const double n = (from - f0) / (1 - f0);
        return {f0 + (from - f0) * (1 - e), (1 - e) * (0.55 + 0.45 * unit(n))};
    }
    const double level = history.level(now, staggered ? kStagger * bar : rt::Nanos(0));
    const double b = liveFraction(bar, level, now, staggered, f0);
    const double n = unit((b - f0) / (1 - f0));
    if (!revealElapsed)
        return {b, 0.55 + 0.45 * n};
    const double e = easeOutCubic(unit((*revealElapsed - kStagger * bar) / kEase));
    return {f0 + (b - f0) * e, e * (0.55 + 0.45 * n * e)};
}

std::array<ZepaMeter::Bar, 4> ZepaMeter::bars() const
{
    std::array<Bar, 4> result;
    for (int bar = 0; bar < 4; ++bar)
        result[static_cast<std::size_t>(bar)] = barGeometry(bar);
    return result;
}

void ZepaMeter::paint(QPainter &painter, const QRectF &rect) const
{
    paintBars(painter, rect, height, color, bars());
}

void ZepaMeter::paintBars(QPainter &painter, const QRectF &rect, double height, const QColor &color,
                          const std::array<Bar, 4> &bars)
{
    ZepaMeter meter;
    meter.height = height;
    const double w = meter.barWidth();
    const double gap = meter.spacing();
    const double left = rect.center().x() - meter.frameWidth() / 2;
    const double middle = rect.center().y();
    painter.save();
    painter.setPen(Qt::NoPen);
    for (int bar = 0; bar < 4; ++bar) {
        const Bar geometry = bars[static_cast<std::size_t>(bar)];
        if (geometry.opacity <= 0)
            continue;
        // The bar is a w × h capsule scaled vertically, so its ends flatten into a dot at rest.
        const double drawn = geometry.fraction * height;
        const QRectF capsule(left + bar * (w + gap), middle - drawn / 2, w, drawn);
        const double radius = std::min(w, drawn) / 2;
        QColor fill = color;
        fill.setAlphaF(static_cast<float>(color.alphaF() * unit(geometry.opacity)));
        painter.setBrush(fill);
        painter.drawRoundedRect(capsule, radius, radius);
    }
    painter.restore();
}

} // namespace zq

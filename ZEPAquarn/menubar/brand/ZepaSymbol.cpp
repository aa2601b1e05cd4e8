#include "menubar/brand/ZepaSymbol.h"

#include "menubar/brand/Motion.h"
#include "menubar/brand/PathData.h"

#include <QPainter>

#include <cmath>
#include <numbers>

namespace zq {

namespace {

// Outlines of the four arcs in the 100 × 100 design space (y grows downwards).
constexpr std::array<const char16_t *, 4> kArcData{
    // 0: top
    u"M25.1603 16.3141C32.5129 12.0256 41.1026 9.76282 49.9936 9.76282C58.8847 9.76282 67.468 12.0321 74.8206 "
    u"16.3141L75.327 16.5769H75.4295C75.6859 16.6538 75.9424 16.6923 76.1988 16.6923C77.0065 16.6923 77.7885 "
    u"16.3205 78.3206 15.6474C79.0513 14.7115 79.2116 13.1923 78.109 12.0833C70.3398 4.29487 60.359 0 49.9936 "
    u"0C39.6283 0 29.6411 4.29487 21.8783 12.0897C20.7821 13.1987 20.9488 14.718 21.6795 15.6474C22.3975 16.5641 "
    u"23.827 17.0897 25.1603 16.3141Z",
    // 1: bottom
    u"M74.9291 83.6282L74.8329 83.6795C67.4804 87.9679 58.8906 90.2308 50.006 90.2308C41.1214 90.2308 32.5317 "
    u"87.9615 25.1791 83.6795L24.7304 83.4167H24.5637C23.5124 83.0962 22.3714 83.4551 21.6727 84.3462C20.9419 "
    u"85.2756 20.7817 86.8013 21.8842 87.9103C29.647 95.7051 39.6278 100 49.9932 100C60.3586 100 70.3329 95.7051 "
    u"78.1086 87.9103C79.2047 86.8013 79.0381 85.2821 78.3073 84.3526C77.6022 83.4551 76.224 82.9359 74.9227 "
    u"83.6346L74.9291 83.6282Z",
    // 2: right
    u"M87.8588 21.8525L87.6857 21.6987C86.7114 20.9038 85.3332 20.8974 84.3396 21.6859C83.4422 22.391 82.9229 "
    u"23.7692 83.6216 25.0705L83.6729 25.1666C87.9614 32.5192 90.2242 41.1025 90.2242 49.9936C90.2242 58.8846 "
    u"87.955 67.4679 83.6729 74.8269C82.8909 76.1602 83.4165 77.5961 84.3396 78.3205C84.8011 78.6795 85.4037 "
    u"78.9038 86.0255 78.9038C86.6473 78.9038 87.3396 78.6666 87.8973 78.1089C95.5575 70.4872 99.846 60.6795 "
    u"99.9806 50.5V50C99.9806 39.6346 95.6858 29.6538 87.8588 21.8589V21.8525Z",
    // 3: left
    u"M16.5769 24.7307V24.5641C16.8974 23.5128 16.5385 22.3718 15.6474 21.6731C14.7179 20.9423 13.1923 20.782 "
    u"12.0833 21.8846C4.29487 29.6538 0 39.6346 0 50C0 60.3654 4.29487 70.3397 12.0833 78.109L12.1282 "
    u"78.1538C12.6795 78.6795 13.3269 78.8974 13.9487 78.8974C14.5705 78.8974 15.1795 78.6731 15.641 "
    u"78.3141C16.5577 77.5897 17.0769 76.1666 16.3077 74.8333C12.0192 67.4807 9.75641 58.8974 9.75641 "
    u"50.0064C9.75641 41.1154 12.0256 32.532 16.3077 25.1795L16.5705 24.7307H16.5769Z",
};

// Per arc: its place in the assembly and the direction it flies in from (degrees, 0 = from above).
constexpr std::array<int, 4> kAssemblyOrder{0, 2, 1, 3};
constexpr std::array<double, 4> kFlyInAngle{0, 180, 90, 270};

} // namespace

const std::array<QPainterPath, 4> &ZepaSymbol::arcPaths()
{
    static const std::array<QPainterPath, 4> paths = [] {
        std::array<QPainterPath, 4> parsed;
        for (std::size_t i = 0; i < parsed.size(); ++i) {
            parsed[i] = parsePathData(kArcData[i]);
            parsed[i].setFillRule(Qt::WindingFill);
        }
        return parsed;
    }();
    return paths;
}

QPainterPath ZepaSymbol::Arc::path(const QRectF &rect) const
{
    Q_ASSERT(index >= 0 && index < 4);
    const qreal k = std::min(rect.width(), rect.height()) / 100.0;
    QTransform place;
    place.translate(rect.left(), rect.top());
    place.scale(k, k);
    return place.map(arcPaths().at(std::size_t(index)));
}

ZepaSymbol::Assembly ZepaSymbol::assembleOffset(int index, double elapsed)
{
    const std::size_t i = std::size_t(index);
    const double p = motion::standard.ease((elapsed - kStagger * kAssemblyOrder.at(i)) / kArcDuration);
    const double a = kFlyInAngle.at(i) * std::numbers::pi / 180.0;
    const double distance = (1.0 - p) * kFlyInDistance;
    return {QPointF(distance * std::sin(a), -distance * std::cos(a)), p};
}

void ZepaSymbol::paint(QPainter &painter, const QRectF &rect) const
{
    const QRectF frame(rect.center().x() - size / 2, rect.center().y() - size / 2, size, size);
    painter.save();
    const qreal baseOpacity = painter.opacity();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    if (!reduceMotion) {
        painter.translate(frame.center());
        painter.rotate(rotation);
        painter.translate(-frame.center());
    }
    const qreal designToPixels = size / 100.0;
    for (int index = 0; index < 4; ++index) {
        QPointF offset;
        double opacity = 1.0;
        if (assemble && reduceMotion) {
            // The fade of the first arc, for all four, with no slide.
            opacity = assembleOffset(0, *assemble).progress;
        } else if (assemble) {
            const Assembly at = assembleOffset(index, *assemble);
            offset = at.offset * designToPixels;
            opacity = at.progress;
        }
        if (opacity <= 0.0)
            continue;
        painter.setOpacity(baseOpacity * opacity);
        painter.setBrush(arcTint ? (*arcTint)[std::size_t(index)] : color);
        painter.drawPath(Arc{index}.path(frame.translated(offset)));
    }
    painter.restore();
}

} // namespace zq

#pragma once

#include <QColor>
#include <QPainterPath>
#include <QPointF>
#include <QRectF>

#include <array>
#include <optional>

class QPainter;

namespace zq {

// The brand mark: four thick arcs (top, bottom, right, left) forming a broken ring, drawn at any size
// as a pure function of its inputs. With `assemble` set, the arcs fly in one after another from
// outside while fading in; the caller advances `assemble` and `rotation` from its own timeline.
struct ZepaSymbol {
    // Edge of the square frame, pixels.
    qreal size = 22;
    // Fill of every arc unless `arcTint` is given.
    QColor color;
    // Rotation of the whole mark about its centre, degrees clockwise.
    qreal rotation = 0;
    // Seconds since the assembly began; none: complete and still.
    std::optional<double> assemble;
    // One fill per arc, by arc index.
    std::optional<std::array<QColor, 4>> arcTint;
    // Less motion: no rotation, and the arcs fade in together where they stand.
    bool reduceMotion = false;

    static constexpr double kStagger = 0.11;
    static constexpr double kArcDuration = 0.57;
    static constexpr double kAssemblyDuration = 0.9;
    static constexpr double kFlyInDistance = 19.52; // design units of the 100 × 100 artwork

    // One arc's outline placed in a rectangle: scaled by min(width, height)/100 from the design
    // origin, then moved to the rectangle's top-left corner (not centred in a wider rectangle).
    struct Arc {
        int index;
        QPainterPath path(const QRectF &rect) const;
    };

    // Where an arc is in the assembly `elapsed` seconds in: its offset in design units and its
    // eased progress (which is also its opacity).
    struct Assembly {
        QPointF offset;
        double progress;
    };
    static Assembly assembleOffset(int index, double elapsed);

    // The four outlines in the 100 × 100 design space, parsed once for the process.
    static const std::array<QPainterPath, 4> &arcPaths();

    // Draws the mark in a size × size frame centred in `rect`.
    void paint(QPainter &painter, const QRectF &rect) const;
};

} // namespace zq

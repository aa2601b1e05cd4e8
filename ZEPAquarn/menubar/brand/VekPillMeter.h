#pragma once

#include "audio/LevelHistory.h"

#include <QColor>
#include <QRectF>

#include <array>

class QPainter;

namespace zq {

// How the meter moves the brand mark's four arcs with the voice level.
enum class VekMotion { scaledPieces, bandSwell, surface };

// Three of the listening animations, each a variation on the brand mark's four arcs driven by the
// voice level: scaled pieces, band swell and a liquid surface. The fourth, logo + bars, belongs to
// the bar meter. The pill and the animation gallery both use it.
struct VekPillMeter {
    VekMotion motion = VekMotion::scaledPieces;
    QColor color;
    LevelHistory history;
    rt::Nanos now{0};       // on the main loop's clock, the history's
    rt::Nanos startedAt{0}; // when the capture went live: the phase origin of the surface wave
    bool staggered = true;

    static constexpr rt::Nanos kStagger = rt::seconds(0.055);

    // The four levels the arcs show, top, right, bottom, left.
    std::array<double, 4> levels() const;

    // How long the surface wave has run: its phase. The other motions do not move on their own.
    rt::Seconds waveElapsed() const;

    // Draws in the centred square of `rect`'s smaller side.
    void paint(QPainter &painter, const QRectF &rect) const;
    // The same from the four levels and the wave's time it resolves to: a caller that keeps what
    // it drew can tell when a frame would draw the same.
    static void paint(QPainter &painter, const QRectF &rect, VekMotion motion, const QColor &color,
                      const std::array<double, 4> &level, rt::Seconds waveElapsed);
};

// The same, for the gallery: a motion drawn in `rect` from `history` at `now`.
void paintVekPillMeter(QPainter &painter, const QRectF &rect, VekMotion motion, const QColor &color,
                       const LevelHistory &history, rt::Nanos now, rt::Nanos startedAt, bool staggered);

} // namespace zq

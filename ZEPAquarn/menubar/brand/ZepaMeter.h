#pragma once

#include "audio/LevelHistory.h"

#include <QColor>
#include <QRectF>

#include <array>
#include <optional>
#include <vector>

class QPainter;

namespace zq {

// The four-bar voice level meter: rounded bars whose heights follow the level with a gentle
// per-bar wobble, a staggered reveal when the capture goes live and a staggered roll-up back to dots
// when it ends. A pure function of its fields and the time it is given.
struct ZepaMeter {
    double height = 18;
    QColor color;
    LevelHistory history;
    double now = 0; // seconds since 2001-01-01 UTC, the history's clock
    bool staggered = true;
    // Seconds since the roll-up began; while present the history is not read.
    std::optional<double> rollupElapsed;
    // Seconds since the reveal began; while present the live bars grow in.
    std::optional<double> revealElapsed;
    // The bar height fractions when the roll-up began; a missing bar starts from full height.
    std::vector<double> rollupFrom;

    static constexpr std::array<double, 4> kWeights = {0.78, 0.96, 1.0, 0.82};
    static constexpr double kStagger = 0.055;
    static constexpr double kEase = 0.24;

    double barWidth() const;
    double spacing() const;
    double frameWidth() const;
    // A bar at rest is a round dot: its width over the meter's height.
    double restFraction() const;

    struct Bar {
        double fraction = 0; // of the meter's height
        double opacity = 0;
        friend bool operator==(const Bar &, const Bar &) = default;
    };
    Bar barGeometry(int bar) const;
    // All four, left to right: what paint() draws.
    std::array<Bar, 4> bars() const;

    // The live height fraction of `bar` for `level` at `time`, wobbled and weighted when staggered.
    static double liveFraction(int bar, double level, double time, bool staggered, double restFraction);

    // Draws the bars centred in `rect`.
    void paint(QPainter &painter, const QRectF &rect) const;
    // Draws `bars` of a meter `height` high centred in `rect`: a caller that keeps the bars it drew
    // can tell when a frame would draw the same.
    static void paintBars(QPainter &painter, const QRectF &rect, double height, const QColor &color,
                          const std::array<Bar, 4> &bars);
};

} // namespace zq

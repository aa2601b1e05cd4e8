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
    rt::Nanos now{0}; // on the main loop's clock, the history's
    bool staggered = true;
    // Time since the roll-up began; while present the history is not read.
    std::optional<rt::Seconds> rollupElapsed;
    // Time since the reveal began; while present the live bars grow in.
    std::optional<rt::Seconds> revealElapsed;
    // The bar height fractions when the roll-up began; a missing bar starts from full height.
    std::vector<double> rollupFrom;

    static constexpr std::array<double, 4> kWeights = {0.78, 0.96, 1.0, 0.82};
    static constexpr rt::Nanos kStagger = rt::seconds(0.055);
    static constexpr rt::Nanos kEase = rt::seconds(0.24);

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
    static double liveFraction(int bar, double level, rt::Nanos time, bool staggered, double restFraction);

    // Draws the bars centred in `rect`.
    void paint(QPainter &painter, const QRectF &rect) const;
    // Draws `bars` of a meter `height` high centred in `rect`: a caller that keeps the bars it drew
    // can tell when a frame would draw the same.
    static void paintBars(QPainter &painter, const QRectF &rect, double height, const QColor &color,
                          const std::array<Bar, 4> &bars);
};

} // namespace zq

#pragma once

#include <chrono>

namespace zq {

// The eased progress for the linear progress `x` on the unit cubic Bézier timing curve from (0, 0) to
// (1, 1) with the control points (x1, y1) and (x2, y2). `x` is clamped to [0, 1]. Pure; any thread.
double cubicBezierEase(double x, double x1, double y1, double x2, double y2);

// The curve parameter t whose horizontal coordinate is `x`: Newton's method, then bisection where the
// slope is too flat for it. Used by cubicBezierEase.
double cubicBezierSolveT(double x, double x1, double x2);

// A unit cubic Bézier timing curve, named by its two control points.
struct CubicBezier {
    double x1;
    double y1;
    double x2;
    double y2;

    double ease(double x) const { return cubicBezierEase(x, x1, y1, x2, y2); }
};

// A timing-curve animation: a curve and a duration. Views compute their motion from it in closed
// form, from the time elapsed since the change began.
struct TimingCurve {
    CubicBezier curve;
    std::chrono::duration<double> duration;

    // Eased progress `elapsed` into the animation: 0 before it starts, 1 once it is over.
    double progress(std::chrono::duration<double> elapsed) const;
};

} // namespace zq

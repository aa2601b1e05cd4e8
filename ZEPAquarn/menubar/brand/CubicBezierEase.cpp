#include "menubar/brand/CubicBezierEase.h"

#include <algorithm>
#include <cmath>

namespace zq {

namespace {

// One coordinate of the curve in polynomial form: ((a·t + b)·t + c)·t.
struct Polynomial {
    double a;
    double b;
    double c;

    static Polynomial fromControls(double p1, double p2)
    {
        const double c = 3.0 * p1;
        const double b = 3.0 * (p2 - p1) - c;
        return {1.0 - c - b, b, c};
    }
    double at(double t) const { return ((a * t + b) * t + c) * t; }
    double slope(double t) const { return (3.0 * a * t + 2.0 * b) * t + c; }
};

} // namespace

double cubicBezierSolveT(double x, double x1, double x2)
{
    const Polynomial curveX = Polynomial::fromControls(x1, x2);

    double t = x;
    for (int step = 0; step < 8; ++step) {
        const double slope = curveX.slope(t);
        if (std::fabs(slope) < 1e-6)
            break;
        const double error = curveX.at(t) - x;
        if (std::fabs(error) < 1e-7)
            return t;
        t -= error / slope;
    }

    double lower = 0.0;
    double upper = 1.0;
    t = x;
    for (int step = 0; step < 32; ++step) {
        const double value = curveX.at(t);
        if (std::fabs(value - x) < 1e-7)
            break;
        if (value > x)
            upper = t;
        else
            lower = t;
        t = (lower + upper) / 2.0;
    }
    return t;
}

double cubicBezierEase(double x, double x1, double y1, double x2, double y2)
{
    // A timestamp gone wrong must not carry a NaN into a drawn frame.
    if (std::isnan(x))
        return 0.0;
    x = std::clamp(x, 0.0, 1.0);
    if (x == 0.0)
        return 0.0;
    if (x == 1.0)
        return 1.0;
    const double t = cubicBezierSolveT(x, x1, x2);
    return Polynomial::fromControls(y1, y2).at(t);
}

double TimingCurve::progress(std::chrono::duration<double> elapsed) const
{
    if (duration.count() <= 0.0)
        return elapsed.count() >= 0.0 ? 1.0 : 0.0;
    return curve.ease(elapsed.count() / duration.count());
}

} // namespace zq

#include "menubar/brand/CubicBezierEase.h"
#include "menubar/brand/Palette.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

namespace {

// The curve solved by plain bisection in extended precision, far past the tolerances under test.
double reference(double x, double x1, double y1, double x2, double y2)
{
    using L = long double;
    const auto coordinate = [](L p1, L p2, L t) {
        const L u = 1 - t;
        return 3 * u * u * t * p1 + 3 * u * t * t * p2 + t * t * t;
    };
    L lower = 0, upper = 1;
    for (int i = 0; i < 200; ++i) {
        const L middle = (lower + upper) / 2;
        (coordinate(x1, x2, middle) < x ? lower : upper) = middle;
    }
    return double(coordinate(y1, y2, (lower + upper) / 2));
}

struct Controls {
    double x1, y1, x2, y2;
};

} // namespace

TEST(CubicBezierEaseTest, MatchesAHighPrecisionReferenceAcrossTheCurvesTheViewsUse)
{
    const std::array<Controls, 4> curves{{
        {0.2, 0.0, 0.0, 1.0}, // entries, exits, hover and the mark's assembly
        {0.0, 0.0, 0.2, 1.0}, // the done turn of the pill's mark: flat slope at the start
        {0.42, 0.0, 0.58, 1.0},
        {0.25, 0.1, 0.25, 1.0},
    }};
    for (const Controls &c : curves) {
        for (int i = 0; i <= 1000; ++i) {
            const double x = i / 1000.0;
            SCOPED_TRACE(testing::Message()
                         << "controls " << c.x1 << ',' << c.y1 << ',' << c.x2 << ',' << c.y2 << " x " << x);
            EXPECT_NEAR(zq::cubicBezierEase(x, c.x1, c.y1, c.x2, c.y2), reference(x, c.x1, c.y1, c.x2, c.y2), 1e-6);
        }
    }
}

TEST(CubicBezierEaseTest, ClampsItsInputAndKeepsItsEnds)
{
    for (const Controls &c : {Controls{0.2, 0, 0, 1}, Controls{0, 0, 0.2, 1}, Controls{0.9, 1.4, 0.1, -0.6}}) {
        EXPECT_EQ(zq::cubicBezierEase(-0.5, c.x1, c.y1, c.x2, c.y2), 0.0);
        EXPECT_EQ(zq::cubicBezierEase(0.0, c.x1, c.y1, c.x2, c.y2), 0.0);
        EXPECT_EQ(zq::cubicBezierEase(1.0, c.x1, c.y1, c.x2, c.y2), 1.0);
        EXPECT_EQ(zq::cubicBezierEase(7.0, c.x1, c.y1, c.x2, c.y2), 1.0);
    }
    EXPECT_EQ(zq::cubicBezierEase(std::nan(""), 0.2, 0, 0, 1), 0.0);
}

TEST(CubicBezierEaseTest, EasesOutAndDegeneratesToTheStraightLine)
{
    EXPECT_GT(zq::cubicBezierEase(0.5, 0.2, 0, 0, 1), 0.5);
    for (double x : {0.01, 0.25, 0.5, 0.77, 0.99})
        EXPECT_NEAR(zq::cubicBezierEase(x, 0, 0, 1, 1), x, 1e-6);
    // With y1 = 0 and y2 = 1 the eased value is t²(3 − 2t) of the solved parameter.
    const double t = zq::cubicBezierSolveT(0.3, 0.2, 0.0);
    EXPECT_NEAR(zq::cubicBezierEase(0.3, 0.2, 0, 0, 1), t * t * (3 - 2 * t), 1e-12);
}

TEST(CubicBezierEaseTest, AFlatStartingSlopeIsSolvedByBisection)
{
    // x1 = 0, x2 = 1: the slope at t = x is 6x(1 − x), below 1e-6 for these x, so Newton never runs.
    for (double x : {1e-8, 1e-7, 1.0 - 1e-8}) {
        const double t = zq::cubicBezierSolveT(x, 0.0, 1.0);
        const double atT = 3 * (1 - t) * t * t + t * t * t;
        EXPECT_NEAR(atT, x, 1e-7) << x;
        EXPECT_NEAR(zq::cubicBezierEase(x, 0, 0, 1, 1), x, 1e-6) << x;
    }
}

TEST(CubicBezierEaseTest, TimingCurveRunsOverItsDuration)
{
    using Seconds = std::chrono::duration<double>;
    const zq::TimingCurve hover = zq::rowHoverAnimation;
    EXPECT_EQ(hover.duration.count(), 0.215);
    EXPECT_EQ(hover.progress(Seconds(-0.1)), 0.0);
    EXPECT_EQ(hover.progress(Seconds(0.215)), 1.0);
    EXPECT_NEAR(hover.progress(Seconds(0.1075)), zq::cubicBezierEase(0.5, 0.2, 0, 0, 1), 1e-12);
    EXPECT_EQ((zq::TimingCurve{hover.curve, Seconds(0)}).progress(Seconds(0)), 1.0);
}

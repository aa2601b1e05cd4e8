#include "menubar/brand/ZepaMeter.h"

#include "menubar/brand/VekPillMeter.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>

using zq::LevelHistory;
using zq::VekPillMeter;
using zq::ZepaMeter;
using zq::rt::seconds;

namespace {

LevelHistory flat(double level)
{
    LevelHistory history;
    for (int i = 0; i <= 20; ++i)
        history.append(seconds(10 + 0.05 * i), level);
    return history;
}

ZepaMeter meterAt(double level, bool staggered)
{
    ZepaMeter meter;
    meter.color = Qt::white;
    meter.history = flat(level);
    meter.now = seconds(11);
    meter.staggered = staggered;
    return meter;
}

QImage render(const std::function<void(QPainter &)> &paint, QSize size = {44, 44})
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    paint(painter);
    return image;
}

int alphaAt(const QImage &image, int x, int y)
{
    return qAlpha(image.pixel(x, y));
}

} // namespace

TEST(ZepaMeterTest, GeometryFollowsTheHeight)
{
    ZepaMeter pill;
    EXPECT_NEAR(pill.barWidth(), 3.42, 1e-12);
    EXPECT_NEAR(pill.spacing(), 3.0438, 1e-12);
    EXPECT_NEAR(pill.frameWidth(), 22.8114, 1e-12);
    EXPECT_NEAR(pill.restFraction(), 0.19, 1e-12);
    ZepaMeter small;
    small.height = 10;
    EXPECT_EQ(small.barWidth(), 3);
    EXPECT_NEAR(small.restFraction(), 0.3, 1e-12);
    EXPECT_NEAR(small.spacing(), 2.67, 1e-12);
}

TEST(ZepaMeterTest, LiveBarsFollowTheLevel)
{
    ZepaMeter empty;
    empty.now = seconds(5);
    for (int bar = 0; bar < 4; ++bar)
        EXPECT_EQ(empty.barGeometry(bar), (ZepaMeter::Bar{0.19, 0.55})) << "a silent bar is a dot";

    const ZepaMeter loud = meterAt(1, false);
    for (int bar = 0; bar < 4; ++bar) {
        EXPECT_NEAR(loud.barGeometry(bar).fraction, 1, 1e-12);
        EXPECT_NEAR(loud.barGeometry(bar).opacity, 1, 1e-12);
    }

    // Staggered: the wobble and the weights keep every bar within its own range.
    for (double now = 10.5; now < 11; now += 0.01) {
        ZepaMeter wobbling = meterAt(1, true);
        wobbling.now = seconds(now);
        for (int bar = 0; bar < 4; ++bar) {
            const double fraction = wobbling.barGeometry(bar).fraction;
            const double ceiling = 0.19 + 0.81 * ZepaMeter::kWeights[static_cast<std::size_t>(bar)];
            EXPECT_LE(fraction, ceiling + 1e-12);
            EXPECT_GE(fraction, 0.19 + 0.81 * 0.45 * ZepaMeter::kWeights[static_cast<std::size_t>(bar)] - 1e-12);
        }
    }

    // Levels outside 0...1 never draw outside the meter.
    ZepaMeter wild = meterAt(1, false);
    wild.history = LevelHistory();
    wild.history.append(seconds(1), 7);
    EXPECT_LE(wild.barGeometry(0).fraction, 1);
}

TEST(ZepaMeterTest, TheRevealGrowsBarsFromTheLeft)
{
    ZepaMeter meter = meterAt(1, false);
    meter.revealElapsed = seconds(0);
    for (int bar = 0; bar < 4; ++bar)
        EXPECT_EQ(meter.barGeometry(bar), (ZepaMeter::Bar{0.19, 0})) << "dots at opacity 0";

    meter.revealElapsed = seconds(0.24);
    EXPECT_NEAR(meter.barGeometry(0).fraction, 1, 1e-12);
    EXPECT_NEAR(meter.barGeometry(0).opacity, 1, 1e-12);
    const double c = 0.3125; // bar 3 started 0.165 s later
    const double e = 1 - std::pow(1 - c, 3);
    EXPECT_NEAR(meter.barGeometry(3).fraction, 0.19 + 0.81 * e, 1e-12);
    EXPECT_NEAR(meter.barGeometry(3).opacity, e * (0.55 + 0.45 * e), 1e-12);
}

TEST(ZepaMeterTest, TheRollUpSinksFrozenBarsFromTheRight)
{
    ZepaMeter meter = meterAt(1, false);
    meter.rollupFrom = {0.5, 0.6, 0.7, 0.19};
    meter.rollupElapsed = seconds(0);
    EXPECT_NEAR(meter.barGeometry(0).fraction, 0.5, 1e-12);
    EXPECT_NEAR(meter.barGeometry(0).opacity, 0.55 + 0.45 * (0.31 / 0.81), 1e-12);
    EXPECT_NEAR(meter.barGeometry(3).opacity, 0.55, 1e-12) << "a bar frozen at rest";

    meter.rollupElapsed = seconds(0.1);
    EXPECT_LT(meter.barGeometry(3).opacity, meter.barGeometry(0).opacity) << "bar 3 sinks first";

    meter.rollupElapsed = seconds(0.405);
    for (int bar = 0; bar < 4; ++bar) {
        EXPECT_NEAR(meter.barGeometry(bar).fraction, 0.19, 1e-12);
        EXPECT_NEAR(meter.barGeometry(bar).opacity, 0, 1e-12);
    }

    // Fewer frozen heights than bars: the missing ones start from full height.
    ZepaMeter shortList = meterAt(0, false);
    shortList.rollupFrom = {0.4};
    shortList.rollupElapsed = seconds(0);
    EXPECT_NEAR(shortList.barGeometry(2).fraction, 1, 1e-12);
    EXPECT_NEAR(shortList.barGeometry(2).opacity, 1, 1e-12);
}

TEST(ZepaMeterTest, PaintsFourCentredBars)
{
    const ZepaMeter meter = meterAt(1, false);
    const QImage image = render([&meter](QPainter &painter) { meter.paint(painter, QRectF(0, 0, 44, 44)); });
    // Full-height bars 18 high around the centre line, four of them across 22.8 points.
    EXPECT_GT(alphaAt(image, 11, 22), 200) << "bar 0";
    EXPECT_GT(alphaAt(image, 11, 14), 200);
    EXPECT_EQ(alphaAt(image, 11, 11), 0) << "above the meter";
    EXPECT_EQ(alphaAt(image, 15, 22), 0) << "the gap between bars 0 and 1";
    EXPECT_GT(alphaAt(image, 32, 22), 200) << "bar 3";
    EXPECT_EQ(alphaAt(image, 35, 22), 0);
}

TEST(VekPillMeterTest, LevelsAreStaggeredOnlyWhenAsked)
{
    LevelHistory rising;
    for (int i = 0; i <= 10; ++i)
        rising.append(seconds(10 + 0.1 * i), 0.1 * i);
    VekPillMeter meter{zq::VekMotion::bandSwell, Qt::white, rising, seconds(10.5), seconds(10), true};
    const auto staggered = meter.levels();
    EXPECT_NEAR(staggered[0], 0.5, 1e-9);
    EXPECT_NEAR(staggered[3], 0.5 - 0.165, 1e-9);
    meter.staggered = false;
    const auto same = meter.levels();
    EXPECT_EQ(same[0], same[3]);
    EXPECT_EQ(VekPillMeter{}.levels(), (std::array<double, 4>{0, 0, 0, 0})) << "an empty history reads 0";
}

TEST(VekPillMeterTest, StylesDrawTheMarkInTheCentredSquare)
{
    const auto paint = [](zq::VekMotion motion, double level, QSize size = {44, 44}) {
        VekPillMeter meter{motion, Qt::white, flat(level), seconds(11), seconds(10), false};
        return render([&](QPainter &painter) { meter.paint(painter, QRectF(QPointF(0, 0), size)); }, size);
    };
    // Band swell at level 0: thin arcs at half opacity on the ring of radius 0.45 s.
    const QImage quiet = paint(zq::VekMotion::bandSwell, 0);
    const int top = alphaAt(quiet, 22, 22 - 20);
    EXPECT_GT(top, 60);
    EXPECT_LT(top, 160);
    EXPECT_EQ(alphaAt(quiet, 22, 22), 0) << "the ring is hollow";
    const QImage loud = paint(zq::VekMotion::bandSwell, 1);
    EXPECT_GT(alphaAt(loud, 22, 22 - 20), 230);

    // Surface: liquid fills from the bottom of the inner circle, 8 % at silence, 92 % at full level.
    const QImage low = paint(zq::VekMotion::surface, 0);
    EXPECT_GT(alphaAt(low, 22, 22 + 15), 150) << "the bottom holds liquid";
    EXPECT_EQ(alphaAt(low, 22, 22), 0) << "the middle is dry";
    const QImage high = paint(zq::VekMotion::surface, 1);
    EXPECT_GT(alphaAt(high, 22, 22), 150);

    // Scaled pieces at silence: each arc shrinks to 0.55 about its middle, at 0.55 opacity.
    const QImage still = paint(zq::VekMotion::scaledPieces, 0);
    EXPECT_NEAR(alphaAt(still, 22, 2), 140, 20) << "the top arc's middle";
    EXPECT_EQ(alphaAt(still, 12, 5), 0) << "the top arc's end drawn in";
    EXPECT_GT(alphaAt(paint(zq::VekMotion::scaledPieces, 1), 12, 5), 100);

    // The surface starts its wave at the same phase whenever the capture went live, and before
    // that it holds still at that phase.
    const auto surfaceAt = [](zq::rt::Nanos now, zq::rt::Nanos startedAt) {
        VekPillMeter meter{zq::VekMotion::surface, Qt::white, LevelHistory{}, now, startedAt, false};
        return render([&](QPainter &painter) { meter.paint(painter, QRectF(0, 0, 44, 44)); });
    };
    const QImage start = surfaceAt(seconds(11), seconds(11));
    EXPECT_EQ(surfaceAt(seconds(5000), seconds(5000)), start);
    EXPECT_EQ(surfaceAt(seconds(9), seconds(11)), start);
    EXPECT_NE(surfaceAt(seconds(12), seconds(11)), start) << "the wave moves once live";

    // A wide canvas draws in the centred square of its height.
    const QImage wide = paint(zq::VekMotion::scaledPieces, 1, {88, 44});
    EXPECT_GT(alphaAt(wide, 44, 2), 150) << "top arc centred";
    EXPECT_EQ(alphaAt(wide, 10, 22), 0) << "nothing in the left margin";
}

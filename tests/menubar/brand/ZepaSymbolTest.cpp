#include "menubar/brand/ZepaSymbol.h"
#include "menubar/brand/CubicBezierEase.h"
#include "menubar/brand/PathData.h"
#include "support/ViewRender.h"

#include <QPainter>

#include <gtest/gtest.h>

using zq::parsePathData;
using zq::ZepaSymbol;

namespace {

QPointF element(const QPainterPath &path, int i)
{
    const QPainterPath::Element e = path.elementAt(i);
    return {e.x, e.y};
}

QImage renderMark(ZepaSymbol mark, qreal ratio = 1.0)
{
    return zq::test::renderPaint(
        QSizeF(mark.size, mark.size), [&](QPainter &painter, const QRectF &rect) { mark.paint(painter, rect); }, ratio);
}

int alphaAt(const QImage &image, QPointF logical)
{
    return zq::test::pixelAt(image, logical).alpha();
}

} // namespace

TEST(PathDataTest, ReadsNumbersTheWayTheArtworkWritesThem)
{
    // A sign starts a new number; an exponent keeps its sign.
    const QPainterPath signs = parsePathData(u"M0,0L10-5");
    ASSERT_EQ(signs.elementCount(), 2);
    EXPECT_EQ(element(signs, 0), QPointF(0, 0));
    EXPECT_EQ(element(signs, 1), QPointF(10, -5));
    EXPECT_EQ(element(parsePathData(u"M1e-3 2"), 0), QPointF(0.001, 2));
    EXPECT_EQ(element(parsePathData(u"M+3 4"), 0), QPointF(3, 4));
    // A second point starts a new number.
    EXPECT_EQ(element(parsePathData(u"M1.5.5"), 0), QPointF(1.5, 0.5));
    // A number that is no literal is dropped; the missing last coordinate counts as 0.
    EXPECT_EQ(element(parsePathData(u"M1e 2"), 0), QPointF(2, 0));
    const QPainterPath odd = parsePathData(u"M5L3 4 7");
    ASSERT_EQ(odd.elementCount(), 3);
    EXPECT_EQ(element(odd, 0), QPointF(5, 0));
    EXPECT_EQ(element(odd, 2), QPointF(7, 0));
}

TEST(PathDataTest, RunsAbsoluteAndRelativeCommands)
{
    const QPainterPath path = parsePathData(u"m10 10l5 5h5v-5z l1 0");
    // Relative lines, then Z returns to the subpath start, from which the last line continues.
    EXPECT_EQ(element(path, 1), QPointF(15, 15));
    EXPECT_EQ(element(path, 2), QPointF(20, 15));
    EXPECT_EQ(element(path, 3), QPointF(20, 10));
    EXPECT_EQ(path.currentPosition(), QPointF(11, 10));

    // Each relative curve group is relative to where that group starts.
    const QPainterPath curves = parsePathData(u"M10 10c1 1 2 2 3 3 1 1 2 2 3 3");
    ASSERT_EQ(curves.elementCount(), 7);
    EXPECT_EQ(element(curves, 3), QPointF(13, 13));
    EXPECT_EQ(element(curves, 4), QPointF(14, 14));
    EXPECT_EQ(element(curves, 6), QPointF(16, 16));

    // An incomplete curve group and an unknown command are ignored.
    EXPECT_EQ(parsePathData(u"M0 0C1 1 2 2 3").elementCount(), 1);
    const QPainterPath unknown = parsePathData(u"M0 0Q1 1 2 2L5 5");
    ASSERT_EQ(unknown.elementCount(), 2);
    EXPECT_EQ(element(unknown, 1), QPointF(5, 5));
    EXPECT_TRUE(parsePathData(u"").isEmpty());
}

TEST(ZepaSymbolTest, TheFourArcsFormASymmetricRingInTheDesignSpace)
{
    const auto &arcs = ZepaSymbol::arcPaths();
    const QRectF top = arcs[0].boundingRect(), bottom = arcs[1].boundingRect();
    const QRectF right = arcs[2].boundingRect(), left = arcs[3].boundingRect();
    EXPECT_NEAR(top.top(), 0, 1e-3);
    EXPECT_NEAR(bottom.bottom(), 100, 1e-3);
    EXPECT_NEAR(left.left(), 0, 1e-3);
    EXPECT_NEAR(right.right(), 99.98, 0.01);
    // Top and bottom mirror about the horizontal axis, left and right about the vertical one.
    EXPECT_NEAR(top.bottom(), 100 - bottom.top(), 0.3);
    EXPECT_NEAR(top.left(), bottom.left(), 0.3);
    EXPECT_NEAR(left.right(), 100 - right.left(), 0.3);
    EXPECT_NEAR(left.top(), right.top(), 0.3);
    // Each arc keeps to its own side: they never reach the centre.
    for (const QRectF &box : {top, bottom, left, right})
        EXPECT_FALSE(box.contains(QPointF(50, 50)));
    EXPECT_GT(top.bottom(), 16.5);
    EXPECT_LT(top.bottom(), 17.5);
    EXPECT_NEAR(top.center().x(), 50, 0.5);
}

TEST(ZepaSymbolTest, AnArcScalesByTheShorterSideFromTheRectanglesCorner)
{
    const QRectF wide(10, 5, 300, 100);
    const QRectF placed = ZepaSymbol::Arc{0}.path(wide).boundingRect();
    const QRectF design = ZepaSymbol::arcPaths()[0].boundingRect();
    EXPECT_NEAR(placed.left(), 10 + design.left(), 1e-6);
    EXPECT_NEAR(placed.top(), 5, 1e-6);
    EXPECT_NEAR(placed.width(), design.width(), 1e-6);
    const QRectF half = ZepaSymbol::Arc{2}.path(QRectF(0, 0, 50, 80)).boundingRect();
    EXPECT_NEAR(half.right(), 49.99, 0.01);
}

TEST(ZepaSymbolTest, AssemblyFliesEachArcInFromItsOwnSide)
{
    // At 0 nothing has progressed: every arc is 19.52 units out on its own side.
    const struct {
        int index;
        QPointF out;
    } atStart[] = {{0, {0, -19.52}}, {1, {0, 19.52}}, {2, {19.52, 0}}, {3, {-19.52, 0}}};
    for (const auto &c : atStart) {
        const auto at = ZepaSymbol::assembleOffset(c.index, 0.0);
        EXPECT_EQ(at.progress, 0.0);
        EXPECT_NEAR(at.offset.x(), c.out.x(), 1e-9) << c.index;
        EXPECT_NEAR(at.offset.y(), c.out.y(), 1e-9) << c.index;
    }
    // The right arc starts second (0.11 s): halfway through its 0.57 s it is at the eased half.
    const double half = zq::cubicBezierEase(0.5, 0.2, 0, 0, 1);
    const auto right = ZepaSymbol::assembleOffset(2, 0.11 + 0.285);
    EXPECT_NEAR(right.progress, half, 1e-9);
    EXPECT_NEAR(right.offset.x(), (1 - half) * 19.52, 1e-9);
    // The left arc starts last, at 0.33 s.
    EXPECT_EQ(ZepaSymbol::assembleOffset(3, 0.33).progress, 0.0);
    EXPECT_GT(ZepaSymbol::assembleOffset(3, 0.34).progress, 0.0);
    for (int index = 0; index < 4; ++index) {
        for (double t : {0.9, 1.5}) {
            const auto done = ZepaSymbol::assembleOffset(index, t);
            EXPECT_EQ(done.progress, 1.0);
            EXPECT_EQ(done.offset, QPointF(0, 0));
        }
    }
}

TEST(ZepaSymbolTest, TheMarkRendersInkedWhereItsArcsAreAndEmptyInside)
{
    const QColor ink(0x05, 0x51, 0x47);
    for (qreal size : {16.0, 22.0, 100.0}) {
        for (qreal ratio : {1.0, 2.0}) {
            SCOPED_TRACE(testing::Message() << "size " << size << " ratio " << ratio);
            ZepaSymbol mark;
            mark.size = size;
            mark.color = ink;
            const QImage image = renderMark(mark, ratio);
            if (ratio == 2.0) {
                zq::test::saveRender(image, QStringLiteral("mark-%1").arg(int(size)));
            }
            const qreal k = size / 100;
            // The middle of each arc's thickness, and the empty centre and corners.
            for (QPointF inked : {QPointF(50, 4.5), QPointF(50, 95.5), QPointF(95.5, 50), QPointF(4.5, 50)})
                EXPECT_GT(alphaAt(image, inked * k), 100) << inked.x() << ',' << inked.y();
            for (QPointF empty : {QPointF(50, 50), QPointF(3, 3), QPointF(97, 97), QPointF(30, 30)})
                EXPECT_LT(alphaAt(image, empty * k), 30) << empty.x() << ',' << empty.y();
            if (size == 100.0) {
                EXPECT_TRUE(zq::test::sameColor(zq::test::pixelAt(image, QPointF(50, 4.5) * k), ink, 3));
            }
            EXPECT_TRUE(QRectF(0, 0, size, size).contains(zq::test::inkBounds(image)));
        }
    }
}

TEST(ZepaSymbolTest, AssemblyStartsInvisibleAndArrivesInOrder)
{
    ZepaSymbol mark;
    mark.size = 100;
    mark.color = Qt::black;
    mark.assemble = 0.0;
    EXPECT_EQ(zq::test::inkedPixels(renderMark(mark), 0), 0);

    // At 0.3 s the top arc is well on its way and the left one has not started.
    mark.assemble = 0.3;
    const QImage mid = renderMark(mark, 2.0);
    zq::test::saveRender(mid, QStringLiteral("mark-assembling"));
    EXPECT_EQ(alphaAt(mid, {4.5, 50}), 0);
    const int topAlpha = alphaAt(mid, {50, 4.5 - ZepaSymbol::assembleOffset(0, 0.3).offset.y() * -1});
    EXPECT_GT(topAlpha, 100);
    EXPECT_LT(topAlpha, 255);

    // With less motion the arcs only fade, together and in place: the left one shows already.
    mark.reduceMotion = true;
    const QImage faded = renderMark(mark);
    EXPECT_GT(alphaAt(faded, {4.5, 50}), 100);
    EXPECT_EQ(alphaAt(faded, {4.5, 50}), alphaAt(faded, {50, 4.5}));
    mark.reduceMotion = false;

    mark.assemble = 0.9;
    const QImage done = renderMark(mark);
    mark.assemble.reset();
    const QImage still = renderMark(mark);
    EXPECT_EQ(zq::test::inkedPixels(done), zq::test::inkedPixels(still));
    EXPECT_EQ(alphaAt(done, {4.5, 50}), alphaAt(still, {4.5, 50}));
}

TEST(ZepaSymbolTest, TintsAndRotationApplyPerArcAndToTheWhole)
{
    ZepaSymbol mark;
    mark.size = 100;
    mark.color = Qt::black;
    mark.arcTint = std::array<QColor, 4>{QColor(Qt::red), QColor(Qt::green), QColor(Qt::blue), QColor(Qt::yellow)};
    QImage image = renderMark(mark);
    EXPECT_TRUE(zq::test::sameColor(zq::test::pixelAt(image, {50, 4.5}), Qt::red));
    EXPECT_TRUE(zq::test::sameColor(zq::test::pixelAt(image, {50, 95.5}), Qt::green));
    EXPECT_TRUE(zq::test::sameColor(zq::test::pixelAt(image, {95.5, 50}), Qt::blue));
    EXPECT_TRUE(zq::test::sameColor(zq::test::pixelAt(image, {4.5, 50}), Qt::yellow));

    // A quarter turn clockwise carries the top arc to the right.
    mark.rotation = 90;
    image = renderMark(mark);
    EXPECT_TRUE(zq::test::sameColor(zq::test::pixelAt(image, {95.5, 50}), Qt::red));
    EXPECT_TRUE(zq::test::sameColor(zq::test::pixelAt(image, {50, 95.5}), Qt::blue));
    EXPECT_TRUE(zq::test::sameColor(zq::test::pixelAt(image, {4.5, 50}), Qt::green));
}

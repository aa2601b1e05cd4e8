#include "menubar/brand/ZepaBrandLockup.h"
#include "support/ViewRender.h"

#include <QPainter>

#include <gtest/gtest.h>

using zq::ColorScheme;
using zq::Palette;
using zq::ZepaBrandLockup;

TEST(ZepaBrandLockupTest, RingWordmarkAndProductWordSitInTheirPlaces)
{
    const QSizeF size = ZepaBrandLockup::idealSize();
    // The 25-point ring, 8 points, then a column at least as wide as the word "QUARN".
    EXPECT_GT(size.width(), 25 + 8 + 30);
    EXPECT_GE(size.height(), 25);
    EXPECT_NEAR(zq::zepaWordmarkAspect(), 3.5, 1.5);

    for (ColorScheme scheme : {ColorScheme::light, ColorScheme::dark}) {
        const QColor page = Palette::color(Palette::background, scheme);
        const QColor accent = Palette::color(Palette::accent, scheme);
        const QColor primary = Palette::color(Palette::textPrimary, scheme);
        for (qreal ratio : {1.0, 2.0}) {
            SCOPED_TRACE(testing::Message() << "dark " << (scheme == ColorScheme::dark) << " ratio " << ratio);
            const QImage image = zq::test::renderPaint(
                size, [&](QPainter &painter, const QRectF &rect) { ZepaBrandLockup::paint(painter, rect, scheme); },
                ratio, page);
            if (ratio == 2.0) {
                zq::test::saveRender(image, scheme == ColorScheme::dark ? QStringLiteral("lockup-dark")
                                                                        : QStringLiteral("lockup-light"));
            }
            // The ring: accent on its arcs, the page at its centre.
            const qreal ringTop = (size.height() - 25) / 2;
            EXPECT_TRUE(zq::test::sameColor(zq::test::pixelAt(image, {12.5, ringTop + 1.2}), accent, 8));
            EXPECT_TRUE(zq::test::sameColor(zq::test::pixelAt(image, {12.5, ringTop + 12.5}), page));
            // The wordmark: primary ink, 12 high, starting right of the ring and its gap.
            const QRectF wordmark = zq::test::colorBounds(image, primary, 12);
            EXPECT_NEAR(wordmark.left(), 33, 1.0);
            EXPECT_NEAR(wordmark.height(), 12, 1.0);
            // The product word in accent, below the wordmark, in the same column.
            const QImage column =
                image.copy(QRectF(33 * ratio, 0, (size.width() - 33) * ratio, size.height() * ratio).toRect());
            const QRectF word = zq::test::colorBounds(column, accent, 12);
            ASSERT_FALSE(word.isEmpty());
            EXPECT_GT(word.top(), wordmark.bottom());
            EXPECT_LT(word.left(), 3.0); // the glyph's own side bearing
        }
    }
}

TEST(ZepaBrandLockupTest, TheViewTakesItsIdealSizeAndReadsAsTheProductName)
{
    zq::ZepaBrandLockupView view;
    EXPECT_EQ(view.size(), ZepaBrandLockup::idealSize().toSize());
    EXPECT_EQ(view.accessibleName(), QStringLiteral("ZEPA QUARN"));
    EXPECT_EQ(view.sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
}

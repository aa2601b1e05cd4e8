#include "rewards/motion/PillAnimationGalleryView.h"
#include "pipeline/SettingsDefaults.h"
#include "rewards/FittedLine.h"
#include "rewards/motion/MotionStore.h"
#include "rewards/motion/MotionUnlockLine.h"
#include "runtime/Settings.h"
#include "support/Contrast.h"
#include "support/ViewRender.h"
#include "support/VirtualLoop.h"

#include <QCoreApplication>
#include <QPainter>

#include <gtest/gtest.h>

using namespace zq;
using namespace zq::test;

namespace {

class PillAnimationGalleryViewTest : public ::testing::Test {
protected:
    PillAnimationGalleryViewTest() { registerDefaults(settings); }

    QImage render(QWidget &view, const QString &name, ColorScheme scheme)
    {
        return renderInColorScheme(view, name, scheme, 420);
    }

    rt::Settings settings{QString()};
    VirtualLoop loop;
    Motion animations{loop};
    rt::Nanos clock = std::chrono::hours(200);
    std::function<rt::Nanos()> now = [this] { return clock; };
};

} // namespace

TEST_F(PillAnimationGalleryViewTest, LockedTilesAreDimmedWithTheirNotesAndIgnoreClicks)
{
    MotionStore motion(settings);
    PillAnimationGalleryView gallery(motion, 0, Colorway::consensusMint, now);
    for (const ColorScheme scheme : {ColorScheme::dark, ColorScheme::light})
        render(gallery, scheme == ColorScheme::dark ? "gallery-fresh-dark" : "gallery-fresh-light", scheme);
    const QImage image = render(gallery, "gallery-fresh-dark", ColorScheme::dark);

    ASSERT_EQ(gallery.tiles().size(), 4u);
    PillAnimationTile *logoBars = gallery.tiles()[1];
    PillAnimationTile *bandSwell = gallery.tiles()[3];
    EXPECT_EQ(logoBars->accessibleDescription(), "Selected");
    EXPECT_EQ(gallery.tiles()[0]->accessibleDescription(), "Available");
    EXPECT_EQ(bandSwell->accessibleDescription(), QString::fromUtf8("Unlocks at 12h reclaimed · 12h 0m to go"));
    EXPECT_FALSE(bandSwell->isEnabled());
    EXPECT_GT(bandSwell->height(), logoBars->height() - 1) << "the note adds to the locked tile";
    EXPECT_EQ(logoBars->toolTip(), "The ZEPA mark opens into four live bars.");

    const QPointF insideSelected = QPointF(logoBars->mapTo(&gallery, QPoint(4, 40)));
    EXPECT_TRUE(sameColor(pixelAt(image, insideSelected),
                          over(Palette::color(Palette::accentWash, ColorScheme::dark),
                               Palette::color(Palette::windowBackground, ColorScheme::dark)),
                          4))
        << "the selected tile is tinted";

    bandSwell->click();
    EXPECT_EQ(motion.style(), PillAnimationStyle::logoBars);
    gallery.tiles()[0]->click();
    EXPECT_EQ(motion.style(), PillAnimationStyle::surface);
    EXPECT_EQ(settings.stringValue("pillAnimation"), "surface");
    EXPECT_EQ(gallery.tiles()[0]->accessibleDescription(), "Selected") << "the selection moves at once";
}

TEST_F(PillAnimationGalleryViewTest, ALockedTileDimsItsPreviewButNotItsWords)
{
    MotionStore motion(settings);
    PillAnimationGalleryView gallery(motion, 0, Colorway::consensusMint, now);
    for (const ColorScheme scheme : {ColorScheme::light, ColorScheme::dark}) {
        SCOPED_TRACE(int(scheme));
        const QImage image =
            render(gallery, scheme == ColorScheme::dark ? "gallery-locked-dark" : "gallery-locked-light", scheme);
        const QColor window = Palette::color(Palette::windowBackground, scheme);
        for (const int index : {2, 3}) {
            const PillAnimationTile *tile = gallery.tiles()[std::size_t(index)];
            ASSERT_FALSE(tile->option().isSelectable);
            const QPointF origin(tile->mapTo(&gallery, QPoint(0, 0)));
            // The tile: 8 of padding, the 58-point well, 8, the name, 8, the note.
            const QRectF name(origin + QPointF(8, 74), QSizeF(tile->width() - 16, 14));
            const QRectF note(origin + QPointF(8, 96), QSizeF(tile->width() - 16, tile->height() - 104));
            EXPECT_GE(strongestContrast(image, name, window), 4.5) << "the name of tile " << index;
            EXPECT_GE(strongestContrast(image, note, window), 4.5) << "the note of tile " << index;
            // The well keeps its dimmed look: the well's fill at 0.44 of 0.44.
            QColor well = Palette::color(Palette::controlFill, scheme);
            well.setAlphaF(0.44f * 0.44f);
            EXPECT_TRUE(sameColor(pixelAt(image, origin + QPointF(14, 14)), over(well, window), 3))
                << pixelAt(image, origin + QPointF(14, 14)).name().toStdString();
        }
    }
}

TEST(FittedLineTest, ShrinksToItsLeastSizeBeforeItCuts)
{
    const QString text = QString::fromUtf8("Scaled pieces unlocked. General › Appearance › Motion");
    const double natural = QFontMetricsF(textFont(textStyle::small)).horizontalAdvance(text);
    const struct {
        double share; // of the natural width
        int pixels;   // the size it is drawn at
        bool cut;
    } cases[] = {{1.01, 11, false}, {0.93, 10, false}, {0.75, 10, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.share);
        const FittedLine line = FittedLine::fit(text, textStyle::small, natural * c.share, 0.85);
        EXPECT_EQ(line.font.pixelSize(), c.pixels);
        EXPECT_EQ(line.text != text, c.cut) << line.text.toStdString();
        EXPECT_LE(QFontMetricsF(line.font).horizontalAdvance(line.text), natural * c.share);
    }
    // The unlock line draws the same way and keeps its whole text.
    MotionUnlockLine label;
    label.setText(text);
    label.resize(qCeil(natural * 0.93), label.sizeHint().height());
    const QImage image = renderWidget(label);
    saveRender(image, "motion-unlock-line-shrunk");
    EXPECT_EQ(label.text(), text);
    EXPECT_GT(inkBounds(image).width(), natural * 0.85) << "shrunk, not cut";
}

TEST_F(PillAnimationGalleryViewTest, AnUnlockedGalleryInAColorwayAndPreviewsThatMove)
{
    MotionStore motion(settings);
    PillAnimationGalleryView gallery(motion, 50000, Colorway::monochrome, now);
    animations.provide(gallery);
    gallery.tiles()[3]->click();
    EXPECT_EQ(motion.style(), PillAnimationStyle::bandSwell);
    for (const ColorScheme scheme : {ColorScheme::dark, ColorScheme::light})
        render(gallery, scheme == ColorScheme::dark ? "gallery-unlocked-dark" : "gallery-unlocked-light", scheme);
    for (PillAnimationTile *tile : gallery.tiles())
        EXPECT_TRUE(tile->isEnabled());
    EXPECT_TRUE(gallery.isAnimating()) << "previews run while the gallery shows";
    gallery.hide();
    EXPECT_FALSE(gallery.isAnimating()) << "and stop when it does not";
    EXPECT_FALSE(animations.isTicking());

    const auto preview = [](PillAnimationStyle style, double at) {
        return renderPaint(QSizeF(82, 52), [&](QPainter &p, const QRectF &r) {
            paintPillAnimationPreview(p, r, style, rt::seconds(at), std::chrono::seconds(1000), Colorway::monochrome,
                                      ColorScheme::dark);
        });
    };
    for (const PillAnimationStyle style : kAllPillAnimationStyles) {
        const QImage first = preview(style, 1000.2);
        const QImage later = preview(style, 1001.3);
        EXPECT_NE(first, later) << rawValue(style).toStdString() << " moves with its voice";
        const QColor base = Palette::color(Palette::monochromeBackground, ColorScheme::dark);
        EXPECT_TRUE(sameColor(pixelAt(first, {41, 9}), base, 3)) << "on the colorway's surface";
    }
    saveRender(preview(PillAnimationStyle::scaledPieces, 1001.3), "gallery-preview-scaled-pieces");
}

TEST_F(PillAnimationGalleryViewTest, WithAnimationsOffThePreviewsStandStill)
{
    MotionStore motion(settings);
    PillAnimationGalleryView gallery(motion, 50000, Colorway::monochrome, now);
    animations.provide(gallery);
    animations.setAnimationsOff(true);
    gallery.show();
    EXPECT_FALSE(gallery.isAnimating());
    PillAnimationTile *tile = gallery.tiles()[1];
    const QImage still = tile->grab().toImage();
    clock += rt::seconds(1.1);
    EXPECT_EQ(tile->grab().toImage(), still) << "the preview stands at the moment it came on screen";
    animations.setAnimationsOff(false);
    EXPECT_TRUE(gallery.isAnimating());
    EXPECT_NE(tile->grab().toImage(), still);
}

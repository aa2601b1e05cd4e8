// The brand menu: where it opens, how far it grows before it scrolls, the keyboard, and its look.
#include "menubar/brand/ZepaMenu.h"
#include "support/Contrast.h"
#include "support/ViewRender.h"

#include <QAction>
#include <QKeyEvent>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>

using zq::ColorScheme;
using zq::Palette;
using zq::ZepaMenu;

namespace {

// The height of `rows` rows with the menu's padding.
int rowsHigh(int rows)
{
    return 2 * ZepaMenu::kPaddingY + rows * ZepaMenu::kRowHeight;
}

} // namespace

TEST(ZepaMenuTest, OpensBelowItsFieldAtLeastAsWideAndScrollsPastHalfTheScreen)
{
    const QRect screen(0, 0, 1920, 1080);
    struct Case {
        const char *what;
        QRect field;
        QSize content;
        QRect expected;
    };
    const Case cases[] = {
        {"a short list", {800, 300, 126, 28}, {80, rowsHigh(4)}, {800, 332, 126, rowsHigh(4)}},
        {"the 58 languages", {800, 300, 126, 28}, {200, rowsHigh(58)}, {800, 332, 200, 540}},
        {"the 24 trigger keys", {600, 200, 260, 34}, {180, rowsHigh(24)}, {600, 238, 260, 540}},
        {"a field near the bottom", {800, 1000, 126, 28}, {200, rowsHigh(58)}, {800, 456, 200, 540}},
        {"a field near the bottom, short list", {800, 1000, 126, 28}, {80, rowsHigh(3)}, {800, 1000 - 4 - 82, 126, 82}},
        {"a field at the right edge", {1850, 300, 60, 28}, {200, rowsHigh(4)}, {1712, 332, 200, rowsHigh(4)}},
        {"a list wider than the screen", {10, 300, 60, 28}, {4000, rowsHigh(4)}, {8, 332, 1904, rowsHigh(4)}},
    };
    for (const Case &c : cases) {
        const QRect placed = ZepaMenu::placement(c.field, c.content, screen);
        EXPECT_EQ(placed, c.expected) << c.what;
        EXPECT_GE(placed.width(), std::min(c.field.width(), screen.width() - 16)) << c.what;
        EXPECT_TRUE(screen.contains(placed)) << c.what;
        EXPECT_FALSE(placed.intersects(c.field)) << c.what << ": never over its own field";
    }
}

TEST(ZepaMenuTest, TheKeyboardWalksTheChoicesAndKeepsTheHighlightInView)
{
    ZepaMenu menu;
    menu.addSection(QStringLiteral("Languages"));
    QList<QAction *> options;
    for (int i = 0; i < 58; ++i)
        options << menu.addOption(QStringLiteral("Language %1").arg(i));
    options[40]->setCheckable(true);
    options[40]->setChecked(true);
    QSignalSpy closed(&menu, &ZepaMenu::closed);
    QSignalSpy chosen(options[42], &QAction::triggered);

    menu.popup(QRect(100, 100, 126, 28));
    ASSERT_TRUE(menu.isVisible());
    EXPECT_LE(menu.height(), 800 / 2) << "the offscreen screen is 800 high";
    // The current choice opens in view.
    const double top = ZepaMenu::kPaddingY + 41 * ZepaMenu::kRowHeight - menu.scroll();
    EXPECT_GE(top, 0);
    EXPECT_LE(top + ZepaMenu::kRowHeight, menu.height());

    QTest::keyClick(&menu, Qt::Key_Down);
    EXPECT_EQ(menu.highlighted(), 41) << "the first key starts at the current choice";
    QTest::keyClick(&menu, Qt::Key_Down);
    QTest::keyClick(&menu, Qt::Key_Down);
    EXPECT_EQ(menu.highlighted(), 43);
    QTest::keyClick(&menu, Qt::Key_End);
    EXPECT_EQ(menu.highlighted(), 58);
    EXPECT_DOUBLE_EQ(menu.scroll(), menu.maximumScroll());
    QTest::keyClick(&menu, Qt::Key_Home);
    EXPECT_EQ(menu.highlighted(), 1) << "the section's title is never highlighted";
    EXPECT_DOUBLE_EQ(menu.scroll(), 0);
    QTest::keyClick(&menu, Qt::Key_Up);
    EXPECT_EQ(menu.highlighted(), 1);

    // A disabled choice (row 45) is passed over by the keyboard and the pointer, and never runs.
    options[44]->setEnabled(false);
    QSignalSpy disabledChosen(options[44], &QAction::triggered);
    menu.highlight(44);
    QTest::keyClick(&menu, Qt::Key_Down);
    EXPECT_EQ(menu.highlighted(), 46);
    menu.highlight(45);
    EXPECT_EQ(menu.highlighted(), std::nullopt);
    QTest::mouseMove(&menu, menu.rowRect(45).center());
    EXPECT_EQ(menu.highlighted(), std::nullopt);
    QTest::mouseClick(&menu, Qt::LeftButton, {}, menu.rowRect(45).center());
    menu.choose(45);
    EXPECT_TRUE(menu.isVisible());
    EXPECT_EQ(disabledChosen.count(), 0);

    menu.highlight(43);
    QTest::keyClick(&menu, Qt::Key_Return);
    EXPECT_EQ(chosen.count(), 1);
    EXPECT_FALSE(menu.isVisible());
    EXPECT_EQ(closed.count(), 1);
}

TEST(ZepaMenuTest, RendersInThePaletteWithAHighlightAndAScrollBar)
{
    for (ColorScheme scheme : {ColorScheme::light, ColorScheme::dark}) {
        zq::ZepaMenuLook look;
        look.rows.append({QStringLiteral("Languages"), {}, true});
        for (int i = 0; i < 30; ++i)
            look.rows.append({QStringLiteral("Language %1").arg(i), {}, false});
        look.highlighted = 3;
        look.scroll = 0;
        look.scheme = scheme;
        const QSizeF size(200, 300);
        const QImage image = zq::test::renderPaint(
            size, [&](QPainter &painter, const QRectF &rect) { ZepaMenu::paint(painter, rect, look); }, 2.0);
        const QString name = scheme == ColorScheme::dark ? QStringLiteral("dark") : QStringLiteral("light");
        zq::test::saveRender(image, QStringLiteral("brand-menu-") + name);

        const QColor surface = Palette::color(Palette::surfaceRaised, scheme);
        const QColor highlight = zq::test::over(Palette::color(Palette::controlHover, scheme), surface);
        EXPECT_TRUE(zq::test::sameColor(zq::test::pixelAt(image, {150, 2.5}), surface)) << name.toStdString();
        // Row 3 is the highlighted one: its fill, inset from the sides.
        const double rowCentre = ZepaMenu::kPaddingY + 3.5 * ZepaMenu::kRowHeight;
        EXPECT_TRUE(zq::test::sameColor(zq::test::pixelAt(image, {150, rowCentre}), highlight, 3))
            << name.toStdString();
        EXPECT_TRUE(zq::test::sameColor(zq::test::pixelAt(image, {2.5, rowCentre}), surface)) << name.toStdString();
        // The thin bar at the trailing edge, near the top while the list is scrolled to its start.
        QColor thumb = Palette::color(Palette::textTertiary, scheme);
        thumb.setAlphaF(0.6f * thumb.alphaF());
        const QRectF bar = zq::test::colorBounds(image.copy(QRect(380, 0, 20, 600)), zq::test::over(thumb, surface), 6);
        ASSERT_FALSE(bar.isEmpty()) << name.toStdString();
        EXPECT_LT(bar.top(), 10);
        // The labels read clearly on the menu and on the highlight.
        const QColor ink = Palette::color(Palette::textPrimary, scheme);
        EXPECT_GE(zq::test::contrastRatio(ink, surface), 4.5) << name.toStdString();
        EXPECT_GE(zq::test::contrastRatio(ink, highlight), 4.5) << name.toStdString();
        EXPECT_FALSE(zq::test::colorBounds(image.copy(QRect(0, 0, 400, int(2 * rowCentre + 10))), ink, 40).isEmpty());
    }
}

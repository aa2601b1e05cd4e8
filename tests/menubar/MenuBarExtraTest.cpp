#include "menubar/MenuBarExtra.h"
#include "menubar/MenuPanelSurface.h"
#include "menubar/brand/FocusRing.h"

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

int maximumAlpha(const QIcon &icon)
{
    const QImage image = icon.pixmap(18, 18).toImage().convertToFormat(QImage::Format_ARGB32);
    int alpha = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            alpha = std::max(alpha, qAlpha(image.pixel(x, y)));
    return alpha;
}

} // namespace

TEST(MenuBarExtraTest, IconIsDimmedWhileTheTriggerIsNotRunningOrNoTriggerCanBeSeen)
{
    zq::MenuBarExtra extra({});
    const int full = maximumAlpha(extra.icon());
    extra.setTapRunning(false);
    EXPECT_TRUE(extra.isDimmed());
    const int dimmed = maximumAlpha(extra.icon());
    EXPECT_GT(full, 240);
    EXPECT_NEAR(dimmed, full * 0.55, 6) << "dimmed to 0.55";
    extra.setTapRunning(true);
    EXPECT_EQ(maximumAlpha(extra.icon()), full);

    // A running tap that no key reaches looks the same as one that does not run.
    extra.setTriggerSeen(false);
    EXPECT_TRUE(extra.isDimmed());
    EXPECT_EQ(maximumAlpha(extra.icon()), dimmed);
    EXPECT_TRUE(extra.trayIcon()->toolTip().contains(QStringLiteral("no key starts dictation")));
    extra.setTriggerSeen(true);
    EXPECT_EQ(maximumAlpha(extra.icon()), full);
    EXPECT_EQ(extra.trayIcon()->toolTip(), QStringLiteral("ZEPA QUARN"));
}

TEST(MenuBarExtraTest, RingTakesTheTextColourAndTheDangerColourWhileFailing)
{
    zq::MenuBarExtra extra({});
    const auto centreColor = [&] {
        const QImage image = extra.icon().pixmap(18, 18).toImage().convertToFormat(QImage::Format_ARGB32);
        // The top arc of the ring.
        for (int y = 0; y < 9; ++y)
            if (qAlpha(image.pixel(9, y)) > 200)
                return QColor(image.pixel(9, y));
        return QColor();
    };
    extra.setColorScheme(zq::ColorScheme::dark);
    EXPECT_EQ(centreColor().rgb(), zq::Palette::color(zq::Palette::textPrimary, zq::ColorScheme::dark).rgb());
    extra.setFailing(true);
    EXPECT_EQ(centreColor().rgb(), zq::Palette::color(zq::Palette::danger, zq::ColorScheme::dark).rgb());
}

TEST(MenuBarExtraTest, PopupOpensNextToTheIconOrPointerAndStaysOnScreen)
{
    const QRect screen(0, 0, 1280, 800);
    const QSize size(372, 500);
    // A tray at the top right: below the icon, pulled back inside the right edge with a margin.
    QRect placed = zq::MenuBarExtra::popupGeometry(size, QRect(1250, 0, 24, 24), {}, screen);
    EXPECT_EQ(placed.top(), 28);
    EXPECT_EQ(placed.right(), 1279 - zq::MenuPanelSurface::kScreenMargin);
    // A tray at the bottom: above the icon.
    placed = zq::MenuBarExtra::popupGeometry(size, QRect(600, 776, 24, 24), {}, screen);
    EXPECT_EQ(placed.bottom(), 771);
    EXPECT_EQ(placed.center().x(), 610);
    // No icon geometry: next to the pointer.
    placed = zq::MenuBarExtra::popupGeometry(size, QRect(), QPoint(10, 10), screen);
    EXPECT_TRUE(screen.contains(placed));
    EXPECT_EQ(placed.left(), zq::MenuPanelSurface::kScreenMargin);
    EXPECT_EQ(placed.top(), 15);
    // Taller than the screen's room below and above: still inside.
    placed = zq::MenuBarExtra::popupGeometry(QSize(372, 790), QRect(600, 400, 24, 24), {}, screen);
    EXPECT_TRUE(screen.contains(placed));
}

TEST(MenuBarExtraTest, PanelOpensWithItsContentAndEscapeClosesIt)
{
    zq::MenuBarExtra extra({});
    auto *content = new QWidget;
    content->setFixedSize(372, 200);
    int opened = 0;
    extra.setPanel(content, [&] { ++opened; });
    extra.openPanel();
    QWidget *panel = extra.panel();
    ASSERT_TRUE(panel->isVisible());
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(panel->size(), QSize(372, 200));
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(panel, &escape);
    EXPECT_FALSE(panel->isVisible());
}

TEST(MenuBarExtraTest, EachOpeningGivesTheFirstControlTheFocusWithoutARingUntilAKeyIsPressed)
{
    zq::FocusVisibility visibility;
    qApp->installEventFilter(&visibility);
    zq::MenuBarExtra extra({});
    auto *content = new QWidget;
    auto *column = new QVBoxLayout(content);
    QPushButton *buttons[4];
    for (QPushButton *&button : buttons) {
        button = new QPushButton(QStringLiteral("button"), content);
        column->addWidget(button);
    }
    // Off and hidden controls are passed over, as Tab passes them.
    buttons[0]->setEnabled(false);
    buttons[1]->hide();
    extra.setPanel(content, {});
    QWidget *panel = extra.panel();
    for (int opening = 0; opening < 2; ++opening) {
        SCOPED_TRACE(opening);
        extra.openPanel();
        QApplication::processEvents();
        EXPECT_EQ(QApplication::focusWidget(), buttons[2]);
        EXPECT_FALSE(zq::showsFocusRing(*buttons[2])) << "opened with the pointer";
        QTest::keyClick(buttons[2], Qt::Key_Tab);
        EXPECT_TRUE(zq::showsFocusRing(*buttons[3]));
        QTest::keyClick(buttons[3], Qt::Key_Escape);
        EXPECT_FALSE(panel->isVisible());
    }
    qApp->removeEventFilter(&visibility);
}

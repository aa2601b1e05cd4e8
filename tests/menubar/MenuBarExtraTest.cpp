#include "menubar/MenuBarExtra.h"
#include "menubar/MenuPanelSurface.h"
#include "menubar/brand/FocusRing.h"
#include "support/Contrast.h"

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

QImage imageOf(const QIcon &icon)
{
    return icon.pixmap(18, 18).toImage().convertToFormat(QImage::Format_ARGB32);
}

struct RingState {
    const char *name;
    bool dimmed;
    bool failing;
};
constexpr RingState kRingStates[] = {
    {"idle", false, false}, {"dimmed", true, false}, {"failing", false, true}, {"failing dimmed", true, true}};

} // namespace

TEST(MenuBarExtraTest, IconIsDimmedWhileTheTriggerIsNotRunningOrNoTriggerCanBeSeen)
{
    zq::MenuBarExtra extra({});
    const QImage full = imageOf(extra.icon());
    extra.setTapRunning(false);
    EXPECT_TRUE(extra.isDimmed());
    const QImage dimmed = imageOf(extra.icon());
    EXPECT_NE(dimmed, full);
    extra.setTapRunning(true);
    EXPECT_EQ(imageOf(extra.icon()), full);

    // A running tap that no key reaches looks the same as one that does not run.
    extra.setTriggerSeen(false);
    EXPECT_TRUE(extra.isDimmed());
    EXPECT_EQ(imageOf(extra.icon()), dimmed);
    EXPECT_TRUE(extra.trayIcon()->toolTip().contains(QStringLiteral("no key starts dictation")));
    extra.setTriggerSeen(true);
    EXPECT_EQ(imageOf(extra.icon()), full);
    EXPECT_EQ(extra.trayIcon()->toolTip(), QStringLiteral("ZEPA QUARN"));
}

// Every state of the ring, drawn as the tray shows it, against what is known of the panel: each
// reads at 3:1 on its panel (on any panel when none is known), the four stay apart, and the failure
// stays a red.
TEST(MenuBarExtraTest, EveryRingStateReadsOnItsPanel)
{
    const QColor black(Qt::black), white(Qt::white), grey(0x77, 0x77, 0x77);
    struct Row {
        const char *name;
        zq::TrayBackdrop backdrop;
        std::vector<QColor> panels; // what the drawn ring is measured on
    };
    const Row rows[] = {
        {"dark panel", {{}, {}, QColor(0x20, 0x20, 0x20)}, {QColor(0x20, 0x20, 0x20)}},
        {"light panel", {{}, {}, QColor(0xF2, 0xF2, 0xF2)}, {QColor(0xF2, 0xF2, 0xF2)}},
        {"mid-grey panel", {{}, {}, grey}, {grey}},
        {"red panel", {{}, {}, QColor(0xC0, 0x30, 0x30)}, {QColor(0xC0, 0x30, 0x30)}},
        {"tray colours on its panel",
         {QColor(0xE0, 0xA0, 0x00), QColor(0xFF, 0x40, 0x40), QColor(0x20, 0x20, 0x20)},
         {QColor(0x20, 0x20, 0x20)}},
        {"panel unknown", {}, {black, white, grey, QColor(0xC0, 0x30, 0x30)}},
    };
    for (const Row &row : rows) {
        for (const zq::ColorScheme scheme : {zq::ColorScheme::light, zq::ColorScheme::dark}) {
            SCOPED_TRACE(testing::Message() << row.name << (scheme == zq::ColorScheme::light ? ", light" : ", dark"));
            std::vector<QImage> drawn;
            for (const RingState &state : kRingStates) {
                SCOPED_TRACE(state.name);
                const zq::RingInk ink = zq::MenuBarExtra::ringInk(row.backdrop, scheme, state.dimmed, state.failing);
                const QImage image = imageOf(zq::MenuBarExtra::ringIcon(ink));
                for (const QColor &panel : row.panels)
                    EXPECT_GE(zq::test::strongestContrast(image, image.rect(), panel), 3.0)
                        << panel.name().toStdString();
                if (state.failing) {
                    const int hue = ink.color.hslHue();
                    EXPECT_TRUE(hue <= 15 || hue >= 345) << "still a red: " << ink.color.name().toStdString();
                }
                for (const QImage &other : drawn)
                    EXPECT_NE(image, other) << "every state looks its own";
                drawn.push_back(image);
            }
        }
    }

    // The tray's stated foreground is the ring's colour, whatever the appearance.
    const zq::TrayBackdrop stated{QColor(0xE0, 0xA0, 0x00), QColor(0xFF, 0x40, 0x40), QColor(0x20, 0x20, 0x20)};
    EXPECT_EQ(zq::MenuBarExtra::ringInk(stated, zq::ColorScheme::light, false, false).color, *stated.foreground);
    EXPECT_EQ(zq::MenuBarExtra::ringInk(stated, zq::ColorScheme::light, false, true).color, *stated.error);
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

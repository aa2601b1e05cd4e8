// The stock pieces the brand's style draws (push buttons, fields, scroll bars) and the one focus ring
// every focusable control shows, rendered in light and dark.
#include "menubar/brand/BrandStyle.h"
#include "menubar/brand/SymbolButton.h"
#include "menubar/brand/ZepaButton.h"
#include "menubar/brand/ZepaMenu.h"
#include "menubar/brand/ZepaPopover.h"
#include "menubar/brand/ZepaSwitch.h"
#include "support/ViewRender.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace zq;

namespace {

QString schemeName(ColorScheme scheme)
{
    return scheme == ColorScheme::dark ? QStringLiteral("dark") : QStringLiteral("light");
}

class BrandStyleTest : public ::testing::Test {
protected:
    BrandStyleTest() : m_previous(QApplication::style()->name()) { QApplication::setStyle(new BrandStyle); }
    ~BrandStyleTest() override { QApplication::setStyle(m_previous); }

    // How a control came by the focus: not at all, by a click, or by Tab.
    enum class Focus { none, pointer, keyboard };

    // `control` alone in a window of `scheme`, focused as `focus` says, rendered at `ratio` (2× unless told).
    QImage render(QWidget *control, ColorScheme scheme, Focus focus, const QString &name, qreal ratio = 2.0)
    {
        auto window = std::make_unique<QWidget>();
        auto *row = new QHBoxLayout(window.get());
        row->setContentsMargins(6, 6, 6, 6);
        row->addWidget(control);
        test::wearColorScheme(*window, scheme);
        window->show();
        window->activateWindow();
        QApplication::setActiveWindow(window.get());
        QApplication::processEvents();
        // A window that the platform activates by itself gives its first control the focus.
        control->clearFocus();
        // Real input, so the style's watch over the keyboard and the pointer decides.
        if (focus == Focus::pointer)
            QTest::mouseClick(control, Qt::LeftButton, {}, control->rect().center());
        if (focus == Focus::keyboard)
            QTest::keyClick(window.get(), Qt::Key_Tab);
        QApplication::processEvents();
        EXPECT_EQ(control->hasFocus(), focus != Focus::none);
        m_geometry = control->geometry();
        const QImage image = test::renderWidget(*window, ratio, Palette::color(Palette::background, scheme));
        test::saveRender(image, name);
        return image;
    }

    QRect m_geometry;

private:
    QString m_previous;
};

TEST_F(BrandStyleTest, EveryFocusableControlShowsOneRingOnceTheKeyboardMovesTheFocusAndNoneAfterAClick)
{
    struct Control {
        const char *name;
        std::function<QWidget *()> make;
        bool typing = false;
    } controls[] = {
        {"primary", [] { return new ZepaButton(ZepaButtonStyle::primary, QStringLiteral("Copy Last")); }},
        {"quiet", [] { return new ZepaButton(ZepaButtonStyle::quiet, QStringLiteral("Copy")); }},
        {"stock-default",
         [] {
             auto *done = new QPushButton(QStringLiteral("Done"));
             done->setDefault(true);
             return done;
         }},
        {"stock", [] { return new QPushButton(QStringLiteral("Re-check")); }},
        {"switch-on",
         [] {
             auto *on = new ZepaSwitch;
             on->setChecked(true);
             return on;
         }},
        {"symbol", [] { return new SymbolButton(QStringLiteral("xmark"), 14, Palette::textTertiary, 22); }},
        {"field", [] { return new QLineEdit(QStringLiteral("sk-")); }, true},
    };
    for (const ColorScheme scheme : {ColorScheme::light, ColorScheme::dark}) {
        const QColor focusColor = Palette::color(Palette::focus, scheme);
        for (const Control &control : controls) {
            for (const Focus focus : {Focus::none, Focus::pointer, Focus::keyboard}) {
                const char *how[] = {"", "-clicked", "-focused"};
                SCOPED_TRACE(std::string(control.name) + " " + schemeName(scheme).toStdString() + how[int(focus)]);
                const QImage image =
                    render(control.make(), scheme, focus,
                           QStringLiteral("focus-%1-%2%3")
                               .arg(QLatin1String(control.name), schemeName(scheme), QLatin1String(how[int(focus)])));
                // At the left edge, in the middle: the ring (2 wide) in the focus colour, then the
                // line of the page's colour that parts it from the control, so it shows on a green
                // control too. One ring: nothing of the kind without focus, nor after a click, except
                // on a field, where the ring says where typing goes.
                const qreal y = m_geometry.center().y() + 0.5;
                const QColor ring = test::pixelAt(image, QPointF(m_geometry.left() + 1, y));
                const QColor parting = test::pixelAt(image, QPointF(m_geometry.left() + 2.5, y));
                const bool shown = test::sameColor(ring, focusColor, 40) &&
                                   test::sameColor(parting, Palette::color(Palette::background, scheme), 24);
                const bool expected = focus == Focus::keyboard || (focus == Focus::pointer && control.typing);
                EXPECT_EQ(shown, expected) << ring.name().toStdString() << " " << parting.name().toStdString();
            }
        }
    }
}

TEST_F(BrandStyleTest, StockButtonsFieldsAndMenusTakeTheBrandLook)
{
    for (const ColorScheme scheme : {ColorScheme::light, ColorScheme::dark}) {
        SCOPED_TRACE(schemeName(scheme).toStdString());
        auto *done = new QPushButton(QStringLiteral("Done"));
        done->setDefault(true);
        const QImage primary =
            render(done, scheme, Focus::none, QStringLiteral("stock-default-button-") + schemeName(scheme));
        EXPECT_EQ(m_geometry.height(), 30);
        EXPECT_TRUE(test::sameColor(test::pixelAt(primary, QPointF(m_geometry.left() + 4, m_geometry.center().y())),
                                    Palette::color(Palette::brandGreen, scheme), 3));

        auto *recheck = new QPushButton(QStringLiteral("Re-check"));
        const QImage quiet = render(recheck, scheme, Focus::none, QStringLiteral("stock-button-") + schemeName(scheme));
        EXPECT_EQ(m_geometry.height(), 28);
        EXPECT_TRUE(test::sameColor(test::pixelAt(quiet, QPointF(m_geometry.left() + 4, m_geometry.center().y())),
                                    Palette::color(Palette::controlFill, scheme), 3));
        // Neither edge row is cut off, at one device row per point or two.
        for (const qreal ratio : {1.0, 2.0}) {
            auto *install = new QPushButton(QStringLiteral("Install"));
            install->setDefault(true);
            const QImage image =
                render(install, scheme, Focus::none,
                       QStringLiteral("stock-button-%1-%2x").arg(schemeName(scheme)).arg(ratio), ratio);
            const qreal x = m_geometry.center().x();
            const QColor top = test::pixelAt(image, QPointF(x, m_geometry.top()));
            EXPECT_TRUE(test::sameColor(top, Palette::color(Palette::brandGreen, scheme), 3)) << ratio;
            const QColor bottom = test::pixelAt(image, QPointF(x, m_geometry.bottom() + 1 - 0.5 / ratio));
            EXPECT_TRUE(test::sameColor(bottom, top, 3)) << ratio;
        }

        auto *field = new QLineEdit;
        field->setFixedWidth(260);
        const QImage well = render(field, scheme, Focus::none, QStringLiteral("stock-field-") + schemeName(scheme));
        EXPECT_EQ(m_geometry.height(), BrandStyle::kFieldHeight);
        EXPECT_TRUE(test::sameColor(test::pixelAt(well, QPointF(m_geometry.center())),
                                    Palette::color(Palette::controlFill, scheme), 3));
        // Rounded: the very corner shows the page.
        EXPECT_TRUE(test::sameColor(test::pixelAt(well, QPointF(m_geometry.topLeft()) + QPointF(0.5, 0.5)),
                                    Palette::color(Palette::background, scheme), 12));

        // A toolkit menu (the tray's, History's) is drawn as the brand menu: its surface, its rows,
        // the highlight on the active row only, and never on a disabled one.
        QMenu menu;
        test::wearColorScheme(menu, scheme);
        QAction *copy = menu.addAction(QStringLiteral("Copy"));
        QAction *remove = menu.addAction(QStringLiteral("Delete"));
        remove->setEnabled(false);
        menu.addSeparator();
        menu.addAction(QStringLiteral("Settings…"))->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
        menu.popup(QPoint(100, 100));
        menu.setActiveAction(copy);
        const auto rowColor = [&](QAction *action) {
            const QImage image = test::renderWidget(menu, 1.0, Qt::magenta);
            test::saveRender(image, QStringLiteral("stock-menu-") + schemeName(scheme));
            return test::pixelAt(
                image, QPointF(menu.actionGeometry(action).left() + 6, menu.actionGeometry(action).center().y()));
        };
        const QColor raised = Palette::color(Palette::surfaceRaised, scheme);
        EXPECT_EQ(menu.actionGeometry(copy).height(), ZepaMenu::kRowHeight);
        EXPECT_TRUE(
            test::sameColor(rowColor(copy), test::over(Palette::color(Palette::controlHover, scheme), raised), 3));
        EXPECT_TRUE(test::sameColor(rowColor(remove), raised, 3));
        menu.setActiveAction(remove);
        EXPECT_TRUE(test::sameColor(rowColor(remove), raised, 3)) << "a disabled entry takes no highlight";
        menu.close();
    }
}

TEST_F(BrandStyleTest, AScrollBarIsAThinThumbWithNoTrackAndNoArrows)
{
    for (const ColorScheme scheme : {ColorScheme::light, ColorScheme::dark}) {
        SCOPED_TRACE(schemeName(scheme).toStdString());
        auto *bar = new QScrollBar(Qt::Vertical);
        bar->setRange(0, 300);
        bar->setPageStep(100);
        bar->setValue(0);
        bar->setFixedHeight(200);
        const QImage image = render(bar, scheme, Focus::none, QStringLiteral("scroll-bar-") + schemeName(scheme));
        EXPECT_EQ(m_geometry.width(), BrandStyle::kScrollBarExtent);
        const QColor page = Palette::color(Palette::background, scheme);
        // At rest the thumb is the tertiary text colour, under the pointer the secondary one.
        const auto isThumb = [&](const QColor &shown) {
            return test::sameColor(shown, Palette::color(Palette::textTertiary, scheme), 6) ||
                   test::sameColor(shown, Palette::color(Palette::textSecondary, scheme), 6);
        };
        const qreal x = m_geometry.right() + 1 - 1 - 3;
        // The thumb starts at the top (no arrow button above it) and covers a third of the length.
        EXPECT_TRUE(isThumb(test::pixelAt(image, QPointF(x, m_geometry.top() + 10))));
        EXPECT_TRUE(test::sameColor(test::pixelAt(image, QPointF(x, m_geometry.top() + 150)), page, 3))
            << "no track below the thumb";
        EXPECT_TRUE(
            test::sameColor(test::pixelAt(image, QPointF(m_geometry.left() + 0.5, m_geometry.top() + 10)), page, 3))
            << "thin: the thumb keeps off the bar's inner edge";
    }
}

TEST(ZepaPopoverTest, TheArrowPointsAtTheAnchorAndTheShadowStaysInTheMargin)
{
    const QSizeF size(200 + 2 * PopoverLook::kShadowMargin, 80 + 2 * PopoverLook::kShadowMargin);
    for (const ColorScheme scheme : {ColorScheme::light, ColorScheme::dark}) {
        const QColor page = Palette::color(Palette::background, scheme);
        const QImage image = test::renderPaint(
            size,
            [&](QPainter &painter, const QRectF &rect) {
                PopoverLook::paint(painter, rect, PopoverArrowEdge::top, 60, true, scheme);
            },
            2.0, page);
        test::saveRender(image, QStringLiteral("popover-") + schemeName(scheme));
        const qreal margin = PopoverLook::kShadowMargin;
        const QColor surface = Palette::color(Palette::surfaceRaised, scheme);
        // The arrow's tip is at x 60, at the top of the shape; beside it there is no surface.
        EXPECT_TRUE(test::sameColor(test::pixelAt(image, {60, margin + 3}), surface, 6));
        EXPECT_FALSE(test::sameColor(test::pixelAt(image, {60 + 20, margin + 3}), surface, 6));
        EXPECT_TRUE(test::sameColor(test::pixelAt(image, {size.width() / 2, size.height() / 2}), surface, 3));
        // The shadow darkens the margin under the shape, and nothing beyond the window's edge.
        const QColor under = test::pixelAt(image, {size.width() / 2, size.height() - margin + 3});
        EXPECT_LT(under.lightness(), page.lightness());
    }
}

} // namespace

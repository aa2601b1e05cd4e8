// The ring in a real tray, read off the screen: on a light and on a dark panel in every state and
// appearance, and in the colours a tray states for its icons.
#include "menubar/MenuBarExtra.h"
#include "platform/linux/x11/X11TrayPanel.h"
#include "support/Contrast.h"
#include "support/Polling.h"
#include "support/ServiceEnvironment.h"
#include "support/TrayHost.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QScreen>
#include <QSystemTrayIcon>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using zq::ColorScheme;
using zq::MenuBarExtra;

QImage screenArea(const QRect &area)
{
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

// What the screen shows where the icon is; empty until the tray has placed it.
QImage shownIcon(const MenuBarExtra &extra)
{
    const QRect geometry = extra.trayIcon()->geometry();
    return geometry.isValid() ? screenArea(geometry) : QImage();
}

bool shows(const QImage &image, const QColor &color)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (std::abs(pixel.red() - color.red()) <= 3 && std::abs(pixel.green() - color.green()) <= 3 &&
                std::abs(pixel.blue() - color.blue()) <= 3)
                return true;
        }
    return false;
}

// The colour of the ring's most legible pixel when `ink` is drawn on `panel` at `size`, as the
// tray's icon window draws it.
QColor ringCore(const zq::RingInk &ink, const QColor &panel, QSize size)
{
    QImage drawn(size, QImage::Format_RGB32);
    drawn.fill(panel);
    QPainter painter(&drawn);
    MenuBarExtra::ringIcon(ink).paint(&painter, drawn.rect());
    painter.end();
    QColor core = panel;
    for (int y = 0; y < drawn.height(); ++y)
        for (int x = 0; x < drawn.width(); ++x)
            if (zq::test::contrastRatio(drawn.pixelColor(x, y), panel) > zq::test::contrastRatio(core, panel))
                core = drawn.pixelColor(x, y);
    return core;
}

// A point of the tray's 100-pixel panel at the top right, left of where its icons go.
const QRect kBareTray(1183, 10, 1, 1);

} // namespace

TEST(MenuBarExtraTrayTest, RingReadsOnALightAndADarkPanelInEveryStateAndAppearance)
{
    struct State {
        const char *name;
        bool tapRunning;
        bool triggerSeen;
        bool failing;
    };
    const State states[] = {{"idle", true, true, false},
                            {"trigger not running", false, true, false},
                            {"no working trigger", true, false, false},
                            {"failing", true, true, true},
                            {"failing, trigger not running", false, true, true}};
    for (const QRgb tint : {qRgb(0xF2, 0xF2, 0xF2), qRgb(0x20, 0x20, 0x20)}) {
        SCOPED_TRACE(QColor(tint).name().toStdString());
        zq::test::TrayHost host;
        const bool started = host.start(zq::test::sharedDisplay(), tint);
        ZQ_REQUIRE_SERVICE(started, host.errorString());
        zq::platform::X11TrayPanel trayPanel(zq::test::sharedDisplay().toLocal8Bit());
        trayPanel.start();
        // The tray takes its selection before it paints its panel in (about) its tint.
        ASSERT_TRUE(zq::test::processEventsUntil([&] {
            const QColor bare = screenArea(kBareTray).pixelColor(0, 0);
            return std::abs(bare.red() - qRed(tint)) < 24 && std::abs(bare.blue() - qBlue(tint)) < 24;
        }));
        const QColor panel = screenArea(kBareTray).pixelColor(0, 0);
        for (const ColorScheme scheme : {ColorScheme::light, ColorScheme::dark}) {
            SCOPED_TRACE(scheme == ColorScheme::light ? "light appearance" : "dark appearance");
            MenuBarExtra extra({}, &trayPanel);
            extra.setColorScheme(scheme);
            extra.show();
            for (const State &state : states) {
                SCOPED_TRACE(state.name);
                extra.setTapRunning(state.tapRunning);
                extra.setTriggerSeen(state.triggerSeen);
                extra.setFailing(state.failing);
                const zq::RingInk ink = MenuBarExtra::ringInk({{}, {}, panel}, scheme,
                                                              !state.tapRunning || !state.triggerSeen, state.failing);
                QImage shown;
                ASSERT_TRUE(zq::test::processEventsUntil([&] {
                    shown = shownIcon(extra);
                    return shows(shown, ringCore(ink, panel, shown.size()));
                })) << "the ring drawn for the panel behind it";
                EXPECT_GE(zq::test::strongestContrast(shown, shown.rect(), panel), 3.0);
            }
        }
    }
}

TEST(MenuBarExtraTrayTest, RingTakesTheColoursTheTrayStatesAndFollowsThem)
{
    zq::test::TrayHost host;
    const bool started = host.start(zq::test::sharedDisplay(), qRgb(0x20, 0x20, 0x20));
    ZQ_REQUIRE_SERVICE(started, host.errorString());
    ASSERT_TRUE(host.setColors(qRgb(0xE0, 0xA0, 0x00), qRgb(0xFF, 0x40, 0x40)));
    zq::platform::X11TrayPanel trayPanel(zq::test::sharedDisplay().toLocal8Bit());
    trayPanel.start();
    MenuBarExtra extra({}, &trayPanel);
    extra.setColorScheme(ColorScheme::light);
    extra.show();
    EXPECT_TRUE(zq::test::processEventsUntil([&] { return shows(shownIcon(extra), QColor(0xE0, 0xA0, 0x00)); }));

    ASSERT_TRUE(host.setColors(qRgb(0x40, 0xC0, 0xFF), qRgb(0xFF, 0x40, 0x40)));
    EXPECT_TRUE(zq::test::processEventsUntil([&] { return shows(shownIcon(extra), QColor(0x40, 0xC0, 0xFF)); }))
        << "a change of the tray's colours is followed";
    extra.setFailing(true);
    EXPECT_TRUE(zq::test::processEventsUntil([&] { return shows(shownIcon(extra), QColor(0xFF, 0x40, 0x40)); }))
        << "the tray's own red";
}

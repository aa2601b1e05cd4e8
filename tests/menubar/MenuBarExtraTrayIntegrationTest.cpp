// The ring in a real tray, read off the screen at scales 1 and 2: on a light and on a dark panel in
// every state and appearance, after the tray host restarts, and in the colours a tray states for its
// icons. The panel reader, on plain windows standing in for a tray, with its later reads on virtual time.
#include "menubar/MenuBarExtra.h"
#include "platform/linux/x11/X11TrayPanel.h"
#include "runtime/QtMainLoop.h"
#include "support/Contrast.h"
#include "support/OpenboxWindowManager.h"
#include "support/Polling.h"
#include "support/ProcessAtScale.h"
#include "support/ServiceEnvironment.h"
#include "support/TrayHost.h"
#include "support/ViewRender.h"
#include "support/VirtualLoop.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

// X11 last: its macros clash with Qt's names.
#include <X11/Xlib.h>

namespace {

using zq::ColorScheme;
using zq::MenuBarExtra;

constexpr QRgb kLightTray = qRgb(0xF2, 0xF2, 0xF2);
constexpr QRgb kDarkTray = qRgb(0x20, 0x20, 0x20);

// The screen as the display holds it, in its own pixels.
QImage screenPixels()
{
    QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
    screen.setDevicePixelRatio(1);
    return screen;
}

// A point of the tray's 100-pixel panel at the top right, left of where its icons go (the tray host
// places its panel in the screen's pixels, whatever the application's scale).
QColor bareTray()
{
    return screenPixels().pixelColor(1183, 10);
}

// Waits until the tray has painted its panel in (about) `tint`; gives what it shows.
std::optional<QColor> trayPainted(QRgb tint)
{
    QColor bare;
    if (!zq::test::processEventsUntil([&] {
            bare = bareTray();
            return std::abs(bare.red() - qRed(tint)) < 24 && std::abs(bare.blue() - qBlue(tint)) < 24;
        }))
        return std::nullopt;
    return bare;
}

// What the screen shows in the window that holds the tray icon, in the screen's pixels (the image's
// device-pixel ratio is the scale); empty while there is none.
QImage shownIcon()
{
    const auto widgets = QApplication::topLevelWidgets();
    for (const QWidget *widget : widgets)
        if (widget->objectName() == QLatin1String("QSystemTrayIconSys") && widget->isVisible())
            return QGuiApplication::primaryScreen()
                ->grabWindow(widget->winId())
                .toImage()
                .convertToFormat(QImage::Format_RGB32);
    return {};
}

bool shows(const QImage &image, const QColor &color)
{
    return !zq::test::colorBounds(image, color, 3).isEmpty();
}

// Waits until the tray shows, pixel for pixel, the ring drawn for `panel` in that state (one drawn
// for another panel, or with an edge, differs along its strokes); gives what it shows.
QImage ringShownFor(const QColor &panel, ColorScheme scheme, bool dimmed, bool failing)
{
    const QIcon ring = MenuBarExtra::ringIcon(MenuBarExtra::ringInk({{}, {}, panel}, scheme, dimmed, failing));
    QImage shown;
    const auto isTheRing = [&] {
        const QImage drawn = zq::test::renderPaint(
            shown.deviceIndependentSize(),
            [&](QPainter &painter, const QRectF &rect) { ring.paint(&painter, rect.toRect()); },
            shown.devicePixelRatio(), panel);
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x)
                if (!zq::test::sameColor(shown.pixelColor(x, y), drawn.pixelColor(x, y), 6))
                    return false;
        return true;
    };
    if (!zq::test::processEventsUntil([&] { return !(shown = shownIcon()).isNull() && isTheRing(); }))
        return {};
    return shown;
}

class MenuBarExtraTrayTest : public ::testing::TestWithParam<int> {};

} // namespace

TEST_P(MenuBarExtraTrayTest, RingReadsOnALightAndADarkPanelInEveryStateAndAppearance)
{
    if (zq::test::ranInAProcessAtScale(GetParam()))
        return;
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
    for (const QRgb tint : {kLightTray, kDarkTray}) {
        SCOPED_TRACE(QColor(tint).name().toStdString());
        zq::test::TrayHost host;
        const bool started = host.start(zq::test::sharedDisplay(), tint);
        ZQ_REQUIRE_SERVICE(started, host.errorString());
        zq::rt::QtMainLoop loop;
        zq::platform::X11TrayPanel trayPanel(zq::test::sharedDisplay().toLocal8Bit(), loop);
        trayPanel.start();
        // The tray takes its selection before it paints its panel.
        const std::optional<QColor> panel = trayPainted(tint);
        ASSERT_TRUE(panel);
        for (const ColorScheme scheme : {ColorScheme::light, ColorScheme::dark}) {
            SCOPED_TRACE(scheme == ColorScheme::light ? "light appearance" : "dark appearance");
            MenuBarExtra extra({}, &trayPanel);
            extra.setColorScheme(scheme);
            extra.show();
            // The tray as the screen shows it in each state, one above the other.
            QImage strip(QSize(100, 24 * int(std::size(states))), QImage::Format_RGB32);
            strip.fill(Qt::black);
            QPainter stripPainter(&strip);
            for (const State &state : states) {
                SCOPED_TRACE(state.name);
                extra.setTapRunning(state.tapRunning);
                extra.setTriggerSeen(state.triggerSeen);
                extra.setFailing(state.failing);
                const QImage shown =
                    ringShownFor(*panel, scheme, !state.tapRunning || !state.triggerSeen, state.failing);
                ASSERT_FALSE(shown.isNull()) << "the ring drawn for the panel behind it";
                EXPECT_GE(zq::test::strongestContrast(shown, shown.rect(), *panel), 3.0);
                stripPainter.drawImage(QPoint(0, 24 * int(&state - states)), screenPixels().copy(1180, 0, 100, 24));
            }
            stripPainter.end();
            zq::test::saveRender(
                strip, QStringLiteral("tray-ring-%1-panel-%2-appearance-scale%3")
                           .arg(tint == kLightTray ? QStringLiteral("light") : QStringLiteral("dark"),
                                scheme == ColorScheme::light ? QStringLiteral("light") : QStringLiteral("dark"))
                           .arg(GetParam()));
        }
    }
}

TEST_P(MenuBarExtraTrayTest, AfterTheTrayHostRestartsTheRingReadsTheNewPanel)
{
    if (zq::test::ranInAProcessAtScale(GetParam()))
        return;
    // A window manager maps each new tray's window and places it, after the tray has docked the icon.
    zq::test::OpenboxWindowManager openbox;
    ZQ_REQUIRE_SERVICE(openbox.start(zq::test::sharedDisplay()), QStringLiteral("openbox did not start"));
    std::optional<zq::test::TrayHost> host;
    host.emplace();
    const bool started = host->start(zq::test::sharedDisplay(), kDarkTray);
    ZQ_REQUIRE_SERVICE(started, host->errorString());
    zq::rt::QtMainLoop loop;
    zq::platform::X11TrayPanel trayPanel(zq::test::sharedDisplay().toLocal8Bit(), loop);
    trayPanel.start();
    // Dimmed in the dark appearance: the state whose ring reads least where the panel is unknown.
    MenuBarExtra extra({}, &trayPanel);
    extra.setColorScheme(ColorScheme::dark);
    extra.setTapRunning(false);
    extra.show();
    std::optional<QColor> panel = trayPainted(kDarkTray);
    ASSERT_TRUE(panel);
    ASSERT_FALSE(ringShownFor(*panel, ColorScheme::dark, true, false).isNull());
    // Each new tray docks the icon, which paints, while the window manager may not have shown the
    // tray's own window yet: the ring is read again once the icon is on screen.
    for (const QRgb tint : {kLightTray, kDarkTray, kLightTray, kDarkTray}) {
        SCOPED_TRACE(QColor(tint).name().toStdString());
        host.reset();
        host.emplace();
        ASSERT_TRUE(host->start(zq::test::sharedDisplay(), tint)) << host->errorString().toStdString();
        panel = trayPainted(tint);
        ASSERT_TRUE(panel);
        const QImage shown = ringShownFor(*panel, ColorScheme::dark, true, false);
        ASSERT_FALSE(shown.isNull()) << "the ring drawn for the new tray's panel";
        EXPECT_GE(zq::test::strongestContrast(shown, shown.rect(), *panel), 3.0);
    }
}

TEST_P(MenuBarExtraTrayTest, RingTakesTheColoursTheTrayStatesAndFollowsThem)
{
    if (zq::test::ranInAProcessAtScale(GetParam()))
        return;
    zq::test::TrayHost host;
    const bool started = host.start(zq::test::sharedDisplay(), kDarkTray);
    ZQ_REQUIRE_SERVICE(started, host.errorString());
    ASSERT_TRUE(host.setColors(qRgb(0xE0, 0xA0, 0x00), qRgb(0xFF, 0x40, 0x40)));
    zq::rt::QtMainLoop loop;
    zq::platform::X11TrayPanel trayPanel(zq::test::sharedDisplay().toLocal8Bit(), loop);
    trayPanel.start();
    MenuBarExtra extra({}, &trayPanel);
    extra.setColorScheme(ColorScheme::light);
    extra.show();
    EXPECT_TRUE(zq::test::processEventsUntil([&] { return shows(shownIcon(), QColor(0xE0, 0xA0, 0x00)); }));

    ASSERT_TRUE(host.setColors(qRgb(0x40, 0xC0, 0xFF), qRgb(0xFF, 0x40, 0x40)));
    EXPECT_TRUE(zq::test::processEventsUntil([&] { return shows(shownIcon(), QColor(0x40, 0xC0, 0xFF)); }))
        << "a change of the tray's colours is followed";
    extra.setFailing(true);
    EXPECT_TRUE(zq::test::processEventsUntil([&] { return shows(shownIcon(), QColor(0xFF, 0x40, 0x40)); }))
        << "the tray's own red";
}

INSTANTIATE_TEST_SUITE_P(AtScale, MenuBarExtraTrayTest, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int> &scale) {
                             return "scale" + std::to_string(scale.param);
                         });

TEST(X11TrayPanelTest, FollowsTheIconWindowAndReadsItsPanelAgainAfterItShows)
{
    Display *x = XOpenDisplay(zq::test::sharedDisplay().toLocal8Bit().constData());
    ZQ_REQUIRE_SERVICE(x, zq::test::sharedDisplayError());
    // Two panels, and icons that show the panel behind them, as a tray's icon windows do.
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixmap = ParentRelative;
    const auto window = [&](Window parent, int left, unsigned long color, bool mapped = true) {
        attributes.background_pixel = color;
        const bool panel = parent == DefaultRootWindow(x);
        const Window made =
            XCreateWindow(x, parent, left, panel ? 40 : 0, panel ? 100 : 20, 20, 0, CopyFromParent, InputOutput,
                          CopyFromParent, panel ? CWOverrideRedirect | CWBackPixel : CWBackPixmap, &attributes);
        if (mapped)
            XMapWindow(x, made);
        XSync(x, False);
        return made;
    };
    const Window dark = window(DefaultRootWindow(x), 40, 0x203040);
    const Window light = window(DefaultRootWindow(x), 300, 0xE0D0C0);
    const Window icon = window(dark, 10, 0, false);
    zq::test::VirtualLoop loop;
    zq::platform::X11TrayPanel reader(zq::test::sharedDisplay().toLocal8Bit(), loop);
    int changes = 0;
    QObject::connect(&reader, &zq::platform::TrayPanel::changed, [&] { ++changes; });
    reader.start();
    EXPECT_EQ(reader.panelColorBehind(icon), std::nullopt) << "not on screen";
    loop.advance(std::chrono::seconds(2));
    // The icon window mapped, reparented and moved, and its panel moved: each followed by a read.
    for (const auto &[change, panel] : std::initializer_list<std::pair<std::function<void()>, std::uint32_t>>{
             {[&] { XMapWindow(x, icon); }, 0x203040},
             {[&] { XReparentWindow(x, icon, light, 10, 0); }, 0xE0D0C0},
             {[&] { XMoveWindow(x, icon, 60, 0); }, 0xE0D0C0},
             {[&] { XMoveWindow(x, light, 500, 40); }, 0xE0D0C0}}) {
        const int before = changes;
        change();
        XSync(x, False);
        EXPECT_TRUE(zq::test::processEventsUntil(loop, [&] { return changes > before; }));
        EXPECT_EQ(reader.panelColorBehind(icon), panel);
    }
    // The tray paints its panel late, saying nothing: read again 0.3 s and 1.5 s after the icon moved,
    // and after a first look at a new icon window, then no more.
    const auto paintedLate = [&](Window panel, Window shown, unsigned long color, int at) {
        XSetWindowBackground(x, panel, color);
        XClearWindow(x, panel);
        XClearWindow(x, shown);
        XSync(x, False);
        const int before = changes;
        loop.advance(std::chrono::milliseconds(at - 1));
        EXPECT_EQ(changes, before) << at << " ms";
        loop.advance(std::chrono::milliseconds(1));
        EXPECT_EQ(changes, before + 1) << at << " ms";
        return reader.panelColorBehind(shown) == color;
    };
    EXPECT_TRUE(paintedLate(light, icon, 0x30A050, 300));
    EXPECT_TRUE(paintedLate(light, icon, 0x8040C0, 1200));
    const Window another = window(dark, 10, 0);
    EXPECT_EQ(reader.panelColorBehind(another), 0x203040u);
    EXPECT_TRUE(paintedLate(dark, another, 0xC0C020, 300));
    EXPECT_TRUE(paintedLate(dark, another, 0x402010, 1200));
    const int settled = changes;
    loop.advance(std::chrono::seconds(10));
    EXPECT_EQ(changes, settled);
    XCloseDisplay(x);
}

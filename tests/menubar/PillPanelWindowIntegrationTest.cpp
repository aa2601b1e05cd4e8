// The drawn pill on a real X server with a window manager: where it goes, that it never takes the
// focus nor a click, and that it leaves after a hide.
#include "menubar/PillPanelWindow.h"

#include "audio/AudioEngine.h"
#include "menubar/brand/Compositor.h"
#include "menubar/brand/Palette.h"
#include "platform/linux/x11/X11WindowCompositing.h"
#include "runtime/Clocks.h"
#include "runtime/QtMainLoop.h"
#include "support/ChildProcess.h"
#include "support/CompositingManager.h"
#include "support/Contrast.h"
#include "support/FakeDictationServices.h"
#include "support/OpenboxWindowManager.h"
#include "support/Polling.h"
#include "support/ServiceEnvironment.h"
#include "support/TextTargetWindow.h"
#include "support/ViewRender.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>

#include <gtest/gtest.h>

#include <cstdlib>

// X11 last: its macros must not reach the Qt and gtest headers.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

using zq::ColorScheme;
using zq::Colorway;
using zq::Palette;
using zq::PillLifecycle;
using zq::PillPanelWindow;
using zq::PillState;
using zq::test::kLoadedMachineTimeout;
using zq::test::processEventsUntil;
using namespace std::chrono_literals;

namespace {

Display *x11Display()
{
    const auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->display() : nullptr;
}

QProcessEnvironment displayEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), zq::test::sharedDisplay());
    return environment;
}

// Where X says the window is, in root coordinates, and whether it is mapped.
struct XWindowState {
    QRect geometry;
    bool viewable = false;
    bool overrideRedirect = false;
    bool acceptsFocus = true;
};

XWindowState xState(WId window)
{
    XWindowState state;
    Display *display = x11Display();
    XWindowAttributes attributes{};
    if (!display || !XGetWindowAttributes(display, window, &attributes))
        return state;
    int x = 0, y = 0;
    ::Window child = 0;
    XTranslateCoordinates(display, window, attributes.root, 0, 0, &x, &y, &child);
    state.geometry = QRect(x, y, attributes.width, attributes.height);
    state.viewable = attributes.map_state == IsViewable;
    state.overrideRedirect = attributes.override_redirect;
    if (XWMHints *hints = XGetWMHints(display, window)) {
        state.acceptsFocus = !(hints->flags & InputHint) || hints->input;
        XFree(hints);
    }
    return state;
}

// A full-screen window of this process under the pill that records where it was clicked. It maps
// without the window manager, which in a fresh home can take long to start managing windows.
class ClickTarget : public QWidget {
public:
    ClickTarget()
    {
        setWindowTitle(QStringLiteral("click target"));
        setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    }
    std::optional<QPoint> clickedAt;

protected:
    void mousePressEvent(QMouseEvent *event) override { clickedAt = event->globalPosition().toPoint(); }
};

struct WindowRig {
    WindowRig() : pill(*services.engine, Colorway::consensusMint, {loop, clocks, services.settings, animations}) {}

    // As the application lends it: the pill asks the X server.
    zq::platform::X11WindowCompositing compositing;
    zq::CompositingLend compositingLent{compositing};
    zq::test::FakeDictationServices services;
    zq::rt::QtMainLoop loop;
    zq::rt::SystemClocks clocks;
    zq::Motion animations{loop};
    PillPanelWindow pill;
};

// A full-screen window of one grey under the pill, so what shows around and through the pill can be
// read off the screen.
class Backdrop : public QWidget {
public:
    static QColor color() { return {128, 128, 128}; }
    Backdrop()
    {
        setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
        setGeometry(0, 0, 1280, 800);
    }

protected:
    void paintEvent(QPaintEvent *) override { QPainter(this).fillRect(rect(), color()); }
};

// The pill on virtual time: frames and the hide run only when the test moves the clock, so the
// screen can be read at any instant of an animation.
struct VirtualWindowRig {
    VirtualWindowRig()
        : pill(*services.engine, Colorway::consensusMint,
               {services.loop, services.loop.clocks(), services.settings, animations})
    {}

    zq::platform::X11WindowCompositing compositing;
    zq::CompositingLend compositingLent{compositing};
    zq::test::FakeDictationServices services;
    zq::Motion animations{services.loop};
    PillPanelWindow pill;
};

// The screen where the pill's window stands (its 460 × 100 panel at the bottom centre of Xvfb's
// screen, and below it, down to the screen's edge, the rows that hold the shadow).
const QRect kPanelOnScreen(410, 676, 460, 800 - 676);

QImage grabPanel()
{
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, kPanelOnScreen.x(), kPanelOnScreen.y(), kPanelOnScreen.width(), kPanelOnScreen.height())
        .toImage()
        .convertToFormat(QImage::Format_ARGB32);
}

QColor pixel(const QImage &image, QPoint at)
{
    return image.pixelColor(at);
}

} // namespace

TEST(PillPanelWindowIntegrationTest, FloatsBottomCentreWithoutFocusAndPassesClicksThrough)
{
    ZQ_REQUIRE_SERVICE(!zq::test::sharedDisplay().isEmpty(), zq::test::sharedDisplayError());
    zq::test::OpenboxWindowManager manager;
    ASSERT_TRUE(manager.start(zq::test::sharedDisplay())) << "openbox did not start";

    ClickTarget below;
    below.setGeometry(0, 0, 1280, 800);
    below.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&below, 10000));

    WindowRig rig;
    rig.pill.update(PillState::listening());
    const WId pillWindow = rig.pill.window().winId();
    ASSERT_TRUE(processEventsUntil([&] { return xState(pillWindow).viewable; }));
    const XWindowState shown = xState(pillWindow);
    // Xvfb's 1280 × 800 screen has no panels: the whole screen is usable.
    EXPECT_EQ(shown.geometry, QRect(QPoint(410, 676), PillPanelWindow::windowSize()));
    EXPECT_TRUE(shown.overrideRedirect) << "unmanaged: no frame, on every workspace, above full-screen windows";
    EXPECT_FALSE(shown.acceptsFocus);
    EXPECT_FALSE(rig.pill.isCompositing()) << "Xvfb runs no compositing manager";

    // A click on the pill's middle lands in the window below.
    const QPoint middle = shown.geometry.center();
    const auto clicked = zq::test::runTool(QStringLiteral("xdotool"),
                                           {QStringLiteral("mousemove"), QString::number(middle.x()),
                                            QString::number(middle.y()), QStringLiteral("click"), QStringLiteral("1")},
                                           displayEnvironment());
    ASSERT_TRUE(clicked.succeeded()) << clicked.describe().toStdString();
    ASSERT_TRUE(processEventsUntil([&] { return below.clickedAt.has_value(); }))
        << "the click did not pass through the pill";
    EXPECT_EQ(*below.clickedAt, middle);

    // Shown again while the pointer is elsewhere: a visible pill stays where it is.
    rig.pill.update(PillState::thinking());
    QCoreApplication::processEvents();
    EXPECT_EQ(xState(pillWindow).geometry, shown.geometry);

    // Without a compositing manager the shaped window has no fade to play: it leaves as the exit
    // begins (the exit's timing is checked on virtual time).
    QElapsedTimer sinceHide;
    rig.pill.update(PillState::hidden());
    sinceHide.start();
    ASSERT_TRUE(processEventsUntil([&] { return !xState(pillWindow).viewable; }, kLoadedMachineTimeout));
    RecordProperty("hide_to_unmapped_ms", static_cast<int>(sinceHide.elapsed()));
}

TEST(PillPanelWindowIntegrationTest, AFocusedTextFieldKeepsTheFocusAndThePaste)
{
    ZQ_REQUIRE_SERVICE(!zq::test::sharedDisplay().isEmpty(), zq::test::sharedDisplayError());
    zq::test::OpenboxWindowManager manager;
    ASSERT_TRUE(manager.start(zq::test::sharedDisplay())) << "openbox did not start";
    zq::test::TextTargetWindow target;
    ASSERT_TRUE(target.start(zq::test::sharedDisplay())) << target.errorString().toStdString();
    ASSERT_TRUE(target.activate());

    WindowRig rig;
    rig.pill.update(PillState::listening());
    ASSERT_TRUE(processEventsUntil([&] { return xState(rig.pill.window().winId()).viewable; }));
    rig.pill.update(PillState::thinking());
    QCoreApplication::processEvents();
    EXPECT_TRUE(target.isActive()) << "the pill took the focus";

    ASSERT_TRUE(target.setClipboard(QStringLiteral("pasted under the pill")));
    ASSERT_TRUE(zq::test::runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("ctrl+v")},
                                  displayEnvironment())
                    .succeeded());
    EXPECT_TRUE(
        target.waitForText([](const QString &text) { return text.contains(QStringLiteral("pasted under")); }, 5s));
}

// What the user sees of the pill on a desktop without a compositing manager and with one: the
// capsule and its border whole, the locked ring, the muted words, and how the pill leaves. Shaped,
// the window cannot fade or cast a shadow, so it leaves at the first exit frame; translucent, it
// fades out over its shadow. The screenshots go to view-renders/pill-screen-*.png.
TEST(PillPanelWindowIntegrationTest, ThePillOnTheScreenWithAndWithoutACompositingManager)
{
    ZQ_REQUIRE_SERVICE(!zq::test::sharedDisplay().isEmpty(), zq::test::sharedDisplayError());
    zq::test::OpenboxWindowManager manager;
    ASSERT_TRUE(manager.start(zq::test::sharedDisplay())) << "openbox did not start";
    Backdrop backdrop;
    backdrop.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&backdrop, 10000));

    VirtualWindowRig rig;
    zq::test::CompositingManager compositor;
    // Panel coordinates: the capsule's centre, a point of its fill above the mark, its top border,
    // and a point below it where the shadow falls.
    const QPoint centre(230, 50);
    const QPoint fillProbe(230, 36);
    const QPoint borderProbe(230, 32);
    const QPoint shadowProbe(230, 88);
    const QString notice = QStringLiteral("Microphone access needed. Grant microphone access, then try again.");

    for (const bool compositing : {false, true}) {
        if (compositing) {
            ASSERT_TRUE(compositor.start(zq::test::sharedDisplay())) << compositor.errorString().toStdString();
        }
        for (const ColorScheme scheme : {ColorScheme::light, ColorScheme::dark}) {
            const QString mode = QStringLiteral("%1-%2").arg(
                compositing ? QStringLiteral("compositor") : QStringLiteral("no-compositor"),
                scheme == ColorScheme::dark ? QStringLiteral("dark") : QStringLiteral("light"));
            SCOPED_TRACE(mode.toStdString());
            const auto color = [scheme](Palette::Token token) { return Palette::color(token, scheme); };
            const QColor fill = color(Palette::surfaceRaised);
            // Reads the screen until `shows` holds for what it shows (frames reach it through the
            // event loop and, with a compositing manager, through its repaint), and saves it.
            const auto shoot = [&](const QString &state, const std::function<bool(const QImage &)> &shows) {
                QImage shot;
                processEventsUntil(
                    [&] {
                        shot = grabPanel();
                        return shows(shot);
                    },
                    kLoadedMachineTimeout);
                zq::test::saveRender(shot, QStringLiteral("pill-screen-%1-%2").arg(mode, state));
                return shot;
            };

            rig.pill.update(PillState::listening());
            EXPECT_EQ(rig.pill.isCompositing(), compositing) << "asked again as the pill comes up";
            zq::test::wearColorScheme(rig.pill.window(), scheme);
            rig.services.advance(0.3);
            const QImage listening = shoot(QStringLiteral("listening"), [&](const QImage &shot) {
                return zq::test::sameColor(pixel(shot, fillProbe), fill, 3);
            });
            EXPECT_TRUE(zq::test::sameColor(pixel(listening, fillProbe), fill, 3))
                << pixel(listening, fillProbe).name().toStdString();
            const QColor below = pixel(listening, shadowProbe);
            if (compositing) {
                EXPECT_LT(below.lightness(), Backdrop::color().lightness() - 20) << "the shadow falls below the pill";
                // Past the panel's last row the shadow goes on fading: no edge where the panel ends.
                const int last = PillPanelWindow::kPanelSize.height() - 1;
                EXPECT_LE(std::abs(pixel(listening, QPoint(230, last)).lightness() -
                                   pixel(listening, QPoint(230, last + 1)).lightness()),
                          3);
            } else {
                EXPECT_TRUE(zq::test::sameColor(below, Backdrop::color(), 2))
                    << "a shaped window shows nothing outside the capsule";
            }
            const QColor listeningBorder = pixel(listening, borderProbe);

            // Locked: the same mark, ringed in the focus colour.
            rig.pill.update(PillState::locked());
            rig.services.advance(0.1);
            const QColor focus = color(Palette::focus);
            const QImage locked = shoot(QStringLiteral("locked"), [&](const QImage &shot) {
                return zq::test::sameColor(pixel(shot, borderProbe), focus, 24);
            });
            EXPECT_TRUE(zq::test::sameColor(pixel(locked, borderProbe), focus, 24))
                << pixel(locked, borderProbe).name().toStdString();
            EXPECT_GT(zq::test::contrastRatio(pixel(locked, borderProbe), listeningBorder), 1.5)
                << "locked and listening look alike: " << listeningBorder.name().toStdString();

            // Muted: the danger ring around the mark and the notice's title, legible.
            rig.pill.update(PillState::muted(notice));
            rig.services.advance(0.6);
            const double width =
                rig.pill.frame()
                    .capsuleRect(QRectF(QPointF(0, 0), QSizeF(PillPanelWindow::kPanelSize)), rig.pill.now())
                    .width();
            const int right = static_cast<int>(centre.x() + width / 2);
            const QColor danger = color(Palette::danger);
            const QImage muted = shoot(QStringLiteral("muted"), [&](const QImage &shot) {
                return zq::test::sameColor(pixel(shot, QPoint(right - 20, 32)), danger, 24);
            });
            EXPECT_GT(width, 150) << "the capsule grew to its words";
            EXPECT_TRUE(zq::test::sameColor(pixel(muted, QPoint(right - 20, 32)), danger, 24))
                << "the ring reaches round the words";
            const QRectF words(centre.x() - width / 2 + 36, 42, width - 50, 16);
            EXPECT_GE(zq::test::strongestContrast(muted, words, fill), 4.5);

            rig.pill.update(PillState::thinking());
            rig.services.advance(0.6);
            shoot(QStringLiteral("thinking"), [&](const QImage &shot) {
                return zq::test::sameColor(pixel(shot, QPoint(right - 20, 50)), Backdrop::color(), 2);
            });
            rig.pill.update(PillState::done());
            rig.services.advance(1.0);
            shoot(QStringLiteral("done"),
                  [&](const QImage &shot) { return zq::test::sameColor(pixel(shot, fillProbe), fill, 3); });

            // The exit, 0.1 s in.
            rig.pill.update(PillState::hidden());
            rig.services.advance(0.1);
            const PillLifecycle::Presence presence = rig.pill.lifecycle().presence(rig.pill.now());
            const QPoint inside(centre.x(), static_cast<int>(centre.y() - 18 * presence.scale + 3));
            if (compositing) {
                QColor faded = fill;
                faded.setAlphaF(float(presence.opacity));
                const QColor expected = zq::test::over(faded, Backdrop::color());
                const QImage exit = shoot(QStringLiteral("exit"), [&](const QImage &shot) {
                    return zq::test::sameColor(pixel(shot, inside), expected, 10);
                });
                EXPECT_TRUE(zq::test::sameColor(pixel(exit, inside), expected, 10))
                    << "the capsule fades with its content: " << pixel(exit, inside).name().toStdString() << " vs "
                    << expected.name().toStdString();
                EXPECT_TRUE(rig.pill.window().isVisible()) << "the exit plays in the window";
            } else {
                EXPECT_FALSE(rig.pill.window().isVisible()) << "no fade to play: the window leaves at once";
                const QImage exit = shoot(QStringLiteral("exit"), [&](const QImage &shot) {
                    return zq::test::sameColor(pixel(shot, inside), Backdrop::color(), 2);
                });
                EXPECT_TRUE(zq::test::sameColor(pixel(exit, inside), Backdrop::color(), 2))
                    << "a bare capsule stands on screen: " << pixel(exit, inside).name().toStdString();
            }
            rig.services.advance(0.2);
            EXPECT_FALSE(rig.pill.window().isVisible());
            EXPECT_EQ(rig.pill.lifecycle(), PillLifecycle());
        }
        compositor.stop();
    }
}

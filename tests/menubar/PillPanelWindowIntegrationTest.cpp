// The drawn pill on a real X server with a window manager: where it goes, that it never takes the
// focus nor a click, and that it leaves after a hide.
#include "menubar/PillPanelWindow.h"

#include "audio/AudioEngine.h"
#include "runtime/Clocks.h"
#include "runtime/QtMainLoop.h"
#include "support/ChildProcess.h"
#include "support/FakeDictationServices.h"
#include "support/Polling.h"
#include "support/ServiceEnvironment.h"
#include "support/TextTargetWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>

#include <gtest/gtest.h>

// X11 last: its macros must not reach the Qt and gtest headers.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

using zq::Colorway;
using zq::PillPanelWindow;
using zq::PillState;
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

// Openbox on the test's display, so focus and stacking follow a real window manager.
class WindowManager {
public:
    bool start()
    {
        // Openbox names itself on the root window early in its start-up but sets the focus only at
        // its end, which can take it from a window activated meanwhile; and the root may still name
        // the manager of an earlier test, whose hold on the display the server may not have
        // dropped yet (--replace waits for it). It runs the start-up command once it is ready.
        const QString ready = m_log.filePath(QStringLiteral("ready"));
        zq::test::ChildSpec spec;
        spec.program = QStringLiteral("openbox");
        spec.arguments = {QStringLiteral("--replace"), QStringLiteral("--startup"), QStringLiteral("touch ") + ready};
        spec.environment = displayEnvironment();
        spec.logPath = m_log.filePath(QStringLiteral("openbox.log"));
        if (!m_process.start(spec))
            return false;
        return zq::test::waitFor([&] { return QFile::exists(ready); }, 15s, 20ms);
    }

private:
    QTemporaryDir m_log;
    zq::test::ChildProcess m_process;
};

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

    zq::test::FakeDictationServices services;
    zq::rt::QtMainLoop loop;
    zq::rt::SystemClocks clocks;
    zq::Motion animations{loop};
    PillPanelWindow pill;
};

} // namespace

TEST(PillPanelWindowIntegrationTest, FloatsBottomCentreWithoutFocusAndPassesClicksThrough)
{
    ZQ_REQUIRE_SERVICE(!zq::test::sharedDisplay().isEmpty(), zq::test::sharedDisplayError());
    WindowManager manager;
    ASSERT_TRUE(manager.start()) << "openbox did not start";

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
    EXPECT_EQ(shown.geometry, QRect(410, 676, 460, 100));
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

    QElapsedTimer sinceHide;
    rig.pill.update(PillState::hidden());
    sinceHide.start();
    ASSERT_TRUE(processEventsUntil([&] { return !xState(pillWindow).viewable; }, 3s));
    EXPECT_GE(sinceHide.elapsed(), 200) << "the exit plays before the window leaves";
    RecordProperty("hide_to_unmapped_ms", static_cast<int>(sinceHide.elapsed()));
}

TEST(PillPanelWindowIntegrationTest, AFocusedTextFieldKeepsTheFocusAndThePaste)
{
    ZQ_REQUIRE_SERVICE(!zq::test::sharedDisplay().isEmpty(), zq::test::sharedDisplayError());
    WindowManager manager;
    ASSERT_TRUE(manager.start()) << "openbox did not start";
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

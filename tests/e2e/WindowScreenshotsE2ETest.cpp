// The real application's windows as a new user first sees them, in light and in dark: the Welcome
// window of a fresh profile, then every page of the main window, shot from the screen into
// view-renders/ for a reviewer to open. A few probes check what the shots must show, and that both
// windows open centred on the screen.
#include "menubar/brand/Palette.h"
#include "support/ChildProcess.h"
#include "support/DesktopDriver.h"
#include "support/E2EEnvironment.h"
#include "support/OpenboxWindowManager.h"
#include "support/Polling.h"
#include "support/ServiceEnvironment.h"
#include "support/ViewRender.h"
#include "window/AppSidebar.h"
#include "window/AppWindowSection.h"

#include <QGuiApplication>
#include <QScreen>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

using namespace std::chrono_literals;
using zq::test::E2EEnvironment;
using zq::test::Microphone;

namespace {

class WindowScreenshotsE2ETest : public ::testing::TestWithParam<const char *> {
protected:
    QString appearance() const { return QString::fromLatin1(GetParam()); }
    zq::ColorScheme scheme() const
    {
        return appearance() == QLatin1String("dark") ? zq::ColorScheme::dark : zq::ColorScheme::light;
    }

    // The one visible window named `title`, once it is mapped (empty when none came).
    QString visibleWindow(zq::test::DesktopDriver &desktop, const QString &title)
    {
        QString found;
        zq::test::waitFor(
            [&] {
                found = desktop.windows({QStringLiteral("--onlyvisible"), QStringLiteral("--name"), title}).value(0);
                return !found.isEmpty();
            },
            15s, 50ms);
        return found;
    }

    // The screen cut to the window, saved under `name`, once the window has painted its background at
    // `probe` (negative coordinates count from the far corner) and, where `before` is given, shows
    // another page than that: its detail area, right of the sidebar (where the pointer's hover does not
    // reach), differs.
    QImage shoot(zq::test::DesktopDriver &desktop, const QString &window, const QString &name, QPoint probe,
                 const QImage &before = {})
    {
        const QColor background = zq::Palette::color(zq::Palette::windowBackground, scheme());
        QImage shot;
        const bool painted = zq::test::waitFor(
            [&] {
                shot = desktop.screenshot().copy(desktop.geometry(window));
                const QPoint at(probe.x() < 0 ? shot.width() + probe.x() : probe.x(),
                                probe.y() < 0 ? shot.height() + probe.y() : probe.y());
                const QRect detail(230, 0, shot.width() - 230, shot.height());
                return shot.rect().contains(at) && zq::test::sameColor(shot.pixelColor(at), background, 3) &&
                       (before.isNull() || shot.copy(detail) != before.copy(detail));
            },
            zq::test::kLoadedMachineTimeout, 50ms);
        EXPECT_TRUE(painted) << name.toStdString() << " never painted";
        zq::test::saveRender(shot, name);
        return shot;
    }
};

TEST_P(WindowScreenshotsE2ETest, TheWelcomeWindowAndEveryPageOfTheMainWindow)
{
    auto env = std::make_unique<E2EEnvironment>(Microphone::Live);
    if (!zq::test::requireService(env->start(), env->errorString()))
        return;
    zq::test::DesktopDriver desktop(env->display());
    const QRect screen(QPoint(0, 0), desktop.screenshot().size());
    // Centred on the screen (the pointer's), give or take a title bar.
    const auto centred = [&](const QRect &window) {
        const QPoint off = window.center() - screen.center();
        return std::abs(off.x()) <= 2 && std::abs(off.y()) <= 40;
    };
    ASSERT_TRUE(
        env->writeSettings({{QStringLiteral("onboarded"), false}, {QStringLiteral("appearance"), appearance()}}));
    ASSERT_TRUE(env->startApp(30s, QByteArrayLiteral("onboarding: microphone"))) << env->errorString().toStdString();

    const QString welcome = visibleWindow(desktop, QStringLiteral("^Welcome$"));
    ASSERT_FALSE(welcome.isEmpty()) << env->appLogTail().toStdString();
    const QImage welcomeShot =
        shoot(desktop, welcome, QStringLiteral("e2e-shots-welcome-") + appearance(), QPoint(6, 6));
    EXPECT_TRUE(centred(desktop.geometry(welcome)));
    const QColor background = zq::Palette::color(zq::Palette::windowBackground, scheme());
    EXPECT_TRUE(zq::test::sameColor(welcomeShot.pixelColor(6, 6), background, 3))
        << welcomeShot.pixelColor(6, 6).name().toStdString();

    // Ctrl+, in the Welcome window opens the main window at General, under a window manager that places
    // what the application leaves to it (openbox: a free corner). The manager then goes, so that the
    // shots show the windows alone.
    auto openbox = std::make_unique<zq::test::OpenboxWindowManager>();
    ASSERT_TRUE(openbox->start(env->display())) << "openbox did not start";
    ASSERT_TRUE(desktop.xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), welcome}).succeeded());
    ASSERT_TRUE(desktop.keys({QStringLiteral("ctrl+comma")}));
    const QString main = visibleWindow(desktop, QStringLiteral("^ZEPA QUARN$"));
    ASSERT_FALSE(main.isEmpty()) << env->appLogTail().toStdString();
    // The manager places a window before it maps it; the wait covers a move by the application after that.
    EXPECT_TRUE(zq::test::waitFor([&] { return centred(desktop.geometry(main)); }, 10s, 50ms))
        << "where the Welcome window opened, not in a free corner";
    zq::test::saveRender(desktop.screenshot(), QStringLiteral("e2e-shots-desktop-") + appearance());
    openbox.reset();
    // Gone, the manager hands the window back to the root window, unframed.
    ASSERT_TRUE(zq::test::waitFor(
        [&] {
            const zq::test::ToolResult tree =
                zq::test::runTool(QStringLiteral("xwininfo"), {QStringLiteral("-display"), env->display(),
                                                               QStringLiteral("-tree"), QStringLiteral("-id"), main});
            for (const QByteArray &line : tree.standardOutput.split('\n'))
                if (line.trimmed().startsWith("Parent window id:"))
                    return line.contains("(the root window)");
            return false;
        },
        zq::test::kLoadedMachineTimeout, 50ms));
    const QRect frame = desktop.geometry(main);
    EXPECT_TRUE(screen.contains(frame)) << "the window opens inside the screen";

    // Each page by a click on its sidebar row (the sidebar stands 10 in and 8 down, 210 wide).
    const QRectF sidebar(10, 8, 210, frame.height() - 18);
    // It opened at General, which is not the first row: every click shows another page.
    QImage previous = desktop.screenshot().copy(frame);
    for (int index = 0; index < int(zq::allAppWindowSections.size()); ++index) {
        const zq::AppWindowSection section = zq::allAppWindowSections[size_t(index)];
        const QPointF row = zq::sidebarRowRect(sidebar, index).center();
        ASSERT_TRUE(desktop.click(frame.topLeft() + row.toPoint()));
        const QImage page =
            shoot(desktop, main, QStringLiteral("e2e-shots-%1-%2").arg(zq::rawValue(section), appearance()),
                  QPoint(-4, -4), previous);
        previous = page;
        // The page's own background fills the detail area's far corner.
        EXPECT_TRUE(zq::test::sameColor(page.pixelColor(page.width() - 4, page.height() - 4), background, 3))
            << zq::rawValue(section).toStdString();
    }
    EXPECT_TRUE(env->stopApp());
}

INSTANTIATE_TEST_SUITE_P(Appearances, WindowScreenshotsE2ETest, ::testing::Values("light", "dark"));

} // namespace

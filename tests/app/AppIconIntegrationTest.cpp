// The icon the desktop shows for the application's windows (their _NET_WM_ICON, read back from the
// X server) and the one it finds by name, as the worn colorway changes.

#include "app/DesktopIcon.h"
#include "app/ZEPAquarnApp.h"
#include "menubar/brand/AppIcon.h"
#include "pipeline/DictationController.h"
#include "support/FakeDictationServices.h"
#include "support/FakePermissionProbe.h"
#include "support/Polling.h"
#include "support/ServiceEnvironment.h"
#include "window/AppWindowView.h"
#include "window/OnboardingView.h"

#include <QApplication>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <memory>

// X11 last: its macros clash with Qt's names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

using zq::Colorway;

namespace {

// The images of a window's _NET_WM_ICON by width, as another client reads them.
std::map<int, QImage> windowIcons(const QWidget &window)
{
    std::map<int, QImage> icons;
    Display *display = XOpenDisplay(zq::test::sharedDisplay().toLocal8Bit().constData());
    if (!display)
        return icons;
    const Atom property = XInternAtom(display, "_NET_WM_ICON", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(display, Window(window.winId()), property, 0, 1 << 22, False, XA_CARDINAL, &type, &format,
                           &count, &remaining, &data) == Success &&
        data && format == 32) {
        // 32-bit items arrive as longs: width, height, then ARGB pixels row by row, per image.
        const auto *items = reinterpret_cast<const unsigned long *>(data);
        for (unsigned long at = 0; at + 2 <= count;) {
            const int width = int(items[at]), height = int(items[at + 1]);
            at += 2;
            if (width <= 0 || height <= 0 ||
                at + static_cast<unsigned long>(width) * static_cast<unsigned long>(height) > count)
                break;
            QImage image(width, height, QImage::Format_ARGB32);
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x)
                    image.setPixel(x, y, uint(items[at++] & 0xFFFFFFFFu));
            icons[width] = image;
        }
    }
    if (data)
        XFree(data);
    XCloseDisplay(display);
    return icons;
}

// Whether the window's icon is the colorway's at 16 and at 256 pixels.
bool wearsIcon(const QWidget &window, Colorway colorway)
{
    const std::map<int, QImage> icons = windowIcons(window);
    for (int size : {16, 256}) {
        const auto found = icons.find(size);
        if (found == icons.end() ||
            found->second != zq::appIconImage(colorway, size).convertToFormat(QImage::Format_ARGB32))
            return false;
    }
    return true;
}

} // namespace

TEST(AppIconIntegrationTest, TheWindowsAndTheDesktopsIconFollowTheWornColorway)
{
    ZQ_REQUIRE_SERVICE(!zq::test::sharedDisplay().isEmpty(), zq::test::sharedDisplayError());
    zq::test::FakeDictationServices services{{.makeController = false}};
    zq::test::FakePermissionProbe probe;
    services.settings.setValue("onboarded", false);
    services.settings.setValue("depthUnlocked", QList<qint64>{1, 2, 3});
    services.settings.setValue("depthSelection", QStringLiteral("agentTeal"));
    QTemporaryDir data;

    zq::ZEPAquarnApp::Environment environment{
        *qobject_cast<QApplication *>(QCoreApplication::instance()),
        services.loop,
        services.settings,
        {},
        [&services] {
            services.makeController();
            return std::move(services.controller);
        },
        {},
    };
    environment.permissionProbe = [&probe]() -> zq::platform::PermissionProbe & { return probe; };
    environment.desktopIconsFolder = data.filePath(QStringLiteral("icons"));
    auto app = std::make_unique<zq::ZEPAquarnApp>(std::move(environment));
    app->showScenes();
    app->openMainWindow();
    ASSERT_NE(app->onboardingWindow(), nullptr);
    ASSERT_NE(app->mainWindow(), nullptr);
    const QWidget &welcome = *app->onboardingWindow();
    const QWidget &main = *app->mainWindow();

    EXPECT_TRUE(zq::test::processEventsUntil([&] { return wearsIcon(main, Colorway::agentTeal); }))
        << "the main window, as it maps";
    EXPECT_TRUE(zq::test::processEventsUntil([&] { return wearsIcon(welcome, Colorway::agentTeal); }))
        << "the Welcome window, as it maps";

    app->delegate().depth().setSelection(Colorway::signalPurple);
    EXPECT_TRUE(zq::test::processEventsUntil([&] { return wearsIcon(main, Colorway::signalPurple); }));
    EXPECT_TRUE(zq::test::processEventsUntil([&] { return wearsIcon(welcome, Colorway::signalPurple); }));

    services.loop.runUntilIdle();
    const zq::DesktopIcon desktop(data.filePath(QStringLiteral("icons")));
    EXPECT_EQ(QImage(desktop.filePath(256)).convertToFormat(QImage::Format_ARGB32_Premultiplied),
              zq::appIconImage(Colorway::signalPurple, 256));
    app.reset();
}

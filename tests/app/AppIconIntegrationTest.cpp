// The icon the desktop shows for the application's windows (their _NET_WM_ICON, read back from the
// X server) and the one it finds by name, as the worn colorway changes.

#include "app/DesktopIcon.h"
#include "menubar/brand/AppIcon.h"
#include "support/ProcessAtScale.h"
#include "support/ServiceEnvironment.h"
#include "support/WindowTestSupport.h"
#include "window/AppWindowView.h"
#include "window/onboarding/OnboardingView.h"

#include <QImage>

#include <gtest/gtest.h>

#include <sys/stat.h>

// X11 last: its macros clash with Qt's names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

using zq::Colorway;

namespace {

// Whether the window's _NET_WM_ICON, as another client reads it, holds the colorway's icon at 16 and
// 256 pixels.
bool wearsIcon(const QWidget &window, Colorway colorway)
{
    Display *display = XOpenDisplay(zq::test::sharedDisplay().toLocal8Bit().constData());
    if (!display)
        return false;
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char *data = nullptr;
    XGetWindowProperty(display, Window(window.winId()), XInternAtom(display, "_NET_WM_ICON", False), 0, 1 << 22, False,
                       XA_CARDINAL, &type, &format, &count, &remaining, &data);
    // 32-bit items arrive as longs: width, height, then ARGB pixels row by row, per image.
    const auto *items = reinterpret_cast<const unsigned long *>(data);
    int found = 0;
    for (unsigned long at = 0; data && format == 32 && at + 2 <= count;) {
        const unsigned long width = items[at], height = items[at + 1];
        at += 2;
        if (width * height > count - at)
            break;
        QImage image(int(width), int(height), QImage::Format_ARGB32);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y, uint(items[at++] & 0xFFFFFFFFu));
        if ((width == 16 || width == 256) &&
            image == zq::appIconImage(colorway, int(width)).convertToFormat(QImage::Format_ARGB32))
            ++found;
    }
    if (data)
        XFree(data);
    XCloseDisplay(display);
    return found == 2;
}

} // namespace

class AppIconIntegrationTest : public zq::test::WindowAppFixture, public ::testing::WithParamInterface<int> {};

TEST_P(AppIconIntegrationTest, TheWindowsAndTheDesktopsIconFollowTheWornColorway)
{
    if (zq::test::ranInAProcessAtScale(GetParam()))
        return;
    ZQ_REQUIRE_SERVICE(!zq::test::sharedDisplay().isEmpty(), zq::test::sharedDisplayError());
    services.settings.setValue("onboarded", false);
    services.settings.setValue("depthUnlocked", QList<qint64>{1, 2, 3});
    services.settings.setValue("depthSelection", QStringLiteral("agentTeal"));
    zq::AppServices with = appServices();
    with.desktopIconsFolder = config.filePath(QStringLiteral("icons"));
    makeApp(std::move(with));
    app->showScenes();
    app->openMainWindow();
    ASSERT_NE(app->onboardingWindow(), nullptr);
    const QWidget &welcome = *app->onboardingWindow();
    const QWidget &main = *app->mainWindow();
    EXPECT_TRUE(settle([&] { return wearsIcon(main, Colorway::agentTeal); })) << "the main window, as it maps";
    EXPECT_TRUE(settle([&] { return wearsIcon(welcome, Colorway::agentTeal); })) << "the Welcome window too";

    app->delegate().depth().setSelection(Colorway::signalPurple);
    EXPECT_TRUE(settle([&] { return wearsIcon(main, Colorway::signalPurple); }));
    EXPECT_TRUE(settle([&] { return wearsIcon(welcome, Colorway::signalPurple); }));

    // The icon the desktop finds by name follows, each file in its own pixels at any scale (the small
    // ones the hinted ring, at 32 px as kept when last looked at); wearing it again leaves them alone.
    const zq::DesktopIcon desktop(config.filePath(QStringLiteral("icons")));
    const QImage kept(QStringLiteral(ZQ_TEST_SOURCE_DIR "/app/data/zepaquarn-signalPurple-32.png"));
    for (int size : {16, 22, 24, 32, 256})
        EXPECT_EQ(QImage(desktop.filePath(size)).convertToFormat(QImage::Format_ARGB32_Premultiplied),
                  size == 32 ? kept.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                             : zq::appIconImage(Colorway::signalPurple, size))
            << size << " px";
    const QString desktopIcon = desktop.filePath(256);
    const auto inode = [&desktopIcon] {
        struct stat info {};
        return ::stat(QFile::encodeName(desktopIcon).constData(), &info) == 0 ? info.st_ino : 0;
    };
    const ino_t written = inode();
    app->applyWearColorway(Colorway::signalPurple);
    services.loop.runUntilIdle();
    EXPECT_EQ(inode(), written);
    EXPECT_TRUE(zq::platform::XdgAutostartEntry::entryText(QStringLiteral("/bin/zq"))
                    .contains(QStringLiteral("\nIcon=%1\n").arg(zq::DesktopIcon::name).toUtf8()));
}

INSTANTIATE_TEST_SUITE_P(AtScale, AppIconIntegrationTest, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int> &scale) {
                             return "scale" + std::to_string(scale.param);
                         });

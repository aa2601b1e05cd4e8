// The icon the application writes into the user's icon theme for notifications and the autostart
// entry to show: where it goes, that it is rewritten only when it changed, and what a failure says.

#include "app/DesktopIcon.h"
#include "menubar/brand/AppIcon.h"
#include "platform/linux/XdgAutostartEntry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using zq::Colorway;
using zq::DesktopIcon;

namespace {

ino_t inodeOf(const QString &path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}

} // namespace

TEST(DesktopIconTest, EverySizeGoesIntoTheHicolorThemeAndOnlyWhatChangedIsWrittenAgain)
{
    QTemporaryDir data;
    const DesktopIcon desktop(data.filePath(QStringLiteral("icons")));
    ASSERT_TRUE(desktop.install(zq::appIconAsset(QStringLiteral("AppIcon"))));
    for (int size : zq::kAppIconSizes) {
        const QString path = data.filePath(QStringLiteral("icons/hicolor/%1x%1/apps/zepaquarn.png").arg(size));
        ASSERT_EQ(desktop.filePath(size), path);
        EXPECT_EQ(QImage(path).convertToFormat(QImage::Format_ARGB32_Premultiplied),
                  zq::appIconImage(Colorway::consensusMint, size))
            << size;
    }
    EXPECT_EQ(desktop.notificationIcon(), QStringLiteral("file://") + desktop.filePath(128));
    // The autostart entry names the icon by the name it is installed under.
    EXPECT_TRUE(zq::platform::XdgAutostartEntry::entryText(QStringLiteral("/bin/zq"))
                    .contains(QStringLiteral("\nIcon=%1\n").arg(DesktopIcon::name).toUtf8()));

    const ino_t unchanged = inodeOf(desktop.filePath(256));
    ASSERT_TRUE(desktop.install(zq::appIconAsset(QStringLiteral("AppIcon"))));
    EXPECT_EQ(inodeOf(desktop.filePath(256)), unchanged) << "the same icon leaves the file alone";
    ASSERT_TRUE(desktop.install(zq::appIconAsset(QStringLiteral("AppIcon-deepOrbit"))));
    EXPECT_EQ(QImage(desktop.filePath(256)).convertToFormat(QImage::Format_ARGB32_Premultiplied),
              zq::appIconImage(Colorway::deepOrbit, 256));
}

TEST(DesktopIconTest, AFolderThatCannotBeMadeIsReportedAndTheOtherSizesAreStillWritten)
{
    QTemporaryDir data;
    const QString icons = data.filePath(QStringLiteral("icons"));
    ASSERT_TRUE(QDir().mkpath(icons + QStringLiteral("/hicolor")));
    QFile blocker(icons + QStringLiteral("/hicolor/48x48"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    const DesktopIcon desktop(icons);
    const auto installed = desktop.install(zq::appIconAsset(QStringLiteral("AppIcon-signalPurple")));
    ASSERT_FALSE(installed);
    EXPECT_TRUE(installed.error().message.contains(desktop.filePath(48))) << installed.error().message.toStdString();
    EXPECT_TRUE(QFileInfo::exists(desktop.filePath(16)));
    EXPECT_TRUE(QFileInfo::exists(desktop.filePath(256))) << "sizes after the failure are written too";
}

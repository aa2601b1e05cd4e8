#pragma once

#include "runtime/Result.h"

#include <QString>

class QIcon;

namespace zq {

// The application's icon where the desktop looks icons up: "zepaquarn" in the user's hicolor icon
// theme, a PNG per size ($XDG_DATA_HOME/icons/hicolor/<n>x<n>/apps/zepaquarn.png). Notifications, the
// autostart entry and the desktop's own lists of programs show it; the application writes it at
// launch and again when the worn colorway changes, so it needs no installation of its own.
class DesktopIcon {
public:
    static inline const QString name = QStringLiteral("zepaquarn");

    // `iconsFolder` is the base of the user's icon themes ($XDG_DATA_HOME/icons).
    explicit DesktopIcon(QString iconsFolder);
    static QString defaultIconsFolder();

    QString filePath(int pixelSize) const;
    // What a notification names as its application's icon: the 128-pixel file as a file URI. Every
    // notification server opens a file; not every one looks a name up in the user's own themes.
    QString notificationIcon() const;

    // Writes the icon at each of kAppIconSizes, leaving alone the files that already hold it; stops
    // at the first file that cannot be written, and names it.
    rt::Result<void> install(const QIcon &icon) const;

private:
    QString m_folder;
};

} // namespace zq

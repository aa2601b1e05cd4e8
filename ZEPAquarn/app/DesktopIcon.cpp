#include "app/DesktopIcon.h"

#include "menubar/brand/AppIcon.h"
#include "runtime/FileOps.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QUrl>

#include <cerrno>

namespace zq {

namespace {

// A 256-pixel icon is well under a megabyte; anything larger is no file of ours.
constexpr qint64 kMostIconBytes = 4 << 20;

QByteArray pngOf(const QIcon &icon, int pixelSize)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    // In the file's own pixels: at the application's scale the icon would hand over a larger one.
    icon.pixmap(QSize(pixelSize, pixelSize), 1.0).toImage().save(&buffer, "PNG");
    return png;
}

} // namespace

DesktopIcon::DesktopIcon(QString iconsFolder) : m_folder(std::move(iconsFolder)) {}

QString DesktopIcon::defaultIconsFolder()
{
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    // XDG base directories must be absolute; a relative one is ignored.
    if (data.isEmpty() || QDir::isRelativePath(data))
        data = QDir::homePath() + QStringLiteral("/.local/share");
    return data + QStringLiteral("/icons");
}

QString DesktopIcon::filePath(int pixelSize) const
{
    return QStringLiteral("%1/hicolor/%2x%2/apps/%3.png").arg(m_folder).arg(pixelSize).arg(name);
}

QString DesktopIcon::notificationIcon() const
{
    return QUrl::fromLocalFile(filePath(128)).toString();
}

rt::Result<void> DesktopIcon::install(const QIcon &icon) const
{
    for (int size : kAppIconSizes) {
        const QString path = filePath(size);
        const QByteArray png = pngOf(icon, size);
        if (const auto current = rt::readOwnFile(path, kMostIconBytes); current && current.value() == png)
            continue;
        if (!QDir().mkpath(QFileInfo(path).path()))
            return rt::makeError(QStringLiteral("The folder of %1 could not be created.").arg(path),
                                 QStringLiteral("posix"), EACCES);
        if (auto written = rt::writeFileAtomically(path, png); !written)
            return written;
    }
    return {};
}

} // namespace zq

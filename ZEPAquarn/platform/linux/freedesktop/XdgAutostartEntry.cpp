#include "platform/linux/freedesktop/XdgAutostartEntry.h"

#include "runtime/FileOps.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace zq::platform {

namespace {

// An Exec argument is quoted when it holds a reserved character; inside quotes ", `, $ and \ take a
// backslash. The desktop entry's own string escaping then doubles every backslash, and a literal
// percent sign is written %% so that it is not read as a field code.
QString execArgument(const QString &path)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool needsQuotes = path.isEmpty();
    for (QChar c : path)
        needsQuotes = needsQuotes || reserved.contains(c);
    QString argument;
    if (needsQuotes) {
        argument += QLatin1Char('"');
        for (QChar c : path) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
                argument += QLatin1Char('\\');
            argument += c;
        }
        argument += QLatin1Char('"');
    } else {
        argument = path;
    }
    argument.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    argument.replace(QLatin1Char('%'), QStringLiteral("%%"));
    return argument;
}

bool isSwitchedOff(const QByteArray &text)
{
    for (const QByteArray &raw : text.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line == "Hidden=true" || line == "X-GNOME-Autostart-enabled=false")
            return true;
    }
    return false;
}

} // namespace

XdgAutostartEntry::XdgAutostartEntry(QString autostartFolder, QString executable)
    : m_folder(std::move(autostartFolder)), m_executable(std::move(executable))
{}

XdgAutostartEntry XdgAutostartEntry::forCurrentUser()
{
    return XdgAutostartEntry(defaultAutostartFolder(), QCoreApplication::applicationFilePath());
}

QString XdgAutostartEntry::defaultAutostartFolder()
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    // XDG base directories must be absolute; a relative one is ignored.
    if (config.isEmpty() || QDir::isRelativePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/autostart");
}

QString XdgAutostartEntry::entryPath() const
{
    return m_folder + QLatin1Char('/') + fileName;
}

QByteArray XdgAutostartEntry::entryText(const QString &executable)
{
    QString text = QStringLiteral("[Desktop Entry]\n"
                                  "Type=Application\n"
                                  "Name=ZEPA QUARN\n"
                                  "Comment=Push-to-talk dictation\n"
                                  "Icon=zepaquarn\n"
                                  "Exec=%1\n"
                                  "Terminal=false\n"
                                  "X-GNOME-Autostart-enabled=true\n")
                       .arg(execArgument(executable));
    return text.toUtf8();
}

LoginItem::Status XdgAutostartEntry::status() const
{
    QFile file(entryPath());
    if (!file.open(QIODevice::ReadOnly))
        return Status::notRegistered;
    return isSwitchedOff(file.readAll()) ? Status::notRegistered : Status::enabled;
}

rt::Result<void> XdgAutostartEntry::registerItem()
{
    if (!QDir().mkpath(m_folder))
        return rt::makeError(QStringLiteral("The autostart folder %1 could not be created.").arg(m_folder),
                             QStringLiteral("posix"), EACCES);
    return rt::writeFileAtomically(entryPath(), entryText(m_executable));
}

rt::Result<void> XdgAutostartEntry::unregisterItem()
{
    const QString path = entryPath();
    if (!QFileInfo::exists(path))
        return {};
    if (::unlink(QFile::encodeName(path).constData()) != 0) {
        const int error = errno;
        return rt::makeError(QStringLiteral("The autostart entry %1 could not be removed: %2.")
                                 .arg(path, QString::fromLocal8Bit(std::strerror(error))),
                             QStringLiteral("posix"), error);
    }
    return {};
}

} // namespace zq::platform

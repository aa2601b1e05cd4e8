#include "window/support/RevealFailureText.h"

namespace zq {

QString revealFailureText(const QString &what, const QString &path, const QString &home)
{
    QString shown = QDir::cleanPath(path);
    const QString cleanHome = QDir::cleanPath(home);
    if (!cleanHome.isEmpty() && cleanHome != QStringLiteral("/") &&
        (shown == cleanHome || shown.startsWith(cleanHome + QLatin1Char('/'))))
        shown = QLatin1Char('~') + shown.mid(cleanHome.size());
    // Lines break after a "/" (a zero-width space) and never at a hyphen (a word joiner), so the
    // file's own name stays whole.
    shown.replace(QLatin1Char('-'), QStringLiteral("-\u2060"));
    shown.replace(QLatin1Char('/'), QStringLiteral("/\u200B"));
    return QStringLiteral("Couldn't open a file manager. The %1 is at %2").arg(what, shown);
}

} // namespace zq

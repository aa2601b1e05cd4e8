#include "records/FileManagerReveal.h"

#include "runtime/Log.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

namespace zq {

namespace {

void openFolder(const QString &path)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QProcess::startDetached(QStringLiteral("xdg-open"), {folder}))
        qCWarning(lcRecords) << "reveal: no file manager could be opened";
}

} // namespace

void revealInFileManager(const QString &path)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolder(path);
        return;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    message << QStringList{QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)} << QString();
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(message));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [path](QDBusPendingCallWatcher *call) {
        if (call->isError())
            openFolder(path);
        call->deleteLater();
    });
}

} // namespace zq

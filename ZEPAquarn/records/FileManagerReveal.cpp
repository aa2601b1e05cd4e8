#include "records/FileManagerReveal.h"

#include "runtime/Log.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace zq {

namespace {

// The folder through xdg-open, run as a child of ours so that its exit status tells whether
// anything took the folder. A handler it starts is its own process and outlives it and us.
void openFolder(const QString &path, RevealDone done)
{
    auto *opener = new QProcess;
    opener->setProgram(QStringLiteral("xdg-open"));
    opener->setArguments({QFileInfo(path).absolutePath()});
    opener->setStandardInputFile(QProcess::nullDevice());
    opener->setProcessChannelMode(QProcess::ForwardedChannels);
    auto reported = std::make_shared<bool>(false);
    const auto finish = [path, done = std::move(done), reported](bool shown) {
        if (*reported)
            return;
        *reported = true;
        if (!shown)
            qCWarning(lcRecords) << "reveal: no file manager could show" << path;
        if (done)
            done({path, shown});
    };
    QObject::connect(opener, &QProcess::errorOccurred, opener, [opener, finish](QProcess::ProcessError error) {
        // Not installed: no finished() follows.
        if (error == QProcess::FailedToStart) {
            finish(false);
            opener->deleteLater();
        }
    });
    QObject::connect(opener, &QProcess::finished, opener, [opener, finish](int code, QProcess::ExitStatus status) {
        finish(status == QProcess::NormalExit && code == 0);
        opener->deleteLater();
    });
    QTimer::singleShot(kOpenerSettleMs, opener, [finish] { finish(true); });
    opener->start();
}

} // namespace

void revealInFileManager(const QString &path, RevealDone done)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolder(path, std::move(done));
        return;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    message << QStringList{QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)} << QString();
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(message));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [path, done = std::move(done)](QDBusPendingCallWatcher *call) {
                         if (call->isError())
                             openFolder(path, done);
                         else if (done)
                             done({path, true});
                         call->deleteLater();
                     });
}

} // namespace zq

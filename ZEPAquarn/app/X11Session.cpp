#include "app/X11Session.h"

#include "records/Diagnostics.h"
#include "runtime/Log.h"
#include "runtime/QuitDeadline.h"
#include "runtime/Settings.h"

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

namespace zq::X11Session {

namespace {

// Qt's message handler is process-wide; so is what it needs.
QtMessageHandler s_previousMessageHandler = nullptr;
std::mutex s_lossMutex;
QtMessageHandler s_beforeLossWatch = nullptr;
std::function<bool()> s_displayGone;
std::function<void()> s_lossAction;
std::thread::id s_lossThread;

void passOn(QtMessageHandler handler, QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (handler)
        handler(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

void guardToolkitStart(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtFatalMsg) {
        passOn(s_previousMessageHandler, type, context, message);
        return;
    }
    std::fprintf(stderr, "%s\n", qPrintable(unavailableMessage()));
    std::fflush(stderr);
    // Nothing of the application exists yet: nothing to save, and the half-made toolkit must not
    // run its teardown.
    std::_Exit(1);
}

void watchForDisplayLoss(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    QtMessageHandler previous = nullptr;
    std::function<bool()> displayGone;
    {
        const std::lock_guard lock(s_lossMutex);
        previous = s_beforeLossWatch;
        // Only the thread that owns the application may touch it.
        if (type != QtDebugMsg && type != QtInfoMsg && s_lossAction && std::this_thread::get_id() == s_lossThread)
            displayGone = s_displayGone;
    }
    passOn(previous, type, context, message);
    if (!displayGone || !displayGone())
        return;
    std::function<void()> action;
    {
        const std::lock_guard lock(s_lossMutex);
        action = std::exchange(s_lossAction, nullptr);
    }
    if (!action)
        return;
    action();
    std::fflush(nullptr);
    // The toolkit's exit() would follow at once and tear down what the application's threads use.
    std::_Exit(1);
}

} // namespace

ToolkitStartGuard::ToolkitStartGuard()
{
    s_previousMessageHandler = qInstallMessageHandler(guardToolkitStart);
}

ToolkitStartGuard::~ToolkitStartGuard()
{
    qInstallMessageHandler(s_previousMessageHandler);
    s_previousMessageHandler = nullptr;
}

DisplayLossHandler::DisplayLossHandler(std::function<bool()> displayGone, std::function<void()> action)
{
    const std::lock_guard lock(s_lossMutex);
    Q_ASSERT_X(!s_lossAction, "DisplayLossHandler", "only one may exist at a time");
    s_displayGone = std::move(displayGone);
    s_lossAction = std::move(action);
    s_lossThread = std::this_thread::get_id();
    s_beforeLossWatch = qInstallMessageHandler(watchForDisplayLoss);
}

DisplayLossHandler::~DisplayLossHandler()
{
    const std::lock_guard lock(s_lossMutex);
    qInstallMessageHandler(s_beforeLossWatch);
    s_beforeLossWatch = nullptr;
    s_lossAction = nullptr;
    s_displayGone = nullptr;
}

void settleForDisplayLoss(const std::function<void()> &keepInFlight, rt::Settings &settings,
                          const std::function<void()> &waitForStores, std::chrono::milliseconds wait)
{
    // A write into a folder that stopped answering never returns: it cannot keep the process.
    const rt::QuitDeadline deadline(wait, 1);
    keepInFlight();
    if (const auto saved = settings.sync(); !saved)
        qCWarning(lcApp) << "app: settings not saved:" << saved.error().message;
    waitForStores();
    Diagnostics::shared().waitUntilWritten();
}

QString unavailableMessage()
{
    const QByteArray name = qgetenv("DISPLAY");
    const QString why = name.isEmpty()
                            ? QStringLiteral("no X11 display is set (DISPLAY is empty)")
                            : QStringLiteral("the X11 display “%1” cannot be opened").arg(QString::fromLocal8Bit(name));
    return QStringLiteral("ZEPA QUARN needs an X11 session (or XWayland): the trigger key, paste and the pill "
                          "work only there, and %1. Log in to an X11 session to dictate.")
        .arg(why);
}

bool notifyUnavailable()
{
    return notify(notificationTitle, notificationBody);
}

bool notify(const QString &title, const QString &body)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(1));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("zepaquarn"));
    call << QStringLiteral("ZEPA QUARN") << uint(0) << QString() << title << body << QStringList() << hints << int(-1);
    const QDBusMessage reply = bus.call(call, QDBus::Block, 3000);
    return reply.type() == QDBusMessage::ReplyMessage;
}

} // namespace zq::X11Session

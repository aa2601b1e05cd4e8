#include "app/X11Session.h"

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <utility>

namespace zq::X11Session {

namespace {

// Qt's message handler and the exit hook are process-wide; so is what they need.
QtMessageHandler s_previousMessageHandler = nullptr;
std::mutex s_exitMutex;
std::function<void()> s_exitAction;
std::thread::id s_exitThread;

void guardToolkitStart(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtFatalMsg) {
        if (s_previousMessageHandler)
            s_previousMessageHandler(type, context, message);
        else
            std::fprintf(stderr, "%s\n", qPrintable(message));
        return;
    }
    std::fprintf(stderr, "%s\n", qPrintable(unavailableMessage()));
    std::fflush(stderr);
    // Nothing of the application exists yet: nothing to save, and the half-made toolkit must not
    // run its teardown.
    std::_Exit(1);
}

void runExitAction()
{
    std::function<void()> action;
    {
        const std::lock_guard lock(s_exitMutex);
        // Only the thread that owns the application may touch it.
        if (std::this_thread::get_id() != s_exitThread)
            return;
        action = std::exchange(s_exitAction, nullptr);
    }
    if (action)
        action();
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

DisplayLossHandler::DisplayLossHandler(std::function<void()> action)
{
    static std::once_flag registered;
    std::call_once(registered, [] { std::atexit(runExitAction); });
    const std::lock_guard lock(s_exitMutex);
    Q_ASSERT_X(!s_exitAction, "DisplayLossHandler", "only one may exist at a time");
    s_exitAction = std::move(action);
    s_exitThread = std::this_thread::get_id();
}

DisplayLossHandler::~DisplayLossHandler()
{
    const std::lock_guard lock(s_exitMutex);
    s_exitAction = nullptr;
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
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(1));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("zepaquarn"));
    call << QStringLiteral("ZEPA QUARN") << uint(0) << QString() << notificationTitle << notificationBody
         << QStringList() << hints << int(-1);
    const QDBusMessage reply = bus.call(call, QDBus::Block, 3000);
    return reply.type() == QDBusMessage::ReplyMessage;
}

} // namespace zq::X11Session

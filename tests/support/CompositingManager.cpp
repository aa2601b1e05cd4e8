#include "support/CompositingManager.h"

#include "support/Polling.h"

// X11 last: its macros must not reach the Qt headers.
#include <X11/Xlib.h>

namespace zq::test {

CompositingManager::~CompositingManager()
{
    stop();
}

bool CompositingManager::isRunningOn(const QString &display)
{
    Display *connection = XOpenDisplay(display.toLocal8Bit().constData());
    if (!connection)
        return false;
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(DefaultScreen(connection));
    const bool owned = XGetSelectionOwner(connection, XInternAtom(connection, name.constData(), False)) != 0;
    XCloseDisplay(connection);
    return owned;
}

bool CompositingManager::start(const QString &display, std::chrono::milliseconds timeout)
{
    m_display = display;
    ChildSpec spec;
    spec.program = QStringLiteral("xcompmgr");
    spec.arguments = {QStringLiteral("-n")};
    spec.environment = QProcessEnvironment::systemEnvironment();
    spec.environment.insert(QStringLiteral("DISPLAY"), display);
    spec.logPath = m_log.filePath(QStringLiteral("xcompmgr.log"));
    m_process.emplace();
    if (!m_process->start(spec)) {
        m_error = m_process->errorString();
        m_process.reset();
        return false;
    }
    if (!waitFor([&] { return isRunningOn(display) || !m_process->isRunning(); }, timeout,
                 std::chrono::milliseconds(20)) ||
        !isRunningOn(display)) {
        m_error = QStringLiteral("xcompmgr did not take the compositing selection: ") + m_process->logTail();
        stop();
        return false;
    }
    return true;
}

void CompositingManager::stop(std::chrono::milliseconds timeout)
{
    if (!m_process)
        return;
    m_process->stop();
    m_process.reset();
    // The server lets go of the selection once the manager's connection is gone.
    waitFor([&] { return !isRunningOn(m_display); }, timeout, std::chrono::milliseconds(20));
}

} // namespace zq::test

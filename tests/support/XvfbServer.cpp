#include "support/XvfbServer.h"

#include "support/ServiceEnvironment.h"

namespace zq::test {

XvfbServer::~XvfbServer()
{
    stop();
}

bool XvfbServer::start(std::chrono::milliseconds timeout)
{
    const QDeadlineTimer deadline(timeout);
    m_dir = makeServiceDir(QStringLiteral("zq-xvfb"));
    if (!m_dir->isValid()) {
        m_error = QStringLiteral("Xvfb: cannot create a temporary folder: %1").arg(m_dir->errorString());
        return false;
    }
    ChildSpec spec;
    spec.program = QStringLiteral("Xvfb");
    // Xvfb writes the display number it chose to fd 3 once it accepts clients.
    spec.arguments = {QStringLiteral("-displayfd"), QStringLiteral("3"),           QStringLiteral("-screen"),
                      QStringLiteral("0"),          QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"),
                      QStringLiteral("tcp")};
    spec.logPath = m_dir->filePath(QStringLiteral("xvfb.log"));
    spec.pipeOnFd3 = true;
    if (!m_process.start(spec)) {
        m_error = QStringLiteral("Xvfb: %1").arg(m_process.errorString());
        return false;
    }
    const std::optional<QByteArray> line = m_process.readLine(ChildProcess::Channel::Fd3, deadline);
    bool numeric = false;
    const int number = line ? line->trimmed().toInt(&numeric) : -1;
    if (!numeric) {
        m_error = QStringLiteral("Xvfb did not report a display within %1 ms (%2); log:\n%3")
                      .arg(timeout.count())
                      .arg(m_process.isRunning() ? QStringLiteral("still running") : QStringLiteral("exited"))
                      .arg(m_process.logTail());
        m_process.stop();
        return false;
    }
    m_display = QStringLiteral(":%1").arg(number);
    return true;
}

void XvfbServer::stop()
{
    m_process.stop();
    m_display.clear();
}

} // namespace zq::test

#include "support/XvfbServer.h"

#include "support/ServiceEnvironment.h"

#include <QRandomGenerator>

namespace zq::test {

XvfbServer::~XvfbServer()
{
    stop();
}

bool XvfbServer::start(std::chrono::milliseconds timeout, DisplayNumber choice)
{
    const QDeadlineTimer deadline(timeout);
    m_dir = makeServiceDir(QStringLiteral("zq-xvfb"));
    if (!m_dir->isValid()) {
        m_error = QStringLiteral("Xvfb: cannot create a temporary folder: %1").arg(m_dir->errorString());
        return false;
    }
    if (choice == DisplayNumber::lowestFree)
        return startOn(std::nullopt, deadline, timeout);
    // Servers that pick the lowest free number stay far below these; a number someone else holds
    // makes Xvfb exit at once, so a few draws are enough.
    for (int attempt = 0; attempt < 8 && !deadline.hasExpired(); ++attempt) {
        if (startOn(QRandomGenerator::global()->bounded(5000, 30000), deadline, timeout))
            return true;
    }
    return false;
}

bool XvfbServer::startOn(std::optional<int> number, const QDeadlineTimer &deadline, std::chrono::milliseconds timeout)
{
    ChildSpec spec;
    spec.program = QStringLiteral("Xvfb");
    // Xvfb writes the display number it chose to fd 3 once it accepts clients. Without -noreset the
    // server resets whenever its last client leaves (say, a program that only checks the display),
    // and a client connecting during that reset is refused.
    spec.arguments = {QStringLiteral("-displayfd"), QStringLiteral("3"),           QStringLiteral("-screen"),
                      QStringLiteral("0"),          QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"),
                      QStringLiteral("tcp"),        QStringLiteral("-noreset")};
    if (number)
        spec.arguments.prepend(QStringLiteral(":%1").arg(*number));
    spec.logPath = m_dir->filePath(QStringLiteral("xvfb.log"));
    spec.pipeOnFd3 = true;
    m_process.emplace();
    if (!m_process->start(spec)) {
        m_error = QStringLiteral("Xvfb: %1").arg(m_process->errorString());
        return false;
    }
    const std::optional<QByteArray> line = m_process->readLine(ChildProcess::Channel::Fd3, deadline);
    bool numeric = false;
    const int chosen = line ? line->trimmed().toInt(&numeric) : -1;
    if (!numeric) {
        m_error = QStringLiteral("Xvfb did not report a display within %1 ms (%2); log:\n%3")
                      .arg(timeout.count())
                      .arg(m_process->isRunning() ? QStringLiteral("still running") : QStringLiteral("exited"))
                      .arg(m_process->logTail());
        m_process->stop();
        return false;
    }
    m_display = QStringLiteral(":%1").arg(chosen);
    return true;
}

void XvfbServer::stop()
{
    if (m_process)
        m_process->stop();
    m_display.clear();
}

} // namespace zq::test

#include "support/OpenGate.h"

#include "support/Polling.h"
#include "support/ServiceEnvironment.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zq::test {

namespace {

QString fifoPath(const QTemporaryDir &dir)
{
    return dir.filePath(QStringLiteral("gate"));
}

QString heldPath(const QTemporaryDir &dir)
{
    return dir.filePath(QStringLiteral("held"));
}

} // namespace

OpenGate::OpenGate(QByteArray pattern) : m_pattern(std::move(pattern)), m_dir(makeServiceDir(QStringLiteral("gate")))
{
    if (!m_dir || !m_dir->isValid()) {
        m_error = QStringLiteral("no folder for the gate");
        return;
    }
    const QByteArray fifo = QFile::encodeName(fifoPath(*m_dir));
    if (::mkfifo(fifo.constData(), 0600) != 0) {
        m_error = QStringLiteral("mkfifo: ") + QString::fromLocal8Bit(std::strerror(errno));
        return;
    }
    // Read and write, so the open does not wait for a reader. While this end is open a held thread's
    // read blocks; closing it ends every such read.
    m_writer = ::open(fifo.constData(), O_RDWR | O_CLOEXEC);
    if (m_writer < 0)
        m_error = QStringLiteral("cannot open the gate: ") + QString::fromLocal8Bit(std::strerror(errno));
}

OpenGate::~OpenGate()
{
    open();
}

QProcessEnvironment OpenGate::variables() const
{
    QProcessEnvironment variables;
    const QString library = QStringLiteral(ZQ_OPEN_GATE_LIBRARY);
    const QString preloaded = qEnvironmentVariable("LD_PRELOAD");
    variables.insert(QStringLiteral("LD_PRELOAD"),
                     preloaded.isEmpty() ? library : library + QLatin1Char(':') + preloaded);
    variables.insert(QStringLiteral("ZQ_OPEN_GATE_PATTERN"), QString::fromLocal8Bit(m_pattern));
    if (m_dir) {
        variables.insert(QStringLiteral("ZQ_OPEN_GATE_FIFO"), fifoPath(*m_dir));
        variables.insert(QStringLiteral("ZQ_OPEN_GATE_HELD"), heldPath(*m_dir));
    }
    return variables;
}

QStringList OpenGate::held() const
{
    if (!m_dir)
        return {};
    QFile file(heldPath(*m_dir));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList OpenGate::waitUntilHeld(std::chrono::milliseconds timeout) const
{
    QStringList found;
    waitFor([&] { return !(found = held()).isEmpty(); }, timeout, std::chrono::milliseconds(5));
    return found;
}

void OpenGate::open()
{
    if (m_writer >= 0)
        ::close(m_writer);
    m_writer = -1;
}

} // namespace zq::test

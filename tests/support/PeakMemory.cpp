#include "support/PeakMemory.h"

#include <QByteArray>
#include <QFile>

namespace zq::test {

MemoryUse memoryUse()
{
    MemoryUse use;
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return use;
    for (const QByteArray &line : status.readAll().split('\n')) {
        const auto kilobytes = [&line] { return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024; };
        if (line.startsWith("VmRSS:"))
            use.resident = kilobytes();
        else if (line.startsWith("VmHWM:"))
            use.peak = kilobytes();
    }
    return use;
}

bool resetPeakMemory()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    return refs.open(QIODevice::WriteOnly) && refs.write("5") == 1 && refs.flush();
}

} // namespace zq::test

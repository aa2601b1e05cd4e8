#include "support/OpenboxWindowManager.h"

#include "support/Polling.h"

#include <QFile>

using namespace std::chrono_literals;

namespace zq::test {

bool OpenboxWindowManager::start(const QString &display)
{
    // Openbox names itself on the root window early in its start-up but sets the focus only at its
    // end, which can take it from a window activated meanwhile; and the root may still name the
    // manager of an earlier test, whose hold on the display the server may not have dropped yet
    // (--replace waits for it). It runs the start-up command once it is ready.
    const QString ready = m_log.filePath(QStringLiteral("ready"));
    ChildSpec spec;
    spec.program = QStringLiteral("openbox");
    spec.arguments = {QStringLiteral("--replace"), QStringLiteral("--startup"), QStringLiteral("touch ") + ready};
    spec.environment.insert(QStringLiteral("DISPLAY"), display);
    spec.logPath = m_log.filePath(QStringLiteral("openbox.log"));
    if (!m_process.start(spec))
        return false;
    return waitFor([&] { return QFile::exists(ready); }, 15s, 20ms);
}

} // namespace zq::test

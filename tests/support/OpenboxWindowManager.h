#pragma once

#include "support/ChildProcess.h"

#include <QString>
#include <QTemporaryDir>

namespace zq::test {

// Openbox on a test's display, so focus, stacking and popups behave as on a desktop. Its
// process ends with the object. Use from one thread.
class OpenboxWindowManager {
public:
    // Returns once openbox has finished starting (it runs its start-up command last).
    bool start(const QString &display);

private:
    QTemporaryDir m_log;
    ChildProcess m_process;
};

} // namespace zq::test

#pragma once

#include <QString>

namespace zq {

// Writes a short report (signal, time, version, backtrace) into a folder when the process dies of
// SIGSEGV, SIGBUS, SIGILL, SIGFPE or SIGABRT, then lets the signal take its default action.
// The handler uses async-signal-safe calls only: the folder is opened and the text prepared at
// install time. Reports are named "ZEPAquarn-<yyyy-MM-dd-HHmmss>-<pid>.crash" (UTC).
class CrashReportWriter {
public:
    // Process-wide; the first successful call wins and later calls return false. Creates `folder`.
    static bool install(const QString &folder, const QString &appVersion, const QString &build);
    static bool isInstalled();
};

} // namespace zq

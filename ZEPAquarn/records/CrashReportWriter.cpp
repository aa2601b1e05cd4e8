#include "records/CrashReportWriter.h"

#include "runtime/Log.h"
#include "runtime/Paths.h"

#include <QDir>
#include <QFile>

#include <atomic>
#include <csignal>
#include <cstring>
#include <ctime>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zq {

namespace {

constexpr int fatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};

std::atomic<bool> s_installed{false};
std::atomic<bool> s_writing{false};
int s_folderFd = -1;
char s_versionLine[256];
// A stack overflow leaves no stack for the handler; it runs on this one instead (main thread).
alignas(16) char s_alternateStack[64 * 1024];

struct CivilTime {
    long long year;
    unsigned month, day, hour, minute, second;
};

// A tiny formatter over a fixed buffer: no allocation, no locale, no stdio.
class Line {
public:
    Line &text(const char *s)
    {
        while (*s && m_size < sizeof m_buffer)
            m_buffer[m_size++] = *s++;
        return *this;
    }
    Line &number(unsigned long long value, int minimumDigits = 1)
    {
        char digits[24];
        int count = 0;
        do {
            digits[count++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0 && count < 24);
        while (count < minimumDigits && count < 24)
            digits[count++] = '0';
        while (count > 0 && m_size < sizeof m_buffer)
            m_buffer[m_size++] = digits[--count];
        return *this;
    }
    // "YYYY-MM-DD", `dateTimeSeparator`, then hours, minutes and seconds joined by `timeSeparator`.
    Line &civilTime(const CivilTime &t, const char *dateTimeSeparator, const char *timeSeparator)
    {
        return number(static_cast<unsigned long long>(t.year), 4)
            .text("-")
            .number(t.month, 2)
            .text("-")
            .number(t.day, 2)
            .text(dateTimeSeparator)
            .number(t.hour, 2)
            .text(timeSeparator)
            .number(t.minute, 2)
            .text(timeSeparator)
            .number(t.second, 2);
    }
    Line &hex(unsigned long long value)
    {
        text("0x");
        char digits[16];
        int count = 0;
        do {
            digits[count++] = "0123456789abcdef"[value & 0xf];
            value >>= 4;
        } while (value != 0);
        while (count > 0 && m_size < sizeof m_buffer)
            m_buffer[m_size++] = digits[--count];
        return *this;
    }
    void writeTo(int fd) const
    {
        std::size_t done = 0;
        while (done < m_size) {
            const ssize_t written = ::write(fd, m_buffer + done, m_size - done);
            if (written <= 0)
                return;
            done += static_cast<std::size_t>(written);
        }
    }
    void clear() { m_size = 0; }
    // The text as a C string; the last byte of the buffer is kept for the terminator.
    const char *terminated()
    {
        m_buffer[m_size < sizeof m_buffer ? m_size : sizeof m_buffer - 1] = '\0';
        return m_buffer;
    }

private:
    char m_buffer[512];
    std::size_t m_size = 0;
};

// Days since 1970-01-01 to a proleptic Gregorian date (pure arithmetic, so safe in a handler).
CivilTime civilFromEpoch(long long seconds)
{
    long long days = seconds / 86400;
    long long rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned mp = (5 * dayOfYear + 2) / 153;
    const unsigned day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const unsigned month = mp < 10 ? mp + 3 : mp - 9;
    const long long year = static_cast<long long>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
    return {year,
            month,
            day,
            static_cast<unsigned>(rest / 3600),
            static_cast<unsigned>(rest % 3600 / 60),
            static_cast<unsigned>(rest % 60)};
}

const char *signalName(int signalNumber)
{
    switch (signalNumber) {
    case SIGSEGV:
        return "SIGSEGV";
    case SIGBUS:
        return "SIGBUS";
    case SIGILL:
        return "SIGILL";
    case SIGFPE:
        return "SIGFPE";
    case SIGABRT:
        return "SIGABRT";
    }
    return "signal";
}

void writeReport(int signalNumber, const siginfo_t *info)
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const CivilTime t = civilFromEpoch(now.tv_sec);
    const pid_t pid = ::getpid();

    Line name;
    name.text("ZEPAquarn-").civilTime(t, "-", "").text("-").number(static_cast<unsigned long long>(pid)).text(".crash");
    const int fd = ::openat(s_folderFd, name.terminated(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return;

    Line line;
    line.text("ZEPA QUARN crash report\n").writeTo(fd);
    line.clear();
    line.text("Signal: ")
        .number(static_cast<unsigned>(signalNumber))
        .text(" (")
        .text(signalName(signalNumber))
        .text(")\n");
    line.writeTo(fd);
    line.clear();
    line.text("Time: ").civilTime(t, "T", ":").text("Z\n");
    line.writeTo(fd);
    line.clear();
    line.text(s_versionLine).writeTo(fd);
    line.clear();
    line.text("Process: ").number(static_cast<unsigned long long>(pid)).text("\n").writeTo(fd);
    if (info && (signalNumber == SIGSEGV || signalNumber == SIGBUS)) {
        line.clear();
        line.text("Fault address: ").hex(reinterpret_cast<unsigned long long>(info->si_addr)).text("\n").writeTo(fd);
    }
    line.clear();
    line.text("Backtrace:\n").writeTo(fd);
    void *frames[64];
    const int count = ::backtrace(frames, 64);
    ::backtrace_symbols_fd(frames, count, fd);
    ::fsync(fd);
    ::close(fd);
}

void handleFatalSignal(int signalNumber, siginfo_t *info, void *)
{
    const int savedErrno = errno;
    // Only the first fatal signal writes; a second thread crashing at the same time just dies.
    if (!s_writing.exchange(true))
        writeReport(signalNumber, info);

    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    ::sigemptyset(&defaultAction.sa_mask);
    ::sigaction(signalNumber, &defaultAction, nullptr);
    errno = savedErrno;
    // Blocked while this handler runs: delivered with the default action as soon as it returns.
    // A fault from an instruction also simply happens again.
    ::raise(signalNumber);
}

} // namespace

bool CrashReportWriter::install(const QString &folder, const QString &appVersion, const QString &build)
{
    if (s_installed.load())
        return false;
    if (auto made = rt::Paths::ensurePrivateDirectory(folder); !made) {
        qCWarning(lcDiagnostics).noquote() << "diagnostics: crash reports folder unusable:" << made.error().message;
        return false;
    }
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        qCWarning(lcDiagnostics) << "diagnostics: crash reports folder cannot be opened — no crash reports";
        return false;
    }
    if (s_installed.exchange(true)) {
        ::close(fd);
        return false;
    }
    s_folderFd = fd;
    const QByteArray version = QStringLiteral("Version: %1 (%2)\n").arg(appVersion, build).toUtf8();
    std::strncpy(s_versionLine, version.constData(), sizeof s_versionLine - 1);

    // The first backtrace() loads the unwinder, which allocates: do it now, not in the handler.
    void *frames[4];
    ::backtrace(frames, 4);

    stack_t stack{};
    stack.ss_sp = s_alternateStack;
    stack.ss_size = sizeof s_alternateStack;
    ::sigaltstack(&stack, nullptr);

    struct sigaction action {};
    action.sa_sigaction = handleFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    ::sigemptyset(&action.sa_mask);
    for (const int signalNumber : fatalSignals)
        ::sigaction(signalNumber, &action, nullptr);
    return true;
}

bool CrashReportWriter::isInstalled()
{
    return s_installed.load();
}

} // namespace zq

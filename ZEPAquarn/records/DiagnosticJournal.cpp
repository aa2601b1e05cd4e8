#include "records/DiagnosticJournal.h"

#include "runtime/FileOps.h"
#include "runtime/Log.h"
#include "runtime/Paths.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zq {

namespace {

// Write failures are swallowed by design; each step still runs.
void appendBytes(const QString &path, const QByteArray &bytes, bool durable)
{
    // O_NOFOLLOW: a link in the log's place must not make us append to a file elsewhere.
    // O_NONBLOCK: a FIFO in its place must not hold the writer until someone reads it.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return;
    }
    // The log is the user's alone to read, whoever made the file.
    if ((info.st_mode & 077) != 0)
        ::fchmod(fd, info.st_mode & 0700);
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        data += written;
        left -= written;
    }
    // The line must be on disk before the run state that names it.
    if (durable)
        ::fsync(fd);
    ::close(fd);
}

// Replaces `path` with `data` through a temporary and a rename, as rt::writeFileAtomically does,
// but without waiting for the disk: another process sees the new file at once, and so does the
// next launch after this process dies; only a crash of the whole system may lose it until
// DiagnosticJournal::syncToDisk() has run.
bool replaceWithoutSync(const QString &path, const QByteArray &data)
{
    const QFileInfo info(path);
    QByteArray temporary =
        QFile::encodeName(info.absolutePath() + QLatin1String("/.") + info.fileName() + QLatin1String(".tmp-XXXXXX"));
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool written = rt::writeAll(fd, data.constData(), data.size());
    if (::close(fd) != 0 || !written || ::rename(temporary.constData(), QFile::encodeName(path).constData()) != 0) {
        ::unlink(temporary.constData());
        return false;
    }
    return true;
}

// Flushes one regular file (or folder) of the log folder to disk; never through a link.
void syncPath(const QString &path, int flags)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | flags);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

qint64 fileSize(const QString &path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return static_cast<qint64>(info.st_size);
}

bool exists(const QString &path)
{
    return ::access(QFile::encodeName(path).constData(), F_OK) == 0;
}

} // namespace

DiagnosticJournal::DiagnosticJournal(QString directory, const rt::Clocks &clocks, QString sessionID, QString appVersion,
                                     QString build)
    : m_directory(std::move(directory)), m_clocks(clocks), m_sessionID(std::move(sessionID)),
      m_appVersion(std::move(appVersion)), m_build(std::move(build))
{}

QString DiagnosticJournal::currentLogPath() const
{
    return m_directory + QLatin1String("/diagnostics.jsonl");
}

QString DiagnosticJournal::runStatePath() const
{
    return m_directory + QLatin1String("/run-state.json");
}

QString DiagnosticJournal::rotatedLogPath(int index) const
{
    return m_directory + QStringLiteral("/diagnostics.%1.jsonl").arg(index);
}

QString DiagnosticJournal::formatTimestamp(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

QByteArray DiagnosticJournal::readmeText()
{
    return QByteArrayLiteral("ZEPA QUARN diagnostics\n"
                             "\n"
                             "diagnostics.jsonl contains app lifecycle and timing events only.\n"
                             "It never contains audio, transcript text, API keys, dictionary\n"
                             "entries, or clipboard contents. run-state.json identifies a prior\n"
                             "force-quit/crash when normal termination was not reached.\n"
                             "\n"
                             "Crash reports (.crash) found after a failure are\n"
                             "copied here unchanged so they can be attached to a bug report.");
}

void DiagnosticJournal::recordIfActive(DiagnosticEvent event, const DiagnosticMetadata &metadata)
{
    std::lock_guard lock(m_mutex);
    if (m_state)
        appendLocked(event, metadata);
}

std::optional<DiagnosticRunState> DiagnosticJournal::state() const
{
    std::lock_guard lock(m_mutex);
    return m_state;
}

void DiagnosticJournal::beginSession(Durability durability)
{
    std::lock_guard lock(m_mutex);
    const bool durable = durability == Durability::synced;
    prepareDirectoryLocked(durable);

    // A run state that cannot be read or decoded is treated as absent, but kept: the first line of
    // this session rewrites the file.
    std::optional<DiagnosticRunState> previous;
    if (auto read = rt::readOwnFile(runStatePath(), maximumRunStateBytes); read) {
        previous = DiagnosticRunState::fromJson(read.value());
        if (!previous)
            (void)rt::moveAside(runStatePath(), QStringLiteral("run state cannot be decoded"));
    } else if (read.error().code != ENOENT) {
        (void)rt::moveAside(runStatePath(), read.error().message);
    }

    m_state = DiagnosticRunState{
        true, m_sessionID, m_appVersion, m_build, DiagnosticEvent::appLaunched, formatTimestamp(m_clocks.wallNow())};

    if (previous && previous->active) {
        qCInfo(lcDiagnostics) << "diagnostics: previous run did not end normally, last event"
                              << rawValue(previous->lastEvent);
        appendLocked(DiagnosticEvent::previousRunUnclean,
                     {
                         {QStringLiteral("previous_session"), previous->sessionID},
                         {QStringLiteral("previous_version"), previous->appVersion},
                         {QStringLiteral("previous_build"), previous->build},
                         {QStringLiteral("last_event"), rawValue(previous->lastEvent)},
                         {QStringLiteral("last_event_at"), previous->updatedAt},
                     },
                     durable);
    }
    appendLocked(DiagnosticEvent::appLaunched, {}, durable);
}

void DiagnosticJournal::syncToDisk()
{
    std::lock_guard lock(m_mutex);
    // The lines first, then the run state that names the last of them, then the names themselves.
    syncPath(currentLogPath(), 0);
    syncPath(runStatePath(), 0);
    syncPath(m_directory, O_DIRECTORY);
}

void DiagnosticJournal::endSession()
{
    std::lock_guard lock(m_mutex);
    if (!m_state)
        return;
    appendLocked(DiagnosticEvent::appTerminated, {});
    m_state->active = false;
    writeRunStateLocked(true);
}

void DiagnosticJournal::appendLocked(DiagnosticEvent event, const DiagnosticMetadata &metadata, bool durable)
{
    const QString timestamp = formatTimestamp(m_clocks.wallNow());
    const DiagnosticRecord record{timestamp, m_sessionID, m_appVersion, m_build, event, metadata};
    QByteArray line = record.toJson();
    if (line.isEmpty())
        return;
    line.append('\n');

    rotateIfNeededLocked(line.size());
    appendBytes(currentLogPath(), line, durable);

    if (m_state) {
        m_state->lastEvent = event;
        m_state->updatedAt = timestamp;
        writeRunStateLocked(durable);
    }
}

void DiagnosticJournal::writeRunStateLocked(bool durable)
{
    if (!durable) {
        if (!replaceWithoutSync(runStatePath(), m_state->toJson()))
            qCDebug(lcDiagnostics) << "diagnostics: run state not written";
        return;
    }
    if (auto written = rt::writeFileAtomically(runStatePath(), m_state->toJson()); !written)
        qCDebug(lcDiagnostics) << "diagnostics: run state not written:" << written.error().message;
}

void DiagnosticJournal::rotateIfNeededLocked(qint64 incomingBytes)
{
    if (fileSize(currentLogPath()) + incomingBytes <= maxLogBytes)
        return;
    for (int i = retainedLogs; i >= 1; --i) {
        const QString source = i == 1 ? currentLogPath() : rotatedLogPath(i - 1);
        const QString target = rotatedLogPath(i);
        if (!exists(source))
            continue;
        ::unlink(QFile::encodeName(target).constData());
        ::rename(QFile::encodeName(source).constData(), QFile::encodeName(target).constData());
    }
}

void DiagnosticJournal::prepareDirectoryLocked(bool durable)
{
    if (auto made = rt::Paths::ensurePrivateDirectory(m_directory); !made)
        qCWarning(lcDiagnostics).noquote() << "diagnostics: log folder unusable:" << made.error().message;
    const QString readme = m_directory + QLatin1String("/README.txt");
    if (exists(readme))
        return;
    if (durable)
        (void)rt::writeFileAtomically(readme, readmeText());
    else
        (void)replaceWithoutSync(readme, readmeText());
}

} // namespace zq

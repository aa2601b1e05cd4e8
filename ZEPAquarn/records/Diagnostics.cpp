#include "records/Diagnostics.h"

#include "records/CrashReportWriter.h"
#include "records/FileManagerReveal.h"
#include "runtime/FileOps.h"
#include "runtime/Log.h"
#include "runtime/Paths.h"
#include "runtime/QtMainLoop.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QUuid>

#include <algorithm>

namespace zq {

namespace {

const rt::Clocks &clocksOf(const Diagnostics::Options &options, std::unique_ptr<rt::Clocks> &own)
{
    if (options.clocks)
        return *options.clocks;
    own = std::make_unique<rt::SystemClocks>();
    return *own;
}

rt::Executor &watchdogQueueOf(const Diagnostics::Options &options, std::unique_ptr<rt::SerialQueue> &own)
{
    if (options.watchdogQueue)
        return *options.watchdogQueue;
    own = std::make_unique<rt::SerialQueue>(QStringLiteral("io.quorvane.zepaquarn.hang-watchdog"));
    return *own;
}

QString orUnknown(const QString &value)
{
    return value.isEmpty() ? QStringLiteral("unknown") : value;
}

// Runs its work when it is destroyed: a deferred delete made while the application quits is
// carried out once every aboutToQuit handler has returned, before exec() returns.
class RunWhenDeleted final : public QObject {
public:
    explicit RunWhenDeleted(std::function<void()> work) : m_work(std::move(work)) {}
    ~RunWhenDeleted() override { m_work(); }

private:
    std::function<void()> m_work;
};

} // namespace

Diagnostics &Diagnostics::shared()
{
    // Never destroyed: records may arrive from other threads until the very end of the process.
    static Diagnostics *const instance = new Diagnostics(defaultOptions());
    return *instance;
}

Diagnostics::Options Diagnostics::defaultOptions()
{
    const rt::Paths paths = rt::Paths::fromEnvironment();
    Options options;
    options.logDirectory = paths.stateDir();
    options.crashReportDirectory = paths.stateDir() + QLatin1String("/CrashReports");
    options.appVersion = QStringLiteral(ZQ_VERSION);
    options.build = QStringLiteral(ZQ_BUILD);
    options.installCrashHandler = true;
    return options;
}

Diagnostics::Diagnostics(Options options)
    : m_options(std::move(options)), m_journal(m_options.logDirectory, clocksOf(m_options, m_ownClocks),
                                               QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(),
                                               orUnknown(m_options.appVersion), orUnknown(m_options.build)),
      m_watchdog(m_journal, watchdogQueueOf(m_options, m_ownWatchdogQueue),
                 m_options.clocks ? *m_options.clocks : *m_ownClocks, m_options.watchdogHooks),
      m_writerQueue(QStringLiteral("io.quorvane.zepaquarn.diagnostics-writer"))
{}

Diagnostics::~Diagnostics()
{
    m_watchdog.stop();
    QObject::disconnect(m_terminationObserver);
    m_writerQueue.drain();
}

void Diagnostics::start()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_started)
            return;
        m_started = true;
    }

    if (m_options.installCrashHandler && !m_options.crashReportDirectory.isEmpty())
        CrashReportWriter::install(m_options.crashReportDirectory, m_journal.appVersion(), m_journal.build());

    // The run state of this session is in place before start() returns, so a crash or a kill from
    // here on is found at the next launch; waiting for the disk as well would hold the caller (the
    // main thread at launch) for as long as the disk takes, tens to hundreds of milliseconds on a
    // busy machine. The writer queue waits for it instead, before any other line of this run.
    m_journal.beginSession(DiagnosticJournal::Durability::visible);
    m_writerQueue.post([journal = &m_journal] { journal->syncToDisk(); });

    rt::MainLoop *mainLoop = m_options.mainLoop;
    if (!mainLoop) {
        if (!m_ownMainLoop)
            m_ownMainLoop = std::make_unique<rt::QtMainLoop>();
        mainLoop = m_ownMainLoop.get();
    }
    m_watchdog.start(*mainLoop);

    m_writerQueue.post([this] { scanCrashReports(); });

    if (QCoreApplication *application = QCoreApplication::instance()) {
        auto context = std::make_unique<QObject>();
        auto connection = QObject::connect(application, &QCoreApplication::aboutToQuit, context.get(), [this] {
            // Work done at quit blocks the main thread on purpose: no hang. But it still belongs
            // to this run (an update installed at quit among it), so the session ends, and the
            // run is marked as ended cleanly, only after every other quit handler.
            m_watchdog.stop();
            (new RunWhenDeleted([this] { stop(); }))->deleteLater();
        });
        std::lock_guard lock(m_mutex);
        QObject::disconnect(m_terminationObserver);
        m_terminationContext = std::move(context);
        m_terminationObserver = connection;
    }
    qCInfo(lcDiagnostics) << "diagnostics: session" << m_journal.sessionID() << "started";
}

void Diagnostics::stop()
{
    QMetaObject::Connection observer;
    {
        std::lock_guard lock(m_mutex);
        if (!m_started)
            return;
        m_started = false;
        observer = std::exchange(m_terminationObserver, QMetaObject::Connection());
    }
    QObject::disconnect(observer);
    m_watchdog.stop();
    runOnWriterQueue([this] { m_journal.endSession(); });
    qCInfo(lcDiagnostics) << "diagnostics: session ended";
}

bool Diagnostics::isStarted() const
{
    std::lock_guard lock(m_mutex);
    return m_started;
}

void Diagnostics::record(DiagnosticEvent event, const DiagnosticMetadata &metadata) noexcept
{
    try {
        m_writerQueue.post([journal = &m_journal, event, metadata] { journal->recordIfActive(event, metadata); });
    } catch (...) {
        // Out of memory: the line is lost, the caller goes on.
    }
}

void Diagnostics::waitUntilWritten()
{
    runOnWriterQueue([] {});
}

void Diagnostics::revealInFileManager(RevealDone done)
{
    waitUntilWritten();
    const QString path = m_journal.currentLogPath();
    if (m_options.revealFile)
        m_options.revealFile(path, std::move(done));
    else
        zq::revealInFileManager(path, std::move(done));
}

void Diagnostics::runOnWriterQueue(const std::function<void()> &fn)
{
    if (m_writerQueue.isCurrent()) {
        fn();
        return;
    }
    m_writerQueue.post(fn);
    m_writerQueue.drain();
}

bool Diagnostics::isRelevantCrashReport(const QString &fileName, const QString &contents)
{
    const QFileInfo info(fileName);
    static const QStringList extensions = {QStringLiteral("ips"), QStringLiteral("crash"), QStringLiteral("spin"),
                                           QStringLiteral("hang")};
    if (!extensions.contains(info.suffix().toLower()))
        return false;

    QString letters;
    for (const QChar c : info.completeBaseName().toLower()) {
        if (c.isLetter())
            letters.append(c);
    }
    if (!letters.startsWith(QLatin1String("zepaquarn")))
        return false;

    const QString text = contents.toLower();
    return !text.contains(QLatin1String("/xctest.framework/")) && !text.contains(QLatin1String("\"xctest\"")) &&
           !text.contains(QLatin1String("xctestcase"));
}

void Diagnostics::scanCrashReports()
{
    const QString folder = m_options.crashReportDirectory;
    if (folder.isEmpty())
        return;
    const QDir reports(folder);
    if (!reports.exists())
        return;

    struct Candidate {
        QString name;
        QByteArray bytes;
        QDateTime modified;
    };
    std::vector<Candidate> kept;
    const QFileInfoList entries = reports.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::NoSort);
    for (const QFileInfo &entry : entries) {
        // The name decides most cases; only read files whose name could pass.
        if (!isRelevantCrashReport(entry.fileName(), QString()))
            continue;
        auto read = rt::readOwnFile(entry.filePath(), maximumCrashReportBytes);
        if (!read)
            continue;
        QByteArray bytes = std::move(read).value();
        if (!isRelevantCrashReport(entry.fileName(), QString::fromUtf8(bytes)))
            continue;
        kept.push_back({entry.fileName(), std::move(bytes), entry.lastModified()});
    }

    const auto timeOf = [](const Candidate &c) {
        return c.modified.isValid() ? c.modified.toMSecsSinceEpoch() : std::numeric_limits<qint64>::min();
    };
    std::stable_sort(kept.begin(), kept.end(),
                     [&](const Candidate &a, const Candidate &b) { return timeOf(a) > timeOf(b); });

    const std::size_t count = std::min<std::size_t>(kept.size(), maximumCopiedReports);
    for (std::size_t i = 0; i < count; ++i) {
        const Candidate &report = kept[i];
        const QString target = m_journal.directory() + QLatin1Char('/') + report.name;
        if (QFileInfo::exists(target))
            continue;
        // An atomic write: a copy cut short can never stand in for the report and block a later copy.
        if (auto copied = rt::writeFileAtomically(target, report.bytes); !copied)
            qCWarning(lcDiagnostics) << "diagnostics: crash report not copied:" << copied.error().message;
        m_journal.recordIfActive(DiagnosticEvent::systemCrashReportFound, {{QStringLiteral("filename"), report.name}});
    }
}

} // namespace zq

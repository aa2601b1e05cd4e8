#include "platform/linux/appcast/AppcastUpdateFramework.h"

#include "platform/linux/appcast/Appcast.h"
#include "platform/linux/appcast/UpdateArchive.h"
#include "platform/linux/appcast/UpdateInstaller.h"
#include "platform/linux/appcast/UpdateSignature.h"
#include "runtime/Clocks.h"
#include "runtime/Log.h"
#include "runtime/Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTemporaryDir>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <limits>

namespace zq::platform {

struct AppcastUpdateFramework::Prepared {
    AppcastItem item;
    std::unique_ptr<QTemporaryDir> folder;
    QString executable; // inside `folder`
};

// The archive on its way to disk, in its own folder of the work folder, which goes with it. The
// request's worker thread writes it while the request runs; the main thread reads it afterwards.
struct AppcastUpdateFramework::Download {
    std::unique_ptr<QTemporaryDir> folder;
    QFile file;
    Sha512Digest digest;
    qint64 received = 0;
    QString writeError; // why the disk refused a piece, which ended the request
    // What the main thread shows while the request runs; one progress report waits at a time.
    std::atomic<qint64> shown{0};
    std::atomic<bool> reportPending{false};
};

namespace {

double secondsSince1970(const QDateTime &date)
{
    return static_cast<double>(date.toMSecsSinceEpoch()) / 1000.0;
}

double secondsOf(std::chrono::milliseconds duration)
{
    return static_cast<double>(duration.count()) / 1000.0;
}

// What a failed exchange was, for the log.
QString describe(const HttpOutcome &outcome)
{
    if (outcome.kind == HttpOutcome::Kind::response)
        return QStringLiteral("HTTP %1").arg(outcome.status);
    return outcome.errorDescription.isEmpty() ? QStringLiteral("no HTTP answer") : outcome.errorDescription;
}

// One exchange on a worker thread; `finished` runs on the loop, unless the task is cancelled first.
rt::Task<void> exchange(std::shared_ptr<const HttpClient> http, HttpRequest request,
                        std::function<void(const HttpOutcome &)> finished)
{
    auto work = [http, request](std::stop_token stop) { return http ? http->perform(request, stop) : HttpOutcome{}; };
    const HttpOutcome outcome = co_await rt::runOnWorker(std::move(work));
    finished(outcome);
}

const QString kWrongSize = QStringLiteral("The downloaded update has the wrong size, so it was not installed.");

} // namespace

AppcastUpdateFramework::AppcastUpdateFramework(Environment environment, QObject *parent)
    : UpdateFramework(parent), m_environment(std::move(environment))
{}

AppcastUpdateFramework::~AppcastUpdateFramework()
{
    m_scheduled.cancel();
    if (m_session) {
        abortRequest();
        discardDownload();
    }
}

qint64 AppcastUpdateFramework::maximumUnpackedBytes(qint64 length)
{
    constexpr qint64 ceiling = qint64(1) << 30;
    return std::min(ceiling, 64 * 1024 * 1024 + 32 * std::max<qint64>(length, 0));
}

void AppcastUpdateFramework::start(UpdaterDelegate &delegate)
{
    Q_ASSERT(!m_delegate);
    m_delegate = &delegate;
    // No update of this executable runs yet: anything of one is what a kill cut short.
    if (const int swept = sweepInterruptedUpdates(m_environment.executablePath, m_environment.workDirectory); swept > 0)
        qCInfo(lcUpdater) << "updater: removed" << swept << "leftovers of an update that was cut short";
    scheduleNextCheck(m_environment.feed.launchCheckDelay);
}

bool AppcastUpdateFramework::checkForUpdates()
{
    if (!m_delegate)
        return false;
    if (m_session)
        join();
    else
        beginSession(UpdateCheckKind::userInitiated);
    return true;
}

// The user asks for a check while one runs: the running cycle becomes theirs, and they see it from
// where it stands to its result. An automatic download they joined is offered once it is verified.
void AppcastUpdateFramework::join()
{
    m_session->kind = UpdateCheckKind::userInitiated;
    m_session->visible = true;
    const quint64 id = m_session->id;
    if (m_session->download)
        m_environment.userDriver.showDownloadProgress(m_session->download->shown.load(),
                                                      m_session->item.enclosureLength, cancelling(id));
    else if (m_session->request.isValid())
        m_environment.userDriver.showUserInitiatedCheck(cancelling(id));
    else
        offer(m_session->item);
}

bool AppcastUpdateFramework::automaticallyChecksForUpdates() const
{
    return m_environment.settings.boolValue(kAutomaticChecksKey, true);
}

void AppcastUpdateFramework::setAutomaticallyChecksForUpdates(bool enabled)
{
    if (enabled == automaticallyChecksForUpdates())
        return;
    m_environment.settings.setValue(kAutomaticChecksKey, enabled);
    emit automaticallyChecksForUpdatesChanged(enabled);
    if (!m_session)
        scheduleNextCheck();
}

bool AppcastUpdateFramework::automaticallyDownloadsUpdates() const
{
    return m_environment.settings.boolValue(kAutomaticDownloadsKey, false);
}

void AppcastUpdateFramework::setAutomaticallyDownloadsUpdates(bool enabled)
{
    if (enabled == automaticallyDownloadsUpdates())
        return;
    m_environment.settings.setValue(kAutomaticDownloadsKey, enabled);
    if (!enabled) {
        // The user no longer wants updates installed unasked: what a background download prepared,
        // or is preparing, is not installed at quit.
        m_prepared.reset();
        if (m_session && m_session->download && !m_session->visible) {
            abortRequest();
            endCycle(std::nullopt);
        } else if (m_session) {
            // A download the user joined goes on to its offer, but is not kept for the quit.
            m_session->automaticInstallWithdrawn = true;
        }
    }
    emit automaticallyDownloadsUpdatesChanged(enabled);
}

void AppcastUpdateFramework::applicationWillTerminate()
{
    m_scheduled.cancel();
    const bool busy = m_session.has_value();
    if (busy) {
        // A download cut short by the quit is of no use to the next run: it goes now.
        abortRequest();
        discardDownload();
        if (m_session->visible)
            m_environment.userDriver.dismiss();
        const UpdateCheckKind kind = m_session->kind;
        m_session.reset();
        m_delegate->didFinishUpdateCycle(kind, std::nullopt);
    }
    if (!m_prepared || busy || !canReplaceExecutable())
        return;
    m_delegate->willInstallUpdate(m_prepared->item);
    const auto replaced = replaceExecutable(m_prepared->executable);
    if (replaced)
        qCInfo(lcUpdater) << "updater: installed build" << m_prepared->item.versionString << "at quit";
    else
        qCWarning(lcUpdater) << "updater: install at quit failed:" << replaced.error().message;
    m_prepared.reset();
}

void AppcastUpdateFramework::scheduleNextCheck(std::chrono::milliseconds atLeast)
{
    m_scheduled.cancel();
    if (!m_delegate)
        return;
    if (!automaticallyChecksForUpdates()) {
        m_delegate->willNotScheduleUpdateCheck();
        return;
    }
    // A day after the last check; due now when there was none. A last check in the future (the
    // clock went back) waits at most one interval.
    const double last = m_environment.settings.doubleValue(kLastCheckTimeKey, 0.0);
    const double interval = static_cast<double>(kCheckInterval.count());
    const double now = secondsSince1970(m_environment.clocks.wallNow());
    const double due = last > 0 ? std::clamp(last + interval - now, 0.0, interval) : 0.0;
    const double delay = std::max(due, static_cast<double>(atLeast.count()) / 1000.0);
    m_delegate->willScheduleUpdateCheckAfterDelay(std::chrono::seconds(static_cast<qint64>(delay)));
    m_scheduled = m_environment.loop.postDelayed(rt::seconds(delay), [this] { runScheduledCheck(); });
}

void AppcastUpdateFramework::runScheduledCheck()
{
    // A cycle that runs now reschedules when it ends.
    if (m_session)
        return;
    beginSession(UpdateCheckKind::background);
}

void AppcastUpdateFramework::beginSession(UpdateCheckKind kind)
{
    m_scheduled.cancel();
    Session session;
    session.id = m_nextSessionId++;
    session.kind = kind;
    session.visible = kind == UpdateCheckKind::userInitiated;
    m_session = std::move(session);
    const quint64 id = m_session->id;

    if (m_session->visible)
        m_environment.userDriver.showUserInitiatedCheck([self = QPointer(this), id] {
            if (self)
                self->cancel(id);
        });
    // A feed is a few kilobytes; a server that sends far more is never read into memory.
    startRequest(makeRequest(m_environment.feed.feedUrl, kMaximumFeedBytes), &AppcastUpdateFramework::feedFinished);
    watchDeadline(m_environment.feed.feedDeadline);
}

void AppcastUpdateFramework::startRequest(HttpRequest request,
                                          void (AppcastUpdateFramework::*finished)(quint64, const HttpOutcome &))
{
    auto deliver = [self = QPointer(this), id = m_session->id, finished](const HttpOutcome &outcome) {
        if (self)
            (self->*finished)(id, outcome);
    };
    m_session->request = rt::spawn(m_environment.loop, exchange(m_environment.http, std::move(request), deliver));
}

void AppcastUpdateFramework::watchDeadline(std::chrono::milliseconds deadline)
{
    m_session->deadline.cancel();
    const quint64 id = m_session->id;
    m_session->deadline = m_environment.loop.postDelayed(rt::seconds(secondsOf(deadline)), [self = QPointer(this), id] {
        if (self)
            self->requestTimedOut(id);
    });
}

void AppcastUpdateFramework::requestTimedOut(quint64 sessionId)
{
    if (!isCurrent(sessionId) || !m_session->request.isValid())
        return;
    const bool feed = !m_session->download;
    abortRequest();
    if (feed)
        m_environment.settings.setValue(kLastCheckTimeKey, secondsSince1970(m_environment.clocks.wallNow()));
    qCInfo(lcUpdater) << "updater:" << (feed ? "feed request" : "download") << "still unfinished at its deadline";
    fail(QStringLiteral("The update server did not answer in time."));
}

// Ends the running request without hearing from it again.
void AppcastUpdateFramework::abortRequest()
{
    m_session->deadline.cancel();
    m_session->request.cancel();
    m_session->request = {};
}

// The request's worker may still hold the download after a cancel, and at quit nothing resumes
// it: its folder is removed now rather than with the last holder. A write still under way goes
// to the removed file.
void AppcastUpdateFramework::discardDownload()
{
    if (const std::shared_ptr<Download> download = std::exchange(m_session->download, nullptr))
        download->folder->remove();
}

HttpRequest AppcastUpdateFramework::makeRequest(const QUrl &url, qint64 maximumBodyBytes) const
{
    HttpRequest request;
    request.url = url;
    request.timeout = m_environment.feed.transferTimeout;
    request.maximumBodyBytes = maximumBodyBytes;
    const QString agent =
        QStringLiteral("ZEPAquarn/%1 (build %2)").arg(m_environment.runningVersion, m_environment.runningBuild);
    request.headers.append({QByteArrayLiteral("User-Agent"), agent.toUtf8()});
    // Only the test-only configuration sets this: the loopback server's own certificate.
    request.extraCertificateFile = m_environment.feed.extraCertificateFile;
    return request;
}

QString AppcastUpdateFramework::replyError(const HttpOutcome &outcome)
{
    if (outcome.timedOut)
        return QStringLiteral("The update server did not answer in time.");
    if (outcome.kind == HttpOutcome::Kind::response && outcome.status != 200)
        return QStringLiteral("The update server answered with an error (HTTP %1).").arg(outcome.status);
    if (outcome.kind != HttpOutcome::Kind::response)
        return QStringLiteral("Couldn't reach the update server.");
    return {};
}

void AppcastUpdateFramework::feedFinished(quint64 sessionId, const HttpOutcome &outcome)
{
    if (!isCurrent(sessionId))
        return;
    m_session->request = {};
    m_session->deadline.cancel();
    // Any answer, good or bad, counts as the day's check.
    m_environment.settings.setValue(kLastCheckTimeKey, secondsSince1970(m_environment.clocks.wallNow()));

    if (outcome.bodyBeyondLimit) {
        qCInfo(lcUpdater) << "updater: feed larger than" << kMaximumFeedBytes << "bytes, not read";
        fail(QStringLiteral("The update feed is far larger than a feed can be, so it was not read."));
        return;
    }
    if (const QString error = replyError(outcome); !error.isEmpty()) {
        qCInfo(lcUpdater).noquote() << "updater: feed check failed:" << describe(outcome);
        fail(error);
        return;
    }
    const auto items = appcast::parse(outcome.body, m_environment.feed.feedUrl);
    if (!items) {
        qCInfo(lcUpdater) << "updater: feed unreadable";
        fail(items.error().message);
        return;
    }
    // A running build that is no number is treated as the newest: nothing is offered over it.
    const qint64 running = parseBuildNumber(m_environment.runningBuild).value_or(std::numeric_limits<qint64>::max());
    const auto best = appcast::bestItem(items.value(), running, m_environment.settings.stringValue(kSkippedBuildKey),
                                        m_environment.systemVersion);
    if (!best) {
        m_delegate->didNotFindUpdate();
        if (m_session->visible)
            m_environment.userDriver.showUpdateNotFound();
        endCycle(std::nullopt);
        return;
    }
    m_session->item = *best;
    m_delegate->didFindValidUpdate(*best);
    if (!isCurrent(sessionId))
        return;
    const bool alreadyPrepared = m_prepared && m_prepared->item == *best;
    if (m_session->kind == UpdateCheckKind::background && automaticallyDownloadsUpdates() && canReplaceExecutable()) {
        if (alreadyPrepared)
            endCycle(std::nullopt);
        else
            download(false);
        return;
    }
    offer(*best);
}

void AppcastUpdateFramework::offer(const AppcastItem &item)
{
    m_session->visible = true;
    const quint64 id = m_session->id;
    m_environment.userDriver.showUpdateFound(item, [self = QPointer(this), id](UpdateChoice choice) {
        if (self)
            self->answer(id, choice);
    });
}

void AppcastUpdateFramework::answer(quint64 sessionId, UpdateChoice choice)
{
    if (!isCurrent(sessionId))
        return;
    const AppcastItem item = m_session->item;
    if (choice == UpdateChoice::skip)
        m_environment.settings.setValue(kSkippedBuildKey, item.versionString);
    // The user declined the update, or put it off after turning automatic downloads off: one
    // downloaded in the background is not installed at quit.
    if (choice == UpdateChoice::skip || (choice != UpdateChoice::install && m_session->automaticInstallWithdrawn))
        m_prepared.reset();
    m_delegate->userDidMakeChoice(choice, item);
    if (!isCurrent(sessionId))
        return;
    if (choice != UpdateChoice::install) {
        m_environment.userDriver.dismiss();
        endCycle(std::nullopt);
        return;
    }
    m_session->installChosen = true;
    if (m_prepared && m_prepared->item == item)
        install();
    else
        download(true);
}

void AppcastUpdateFramework::download(bool visible)
{
    m_session->visible = visible;
    const quint64 id = m_session->id;
    const qint64 expected = m_session->item.enclosureLength;

    auto download = std::make_shared<Download>();
    QDir().mkpath(m_environment.workDirectory);
    download->folder = std::make_unique<QTemporaryDir>(m_environment.workDirectory + QStringLiteral("/update-XXXXXX"));
    if (download->folder->isValid()) {
        download->file.setFileName(download->folder->filePath(QStringLiteral("download.tar.gz")));
        download->file.open(QIODevice::WriteOnly | QIODevice::NewOnly);
    }
    if (!download->file.isOpen()) {
        qCWarning(lcUpdater).noquote() << "updater: no file for the download in" << m_environment.workDirectory;
        fail(QStringLiteral("The update could not be downloaded: there is no room for it."));
        return;
    }
    m_session->download = download;
    if (visible)
        m_environment.userDriver.showDownloadProgress(0, expected, cancelling(id));

    // More than the feed announced is never what was signed: the request stops reading at once.
    HttpRequest request = makeRequest(m_session->item.enclosureUrl, expected);
    // Each piece goes to the file and the digest as it arrives, so the archive never gathers in
    // memory; the main thread hears of the progress.
    request.receiveBody = [download, loop = &m_environment.loop, self = QPointer(this), id](QByteArrayView piece) {
        if (download->file.write(piece.data(), piece.size()) != piece.size()) {
            download->writeError = download->file.errorString();
            return false;
        }
        download->digest.add(piece.data(), piece.size());
        download->received += piece.size();
        download->shown.store(download->received);
        if (!download->reportPending.exchange(true)) {
            loop->post([download, self, id] {
                download->reportPending.store(false);
                if (self)
                    self->showProgress(id, download->shown.load());
            });
        }
        return true;
    };
    startRequest(std::move(request), &AppcastUpdateFramework::downloadFinished);
    watchDeadline(m_environment.feed.downloadDeadlineFor(expected));
}

std::function<void()> AppcastUpdateFramework::cancelling(quint64 sessionId)
{
    return [self = QPointer(this), sessionId] {
        if (self)
            self->cancel(sessionId);
    };
}

void AppcastUpdateFramework::showProgress(quint64 sessionId, qint64 received)
{
    if (isCurrent(sessionId) && m_session->visible && m_session->download)
        m_environment.userDriver.showDownloadProgress(received, m_session->item.enclosureLength, cancelling(sessionId));
}

void AppcastUpdateFramework::refuseWrongSize(const QString &received)
{
    const AppcastItem &item = m_session->item;
    qCWarning(lcUpdater).noquote() << "updater: download of build" << item.versionString
                                   << "has the wrong size:" << received << "bytes of" << item.enclosureLength
                                   << "announced";
    fail(kWrongSize);
}

void AppcastUpdateFramework::downloadFinished(quint64 sessionId, const HttpOutcome &outcome)
{
    if (!isCurrent(sessionId))
        return;
    m_session->deadline.cancel();
    m_session->request = {};
    const std::shared_ptr<Download> download = m_session->download;
    if (!download->writeError.isEmpty()) {
        qCWarning(lcUpdater).noquote() << "updater: download not saved:" << download->writeError;
        fail(QStringLiteral("The update could not be downloaded: there is no room for it."));
        return;
    }
    if (outcome.bodyBeyondLimit) {
        refuseWrongSize(QStringLiteral("more than %1").arg(m_session->item.enclosureLength));
        return;
    }
    if (const QString error = replyError(outcome); !error.isEmpty()) {
        qCInfo(lcUpdater).noquote() << "updater: download failed:" << describe(outcome);
        fail(error);
        return;
    }
    const AppcastItem &item = m_session->item;
    const bool saved = download->file.flush();
    download->file.close();
    if (!saved) {
        qCWarning(lcUpdater).noquote() << "updater: download not saved:" << download->file.errorString();
        fail(QStringLiteral("The update could not be downloaded: there is no room for it."));
        return;
    }

    // Length and signature first: nothing of an unverified download is unpacked or kept.
    if (download->received != item.enclosureLength) {
        refuseWrongSize(QString::number(download->received));
        return;
    }
    const QByteArray statement =
        updateSignatureStatement(item.versionString, item.displayVersionString, download->digest.finish());
    if (const auto verified =
            verifyEd25519Signature(statement, item.enclosureSignature, m_environment.feed.publicKeyBase64);
        !verified) {
        qCWarning(lcUpdater) << "updater: signature check failed for build" << item.versionString;
        fail(verified.error().message);
        return;
    }
    const QString unpacked = download->folder->filePath(QStringLiteral("unpacked"));
    if (!QDir().mkdir(unpacked)) {
        fail(QStringLiteral("The update could not be unpacked: there is no room for it."));
        return;
    }
    const auto executable =
        unpackUpdateArchive(download->file.fileName(), unpacked, maximumUnpackedBytes(item.enclosureLength));
    if (!executable) {
        qCWarning(lcUpdater).noquote() << "updater: archive refused:" << executable.error().domain;
        fail(executable.error().message);
        return;
    }
    // Only the unpacked executable is needed from here on.
    download->file.remove();
    m_prepared = std::make_unique<Prepared>(Prepared{item, std::move(download->folder), executable.value()});
    m_session->download.reset();
    if (!m_session->visible) {
        // Downloaded in the background: installed when the application quits.
        qCInfo(lcUpdater) << "updater: build" << item.versionString << "downloaded and verified; installs at quit";
        endCycle(std::nullopt);
        return;
    }
    // The user joined an automatic download: they have not been asked yet.
    if (!m_session->installChosen) {
        offer(m_prepared->item);
        return;
    }
    install();
}

void AppcastUpdateFramework::install()
{
    const AppcastItem item = m_prepared->item;
    if (!canReplaceExecutable()) {
        // Installed by a package manager: replace nothing, keep the verified update for the user.
        const QString saved = m_environment.savedUpdatesDirectory + QStringLiteral("/zepaquarn-build-") +
                              QString::number(item.versionString.toLongLong());
        QDir().mkpath(m_environment.savedUpdatesDirectory);
        if (const auto written = installFile(m_prepared->executable, saved, 0700); !written) {
            fail(QStringLiteral("The update was verified but could not be saved: ") + written.error().message);
            return;
        }
        m_prepared.reset();
        m_environment.userDriver.showInformation(
            QStringLiteral("ZEPA QUARN cannot replace itself in %1, so nothing was changed. The verified new "
                           "version was saved to %2. Install it with your package manager, or put it in place "
                           "yourself.")
                .arg(QFileInfo(m_environment.executablePath).absolutePath(), saved));
        endCycle(std::nullopt);
        return;
    }

    m_delegate->willInstallUpdate(item);
    m_environment.userDriver.showInstalling();
    if (const auto replaced = replaceExecutable(m_prepared->executable); !replaced) {
        qCWarning(lcUpdater).noquote() << "updater: install failed:" << replaced.error().message;
        fail(QStringLiteral("The update could not be installed: ") + replaced.error().message);
        return;
    }
    qCInfo(lcUpdater) << "updater: installed build" << item.versionString;
    m_prepared.reset();
    m_environment.userDriver.dismiss();
    endCycle(std::nullopt);
    if (m_environment.relaunch)
        m_environment.relaunch(m_environment.executablePath);
}

// The old executable stays whole until the rename puts the new one, with its mode, in its place.
rt::Result<void> AppcastUpdateFramework::replaceExecutable(const QString &source) const
{
    const auto mode = permissionBits(m_environment.executablePath);
    if (!mode)
        return mode.error();
    return installFile(source, m_environment.executablePath, mode.value());
}

void AppcastUpdateFramework::cancel(quint64 sessionId)
{
    if (!isCurrent(sessionId))
        return;
    abortRequest();
    m_environment.userDriver.dismiss();
    // The user gave up on their own check or download: that is no error.
    endCycle(std::nullopt);
}

void AppcastUpdateFramework::fail(const QString &message)
{
    if (m_session->visible)
        m_environment.userDriver.showError(message);
    endCycle(message);
}

void AppcastUpdateFramework::endCycle(const std::optional<QString> &error)
{
    const UpdateCheckKind kind = m_session->kind;
    m_session->deadline.cancel();
    // A download the cycle did not keep (cancelled, refused, cut off) goes now, not with the
    // request's worker: at quit, which closes the update window (a cancel), nothing resumes it.
    discardDownload();
    m_session.reset();
    m_delegate->didFinishUpdateCycle(kind, error);
    scheduleNextCheck();
}

bool AppcastUpdateFramework::canReplaceExecutable() const
{
    const QFileInfo executable(m_environment.executablePath);
    const QByteArray folder = QFile::encodeName(executable.absolutePath());
    return executable.isFile() && ::access(folder.constData(), W_OK) == 0;
}

} // namespace zq::platform

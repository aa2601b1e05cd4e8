#pragma once

#include "platform/HttpClient.h"
#include "platform/UpdateFramework.h"
#include "runtime/Executor.h"
#include "runtime/Result.h"
#include "runtime/Task.h"

#include <memory>
#include <optional>

class QTemporaryDir;

namespace zq::rt {
class Clocks;
class Settings;
} // namespace zq::rt

namespace zq::platform {

// The update framework of this application on Linux: the feed is fetched over HTTPS once a day
// (or when the user asks), the best newer item is offered through the user driver, its archive is
// streamed to a file in the work folder while its digest is taken, checked against its length and
// its Ed25519 signature (which covers the announced build and version, so no older release can
// pass for a newer one) before anything else, unpacked to disk with path checks and a size bound,
// and its one executable is copied beside the running one with that one's mode and renamed over
// it. Memory stays bounded whatever the size of the update. When the executable's folder cannot
// be written (a package manager installed it), nothing is replaced and the verified download is
// saved for the user instead. Every request ends by a deadline, however slowly a server sends.
// A download cut short by a quit is removed at once; at start, what an update cut short by a kill
// left behind (the download, the unpacked executable, a half-copied executable beside the real
// one) is removed.
//
// Preferences and the schedule live in the framework's own settings keys. Main thread only.
class AppcastUpdateFramework final : public UpdateFramework {
    Q_OBJECT
public:
    static constexpr auto kAutomaticChecksKey = "updaterAutomaticallyChecks";
    static constexpr auto kAutomaticDownloadsKey = "updaterAutomaticallyDownloads";
    static constexpr auto kLastCheckTimeKey = "updaterLastCheckTime"; // seconds since 1970
    static constexpr auto kSkippedBuildKey = "updaterSkippedBuild";
    static constexpr std::chrono::seconds kCheckInterval{86400};
    static constexpr qint64 kMaximumFeedBytes = 4 * 1024 * 1024;

    // The most an archive of `length` bytes may unpack to: an executable with its assets
    // compresses to no less than a 32nd of its size, and is far below 1 GiB.
    static qint64 maximumUnpackedBytes(qint64 length);

    struct Environment {
        rt::MainLoop &loop;
        rt::Clocks &clocks;
        rt::Settings &settings;
        UpdateUserDriver &userDriver;
        // The feed and the archive are fetched through it, on worker threads.
        std::shared_ptr<const HttpClient> http;
        UpdateFeedConfiguration feed;
        QString runningBuild;
        QString runningVersion;
        // The executable an update replaces.
        QString executablePath;
        // A private folder for downloads being checked and unpacked.
        QString workDirectory;
        // Where a verified update is kept when it cannot be installed in place.
        QString savedUpdatesDirectory;
        // The running system's version, compared with an item's minimum; empty skips the check.
        QString systemVersion;
        // Starts the installed executable in place of this process (which then quits).
        std::function<void(const QString &executablePath)> relaunch;
    };

    explicit AppcastUpdateFramework(Environment environment, QObject *parent = nullptr);
    ~AppcastUpdateFramework() override;

    void start(UpdaterDelegate &delegate) override;
    bool checkForUpdates() override;
    bool automaticallyChecksForUpdates() const override;
    void setAutomaticallyChecksForUpdates(bool enabled) override;
    bool automaticallyDownloadsUpdates() const override;
    void setAutomaticallyDownloadsUpdates(bool enabled) override;
    void applicationWillTerminate() override;
    QUrl feedUrl() const override { return m_environment.feed.feedUrl; }

    // Whether a cycle runs (a check, an offer waiting for an answer, a download).
    bool isBusy() const { return m_session.has_value(); }
    // Whether a background download waits to be installed at quit.
    bool hasPreparedUpdate() const { return m_prepared != nullptr; }

private:
    struct Download;
    struct Session {
        quint64 id = 0;
        UpdateCheckKind kind = UpdateCheckKind::background;
        AppcastItem item;
        // The user sees this cycle: they started it, joined it or answered its offer.
        bool visible = false;
        // The user answered the offer with Install.
        bool installChosen = false;
        // Automatic downloads were turned off during the cycle: what it downloads is installed only
        // if the user chooses Install, never at quit.
        bool automaticInstallWithdrawn = false;
        // The running request; cancelling it ends the exchange.
        rt::TaskHandle<void> request;
        // Ends the running request, however slowly it arrives.
        rt::WorkItem deadline;
        std::shared_ptr<Download> download;
    };
    struct Prepared;

    void scheduleNextCheck(std::chrono::milliseconds atLeast = std::chrono::milliseconds(0));
    void runScheduledCheck();
    void beginSession(UpdateCheckKind kind);
    void join();
    HttpRequest makeRequest(const QUrl &url, qint64 maximumBodyBytes) const;
    void startRequest(HttpRequest request, void (AppcastUpdateFramework::*finished)(quint64, const HttpOutcome &));
    void feedFinished(quint64 sessionId, const HttpOutcome &outcome);
    void offer(const AppcastItem &item);
    void answer(quint64 sessionId, UpdateChoice choice);
    void download(bool visible);
    std::function<void()> cancelling(quint64 sessionId);
    void showProgress(quint64 sessionId, qint64 received);
    void downloadFinished(quint64 sessionId, const HttpOutcome &outcome);
    void refuseWrongSize(const QString &received);
    void watchDeadline(std::chrono::milliseconds deadline);
    void requestTimedOut(quint64 sessionId);
    void abortRequest();
    void discardDownload();
    void install();
    void cancel(quint64 sessionId);
    void fail(const QString &message);
    void endCycle(const std::optional<QString> &error);
    bool canReplaceExecutable() const;
    rt::Result<void> replaceExecutable(const QString &source) const;
    bool isCurrent(quint64 sessionId) const { return m_session && m_session->id == sessionId; }
    static QString replyError(const HttpOutcome &outcome);

    Environment m_environment;
    UpdaterDelegate *m_delegate = nullptr;
    rt::WorkItem m_scheduled;
    std::optional<Session> m_session;
    quint64 m_nextSessionId = 1;
    std::unique_ptr<Prepared> m_prepared;
};

} // namespace zq::platform

#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>

namespace zq::platform {

// Where updates come from and how they are checked. The feed and the key are constants of the
// application; tests point them at a loopback server through environment variables that normal
// runs never set.
struct UpdateFeedConfiguration {
    QUrl feedUrl;
    // The Ed25519 public key (32 raw bytes, base64) that every download must be signed with.
    QByteArray publicKeyBase64;
    // A PEM certificate trusted in addition to the system's, for the loopback server only.
    QString extraCertificateFile;
    // A request that receives nothing for this long ends.
    std::chrono::milliseconds transferTimeout{std::chrono::seconds(60)};
    // A check due when the framework starts waits this long: nobody sees it in the launch's first
    // seconds, and it would load the network stack while the tray icon and the speech model do.
    std::chrono::milliseconds launchCheckDelay{std::chrono::seconds(10)};
    // However slowly a server sends, a request ends by its deadline: the feed's, or the download's,
    // which allows the archive's announced length at the slowest rate still taken for a download.
    std::chrono::milliseconds feedDeadline{std::chrono::minutes(2)};
    std::chrono::milliseconds downloadDeadline{std::chrono::minutes(5)};
    qint64 slowestDownloadBytesPerSecond = 64 * 1024;

    std::chrono::milliseconds downloadDeadlineFor(qint64 length) const
    {
        return downloadDeadline + std::chrono::milliseconds(std::max<qint64>(length, 0) * 1000 /
                                                            std::max<qint64>(slowestDownloadBytesPerSecond, 1));
    }

    static UpdateFeedConfiguration forApplication();
};

// A build number: an optional sign, then ASCII digits only, fitting 64 bits; anything else
// (spaces, a dot, an empty text, overflow) is no integer.
std::optional<qint64> parseBuildNumber(const QString &text);

// One update offered by the feed.
struct AppcastItem {
    QString title;
    QString versionString;        // the build, an integer compared with the running build
    QString displayVersionString; // the version people see
    QString minimumSystemVersion;
    QUrl releaseNotesLink;
    QString description; // plain text, at most kMaximumDescriptionLength characters
    bool critical = false;
    QUrl enclosureUrl;
    qint64 enclosureLength = -1;
    QString enclosureType;
    // Base64 Ed25519 signature over the build, the version and the archive's digest (the statement
    // of UpdateSignature.h).
    QByteArray enclosureSignature;

    // Release notes are a few paragraphs; a feed's longer text is cut to this many characters.
    static constexpr qsizetype kMaximumDescriptionLength = 64 * 1024;

    friend bool operator==(const AppcastItem &, const AppcastItem &) = default;
};

// Feed text as it may be shown (the version, the notes): without the characters that set the
// direction of the text around them (embeddings, overrides, isolates and marks), with which a
// version could turn the rest of its sentence backwards. Markup is left as it stands: every place
// shows feed text as plain text.
QString feedTextForDisplay(const QString &text);

// How the user answered an offered update. Only skip is acted upon by the updater.
enum class UpdateChoice { skip = 0, install = 1, dismiss = 2 };

enum class UpdateCheckKind { userInitiated, background };

// What the framework tells its delegate during an update cycle, always on the main thread, in this
// order: a found update or none; the user's answer to an offer; the start of an install; the end of
// the cycle (with its error, if any). Scheduling news arrives whenever the schedule changes.
class UpdaterDelegate {
public:
    virtual ~UpdaterDelegate() = default;

    virtual void didFindValidUpdate(const AppcastItem &item) = 0;
    virtual void didNotFindUpdate() = 0;
    virtual void userDidMakeChoice(UpdateChoice choice, const AppcastItem &item) = 0;
    virtual void willInstallUpdate(const AppcastItem &item) = 0;
    virtual void didFinishUpdateCycle(UpdateCheckKind kind, const std::optional<QString> &error) = 0;
    virtual void willScheduleUpdateCheckAfterDelay(std::chrono::seconds delay) = 0;
    virtual void willNotScheduleUpdateCheck() = 0;
};

// The update framework: it fetches the feed on its own schedule, offers updates through its own
// dialogs, downloads, verifies and installs them, and keeps its two preferences.
//
// Main thread only. start() begins the schedule and is called once. checkForUpdates() starts a
// user-initiated cycle, or joins the one that runs (an automatic check or download), which the
// user then sees to its result; it returns false, telling the delegate nothing, when it cannot
// (not started). The preference setters store at once and emit the matching signal when the
// value changed. applicationWillTerminate() ends a running cycle without leaving its download
// behind, and otherwise installs an update that was downloaded in the background, if any and if
// the user neither skipped it nor turned automatic downloads off since.
class UpdateFramework : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual void start(UpdaterDelegate &delegate) = 0;
    [[nodiscard]] virtual bool checkForUpdates() = 0;

    virtual bool automaticallyChecksForUpdates() const = 0;
    virtual void setAutomaticallyChecksForUpdates(bool enabled) = 0;
    virtual bool automaticallyDownloadsUpdates() const = 0;
    virtual void setAutomaticallyDownloadsUpdates(bool enabled) = 0;

    virtual void applicationWillTerminate() = 0;
    // The feed this framework checks.
    virtual QUrl feedUrl() const = 0;

signals:
    void automaticallyChecksForUpdatesChanged(bool enabled);
    void automaticallyDownloadsUpdatesChanged(bool enabled);
};

// The framework's dialogs. Main thread only; each show call replaces what was shown before, and a
// reply callback runs at most once.
class UpdateUserDriver {
public:
    virtual ~UpdateUserDriver() = default;

    // A user-initiated check runs; `cancel` runs when the user gives up on it.
    virtual void showUserInitiatedCheck(std::function<void()> cancel) = 0;
    virtual void showUpdateNotFound() = 0;
    virtual void showUpdateFound(const AppcastItem &item, std::function<void(UpdateChoice)> reply) = 0;
    // Progress of a download the user asked for; `expectedBytes` is -1 when unknown.
    virtual void showDownloadProgress(qint64 receivedBytes, qint64 expectedBytes, std::function<void()> cancel) = 0;
    virtual void showInstalling() = 0;
    // A sentence for the user, with what was kept where that matters.
    virtual void showError(const QString &message) = 0;
    virtual void showInformation(const QString &message) = 0;
    virtual void dismiss() = 0;
};

} // namespace zq::platform

// The update framework against a loopback HTTPS feed with a certificate and a signing key made at
// test time, driving the real Updater: finding, refusing, installing, relaunching, scheduling.

#include "pipeline/SettingsDefaults.h"
#include "platform/linux/QtHttpClient.h"
#include "platform/linux/appcast/AppcastUpdateFramework.h"
#include "rewards/updates/Updater.h"
#include "support/FakeCaptureCore.h"
#include "support/FakeUserNotifications.h"
#include "support/LoopbackFeedServer.h"
#include "support/PeakMemory.h"
#include "support/Polling.h"
#include "support/ScriptedUpdateUserDriver.h"
#include "support/ServiceEnvironment.h"
#include "support/TestFiles.h"
#include "support/UpdateFeedKit.h"
#include "support/VirtualLoop.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace std::chrono_literals;
using zq::AppUpdateState;
using zq::platform::AppcastUpdateFramework;
using zq::platform::UpdateChoice;
using zq::test::FeedItem;
using zq::test::LoopbackFeedServer;
using zq::test::readFile;

namespace {

class AppcastUpdateFrameworkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        zq::registerDefaults(settings);
        const bool started = server.start();
        ASSERT_TRUE(zq::test::requireService(started, server.errorString()));
        executable = folder.filePath("app/zepaquarn");
        QDir().mkpath(folder.filePath("app"));
        ASSERT_TRUE(QFile::copy(QStringLiteral(ZQ_VERSION_PRINTER_OLD), executable));
        oldProgram = readFile(executable);
        newProgram = readFile(QStringLiteral(ZQ_VERSION_PRINTER_NEW));
        ASSERT_NE(oldProgram, newProgram);
    }

    void TearDown() override
    {
        updater.reset();
        server.stop();
    }

    zq::Updater &make(std::chrono::milliseconds timeout = 10s)
    {
        zq::platform::UpdateFeedConfiguration feed;
        feed.feedUrl = QUrl(server.url("/appcast.xml"));
        feed.publicKeyBase64 = key.publicKeyBase64();
        if (trustServer)
            feed.extraCertificateFile = server.certificateFile();
        feed.transferTimeout = timeout;
        feed.feedDeadline = deadline;
        feed.downloadDeadline = deadline;
        feed.slowestDownloadBytesPerSecond = qint64(1) << 40;
        AppcastUpdateFramework::Environment environment{loop,
                                                        loop.clocks(),
                                                        settings,
                                                        driver,
                                                        std::make_shared<zq::platform::QtHttpClient>(),
                                                        feed,
                                                        QStringLiteral("4"),
                                                        QStringLiteral("1.2.0"),
                                                        executable,
                                                        folder.filePath("work"),
                                                        folder.filePath("saved"),
                                                        QStringLiteral("12"),
                                                        [this](const QString &path) {
                                                            relaunched = path;
                                                            QProcess::startDetached(path, {folder.filePath("ran.txt")});
                                                        }};
        auto owned = std::make_unique<AppcastUpdateFramework>(std::move(environment));
        framework = owned.get();
        updater = std::make_unique<zq::Updater>(zq::UpdateAvailabilityStore(settings, QStringLiteral("4")),
                                                zq::UpdateReminder::live(settings, loop.clocks(), loop, notifications),
                                                std::move(owned), [this] { return loop.clocks().wallNow(); });
        return *updater;
    }

    // Serves build 5 ("1.3.0") with `archive`, signed by `signer` and announced with `length`.
    void publish(const QByteArray &archive, std::optional<qint64> length = std::nullopt,
                 const zq::test::Ed25519TestKey *signer = nullptr, QString displayVersion = QStringLiteral("1.3.0"))
    {
        server.setAnswer("/zq-5.tar.gz", {200, archive, "application/gzip", false});
        announce(length.value_or(archive.size()),
                 (signer ? *signer : key).signUpdate(archive, QStringLiteral("5"), displayVersion), displayVersion);
    }
    // Announces build 5 at "/zq-5.tar.gz" with this length and signature.
    void announce(qint64 length, const QByteArray &signature, QString displayVersion = QStringLiteral("1.3.0"))
    {
        FeedItem item{QStringLiteral("5"),
                      displayVersion,
                      server.url("/zq-5.tar.gz"),
                      length,
                      signature,
                      {},
                      QStringLiteral("Faster start.")};
        server.setAnswer("/appcast.xml", {200, zq::test::makeAppcast({item}), "application/rss+xml", false});
    }
    QByteArray goodArchive() const { return zq::test::makeTarGz({{"zepaquarn", newProgram, '0', {}}}); }

    // Runs the Qt loop (network) and the virtual loop (timers) until `done`.
    bool settle(const std::function<bool()> &done, std::chrono::milliseconds timeout = 20s)
    {
        return zq::test::processEventsUntil(loop, done, timeout);
    }
    bool cycleEnded() { return !framework->isBusy(); }
    bool checkAndSettle()
    {
        updater->checkForUpdates();
        return settle([this] { return cycleEnded(); });
    }

    zq::test::VirtualLoop loop;
    zq::rt::Settings settings{QString()};
    zq::test::FakeUserNotifications notifications;
    zq::test::ScriptedUpdateUserDriver driver;
    zq::test::Ed25519TestKey key;
    LoopbackFeedServer server;
    QTemporaryDir folder;
    QString executable;
    QByteArray oldProgram;
    QByteArray newProgram;
    QString relaunched;
    bool trustServer = true;
    std::chrono::milliseconds deadline = std::chrono::minutes(2);
    AppcastUpdateFramework *framework = nullptr;
    std::unique_ptr<zq::Updater> updater;
};

} // namespace

TEST_F(AppcastUpdateFrameworkTest, ANewerItemIsOfferedAndRecordedAndSameBuildIsUpToDate)
{
    publish(goodArchive());
    settings.setValue(AppcastUpdateFramework::kAutomaticChecksKey, false);
    zq::Updater &u = make();
    u.checkForUpdates();
    EXPECT_EQ(u.state(), AppUpdateState::checking());
    ASSERT_TRUE(settle([&] { return driver.offered().has_value(); }));
    EXPECT_EQ(u.state(), AppUpdateState::available("1.3.0"));
    EXPECT_EQ(settings.stringValue("updateAvailableVersion"), "1.3.0");
    EXPECT_EQ(settings.stringValue("updateAvailableBuild"), "5");
    EXPECT_EQ(driver.offered()->description, "Faster start.");
    driver.answerOffer(UpdateChoice::dismiss);
    EXPECT_FALSE(framework->isBusy());
    EXPECT_EQ(u.state(), AppUpdateState::available("1.3.0"));
    EXPECT_EQ(readFile(executable), oldProgram);

    FeedItem same{QStringLiteral("4"), QStringLiteral("1.2.0"), server.url("/zq-4.tar.gz"), 10, "c2ln", {}, {}};
    server.setAnswer("/appcast.xml", {200, zq::test::makeAppcast({same}), "application/rss+xml", false});
    ASSERT_TRUE(checkAndSettle());
    EXPECT_EQ(u.state().kind, AppUpdateState::Kind::upToDate);
    EXPECT_EQ(driver.shown().last(), "up-to-date");
    EXPECT_FALSE(settings.hasUserValue("updateAvailableVersion"));
}

TEST_F(AppcastUpdateFrameworkTest, ServerFailuresEndAsFailedWithTheErrorShown)
{
    settings.setValue(AppcastUpdateFramework::kAutomaticChecksKey, false);
    zq::Updater &u = make(1500ms);

    server.setAnswer("/appcast.xml", {500, "oops", "text/plain", false});
    ASSERT_TRUE(checkAndSettle());
    EXPECT_EQ(u.state(), AppUpdateState::failed());
    EXPECT_EQ(driver.messages().last(), "The update server answered with an error (HTTP 500).");

    server.setAnswer("/appcast.xml", {200, "<rss><channel><item>", "application/rss+xml", false});
    ASSERT_TRUE(checkAndSettle());
    EXPECT_EQ(u.state(), AppUpdateState::failed());
    EXPECT_EQ(driver.messages().last(), "The update feed could not be read.");

    // A feed far larger than any real one is cut off unread, not parsed out of memory.
    server.setAnswer("/appcast.xml", {200, QByteArray(AppcastUpdateFramework::kMaximumFeedBytes + 1, 'x'),
                                      "application/rss+xml", false});
    ASSERT_TRUE(checkAndSettle());
    EXPECT_EQ(u.state(), AppUpdateState::failed());
    EXPECT_EQ(driver.messages().last(), "The update feed is far larger than a feed can be, so it was not read.");

    server.setAnswer("/appcast.xml", {200, {}, {}, true});
    ASSERT_TRUE(checkAndSettle());
    EXPECT_EQ(u.state(), AppUpdateState::failed());
    EXPECT_EQ(driver.messages().last(), "The update server did not answer in time.");
    EXPECT_EQ(u.statusText(), "Couldn't check for updates. Try again.");
}

TEST_F(AppcastUpdateFrameworkTest, TheLoopbackCertificateIsTrustedOnlyWhenConfigured)
{
    publish(goodArchive());
    settings.setValue(AppcastUpdateFramework::kAutomaticChecksKey, false);
    trustServer = false;
    zq::Updater &u = make();
    ASSERT_TRUE(checkAndSettle());
    EXPECT_EQ(u.state(), AppUpdateState::failed());
    EXPECT_EQ(driver.messages().last(), "Couldn't reach the update server.");
    EXPECT_EQ(server.requestCount("/appcast.xml"), 0) << "the TLS handshake already failed";
}

TEST_F(AppcastUpdateFrameworkTest, MarkupInAVersionStaysTextAndDirectionControlsGo)
{
    const QString version = QStringLiteral("\u202E<b>1.3.0</b>\u2067");
    publish(goodArchive(), std::nullopt, nullptr, version);
    settings.setValue(AppcastUpdateFramework::kAutomaticChecksKey, false);
    zq::Updater &u = make();
    u.checkForUpdates();
    ASSERT_TRUE(settle([&] { return driver.offered().has_value(); }));
    EXPECT_EQ(u.state(), AppUpdateState::available("<b>1.3.0</b>"));
    EXPECT_EQ(u.statusText(), "Version <b>1.3.0</b> is ready to install.");
    EXPECT_EQ(settings.stringValue("updateAvailableVersion"), version) << "recorded as the feed gave it";
    loop.advance(1min);
    ASSERT_EQ(notifications.posted().size(), 1u);
    EXPECT_EQ(notifications.posted().front().content.body,
              "Version <b>1.3.0</b> is waiting. Open the tray icon when you have a moment.");
}

TEST_F(AppcastUpdateFrameworkTest, BadDownloadsAreRefusedAndNothingIsReplaced)
{
    settings.setValue(AppcastUpdateFramework::kAutomaticChecksKey, false);
    driver.choice = UpdateChoice::install;
    zq::Updater &u = make();
    const zq::test::Ed25519TestKey stranger;

    struct Case {
        const char *what;
        QByteArray archive;
        std::optional<qint64> length;
        const zq::test::Ed25519TestKey *signer;
        QString message;
        QString logged;
    };
    const QByteArray good = goodArchive();
    QByteArray tampered = good;
    tampered[tampered.size() - 3] = static_cast<char>(tampered[tampered.size() - 3] ^ 0x20);
    const QString wrongSize = QStringLiteral("The downloaded update has the wrong size, so it was not installed.");
    const std::vector<Case> cases{
        {"signed by another key", good, std::nullopt, &stranger,
         "The update's signature is not valid, so it was not installed.", "signature check failed"},
        {"shorter than announced", good, good.size() + 10, nullptr, wrongSize, "has the wrong size"},
        {"longer than announced", good, good.size() - 10, nullptr, wrongSize, "has the wrong size"},
        {"an entry outside its folder", zq::test::makeTarGz({{"../zepaquarn", newProgram, '0', {}}}), std::nullopt,
         nullptr, "The downloaded update could not be unpacked.", "archive refused"},
    };
    for (const Case &c : cases) {
        publish(c.archive, c.length, c.signer);
        const zq::test::AudioLogCapture log; // every line of the process, not only audio ones
        ASSERT_TRUE(checkAndSettle()) << c.what;
        EXPECT_EQ(driver.messages().last(), c.message) << c.what;
        EXPECT_TRUE(log.contains(c.logged)) << c.what << ": " << qPrintable(log.lines().join(u'\n'));
        EXPECT_EQ(readFile(executable), oldProgram) << c.what;
        EXPECT_TRUE(relaunched.isEmpty()) << c.what;
        EXPECT_EQ(u.state(), AppUpdateState::available("1.3.0")) << c.what;
    }
    EXPECT_TRUE(QDir(folder.filePath("work")).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
        << "nothing of a refused download is kept";
    EXPECT_EQ(QDir(folder.filePath("app")).entryList(QDir::Files | QDir::Hidden), QStringList{"zepaquarn"})
        << "no temporary left beside the executable";

    // A tampered archive keeps the length and signature of the good one.
    publish(good);
    server.setAnswer("/zq-5.tar.gz", {200, tampered, "application/gzip", false});
    ASSERT_TRUE(checkAndSettle());
    EXPECT_EQ(driver.messages().last(), "The update's signature is not valid, so it was not installed.");
    EXPECT_EQ(readFile(executable), oldProgram);
}

TEST_F(AppcastUpdateFrameworkTest, AGoodArchiveReplacesTheExecutableAndTheRelaunchStartsTheNewOne)
{
    publish(goodArchive());
    settings.setValue(AppcastUpdateFramework::kAutomaticChecksKey, false);
    driver.choice = UpdateChoice::install;
    zq::Updater &u = make();
    ASSERT_TRUE(checkAndSettle());
    EXPECT_EQ(driver.shown(), (QStringList{"checking", "offer", "download", "installing", "dismiss"}));
    EXPECT_EQ(readFile(executable), newProgram);
    EXPECT_TRUE(QFileInfo(executable).isExecutable());
    EXPECT_EQ(relaunched, executable);
    ASSERT_TRUE(zq::test::waitFor([&] { return readFile(folder.filePath("ran.txt")) == "1.3.0\n"; }, 10s))
        << "the relaunched program is the new build";
    EXPECT_EQ(u.state(), AppUpdateState::available("1.3.0")) << "this process still runs the old build";
    loop.advance(1min);
    EXPECT_TRUE(notifications.posted().empty()) << "the reminder was withdrawn before the install";
}

TEST_F(AppcastUpdateFrameworkTest, AnUnwritableFolderKeepsTheVerifiedUpdateAndSaysWhere)
{
    publish(goodArchive());
    settings.setValue(AppcastUpdateFramework::kAutomaticChecksKey, false);
    driver.choice = UpdateChoice::install;
    executable = folder.filePath("packaged/bin/zepaquarn"); // a folder that cannot be written to
    make();
    ASSERT_TRUE(checkAndSettle());
    ASSERT_EQ(driver.shown().last(), "information");
    const QString saved = folder.filePath("saved/zepaquarn-build-5");
    EXPECT_TRUE(driver.messages().last().contains(saved));
    EXPECT_EQ(readFile(saved), newProgram);
    EXPECT_TRUE(relaunched.isEmpty());
}

TEST_F(AppcastUpdateFrameworkTest, AutomaticDownloadWaitsForQuitToInstallUnlessSkippedOrTurnedOff)
{
    publish(goodArchive());
    struct Case {
        const char *what;
        bool joined;                        // by Check Now while the download runs, which goes on to its offer
        std::optional<UpdateChoice> answer; // to the offer, or to Check Now's after the download
        bool turnedOff;                     // automatic downloads, while the joined download runs or after
        QString shown;
        QByteArray installedAtQuit;
    };
    const std::vector<Case> cases{
        {"left for the quit", false, std::nullopt, false, "", newProgram},
        {"automatic downloads turned off", false, std::nullopt, true, "", oldProgram},
        {"skipped when Check Now offers it", false, UpdateChoice::skip, false, "checking offer dismiss", oldProgram},
        {"joined, then put off", true, UpdateChoice::dismiss, false, "download offer dismiss", newProgram},
        {"joined, turned off, then put off", true, UpdateChoice::dismiss, true, "download offer dismiss", oldProgram}};
    for (const Case &c : cases) {
        settings.setValue(AppcastUpdateFramework::kLastCheckTimeKey, 0.0);
        settings.setValue(AppcastUpdateFramework::kAutomaticDownloadsKey, true);
        settings.setValue(AppcastUpdateFramework::kSkippedBuildKey, QString());
        zq::test::writeFile(executable, oldProgram);
        if (c.joined)
            server.setAnswer("/zq-5.tar.gz",
                             LoopbackFeedServer::Answer::dripping(goodArchive(), "application/gzip", 1ms));
        const int downloads = server.requestCount("/zq-5.tar.gz");
        const qsizetype shownBefore = driver.shown().size();
        zq::Updater &u = make();
        EXPECT_TRUE(u.automaticallyDownloadsUpdates());
        // The first check is due at once, and waits out the launch.
        loop.advance(zq::platform::UpdateFeedConfiguration{}.launchCheckDelay - 1s);
        EXPECT_FALSE(framework->isBusy());
        loop.advance(1s);
        EXPECT_TRUE(framework->isBusy());
        driver.choice = c.answer;
        if (c.joined) {
            ASSERT_TRUE(settle([&] { return server.requestCount("/zq-5.tar.gz") > downloads; })) << c.what;
            u.checkForUpdates();
            u.setAutomaticallyDownloadsUpdates(!c.turnedOff);
        }
        ASSERT_TRUE(settle([&] { return c.joined ? cycleEnded() : framework->hasPreparedUpdate(); })) << c.what;
        EXPECT_EQ(u.state(), AppUpdateState::available("1.3.0"));
        if (c.answer && !c.joined) {
            ASSERT_TRUE(checkAndSettle()) << c.what;
        }
        EXPECT_EQ(driver.shown().mid(shownBefore).join(u' '), c.shown) << c.what;
        EXPECT_EQ(readFile(executable), oldProgram);
        u.setAutomaticallyDownloadsUpdates(!c.turnedOff);
        framework->applicationWillTerminate();
        EXPECT_TRUE(readFile(executable) == c.installedAtQuit) << c.what;
        EXPECT_TRUE(relaunched.isEmpty()) << c.what << ": installed at quit, not relaunched";
        updater.reset();
    }
}

TEST_F(AppcastUpdateFrameworkTest, ChecksRunOnceADayFromTheLastCheckAndSkipRemembersTheBuild)
{
    publish(goodArchive());
    settings.setValue(AppcastUpdateFramework::kLastCheckTimeKey,
                      loop.clocks().wallNow().toMSecsSinceEpoch() / 1000.0 - 3600);
    driver.choice = UpdateChoice::skip;
    zq::Updater &u = make();
    loop.advance(82799s);
    EXPECT_EQ(server.requestCount("/appcast.xml"), 0);
    loop.advance(1s);
    ASSERT_TRUE(settle([&] { return server.requestCount("/appcast.xml") == 1 && cycleEnded(); }));
    EXPECT_EQ(driver.shown(), (QStringList{"offer", "dismiss"})) << "a background find is offered, never 'checking'";
    EXPECT_EQ(u.state(), AppUpdateState::idle()) << "skipped";
    EXPECT_EQ(settings.stringValue(AppcastUpdateFramework::kSkippedBuildKey), "5");

    loop.advance(86399s);
    EXPECT_EQ(server.requestCount("/appcast.xml"), 1);
    loop.advance(1s);
    ASSERT_TRUE(settle([&] { return server.requestCount("/appcast.xml") == 2 && cycleEnded(); }));
    EXPECT_EQ(u.state().kind, AppUpdateState::Kind::upToDate) << "the skipped build is not offered again";

    u.setAutomaticallyChecksEnabled(false);
    loop.advance(72h);
    EXPECT_EQ(server.requestCount("/appcast.xml"), 2);
}

TEST_F(AppcastUpdateFrameworkTest, ALastCheckInTheFutureDelaysTheNextByADayAtMost)
{
    // The clock went back, or the settings came from another machine: a month ahead.
    publish(goodArchive());
    settings.setValue(AppcastUpdateFramework::kLastCheckTimeKey,
                      loop.clocks().wallNow().toMSecsSinceEpoch() / 1000.0 + 30 * 86400.0);
    make();
    loop.advance(86399s);
    EXPECT_EQ(server.requestCount("/appcast.xml"), 0);
    loop.advance(1s);
    EXPECT_TRUE(settle([&] { return server.requestCount("/appcast.xml") == 1; }))
        << "the check waited for the stored date instead of one day";
}

TEST_F(AppcastUpdateFrameworkTest, CancellingTheirOwnCheckIsNoErrorAndASecondCheckWaits)
{
    server.setAnswer("/appcast.xml", {200, {}, {}, true});
    settings.setValue(AppcastUpdateFramework::kAutomaticChecksKey, false);
    zq::Updater &u = make();
    u.checkForUpdates();
    ASSERT_TRUE(settle([&] { return server.requestCount("/appcast.xml") == 1; }));
    EXPECT_TRUE(framework->checkForUpdates()) << "a second press joins the running check";
    EXPECT_EQ(u.state(), AppUpdateState::checking());
    EXPECT_EQ(server.requestCount("/appcast.xml"), 1) << "one cycle at a time";
    driver.cancel();
    EXPECT_FALSE(framework->isBusy());
    EXPECT_EQ(u.state(), AppUpdateState::idle());
    EXPECT_EQ(driver.shown().last(), "dismiss");
}

TEST_F(AppcastUpdateFrameworkTest, AGenuineOlderBuildAnnouncedAsNewerIsRefused)
{
    // Build 3, signed for what it is; the feed announces its archive as build 5.
    const QByteArray older = zq::test::makeTarGz({{"zepaquarn", oldProgram + "1.1.0", '0', {}}});
    server.setAnswer("/zq-5.tar.gz", {200, older, "application/gzip", false});
    const QByteArray genuine = key.signUpdate(older, QStringLiteral("3"), QStringLiteral("1.1.0"));
    settings.setValue(AppcastUpdateFramework::kAutomaticChecksKey, false);
    driver.choice = UpdateChoice::install;
    zq::Updater &u = make();
    for (const QString &version : {QStringLiteral("1.3.0"), QStringLiteral("1.1.0")}) {
        announce(older.size(), genuine, version);
        ASSERT_TRUE(checkAndSettle()) << qPrintable(version);
        ASSERT_EQ(driver.shown().last(), "error") << qPrintable(version);
        EXPECT_EQ(driver.messages().last(), "The update's signature is not valid, so it was not installed.");
        EXPECT_EQ(readFile(executable), oldProgram) << qPrintable(version);
        EXPECT_TRUE(relaunched.isEmpty());
    }

    // Told honestly, a build at or below the running one is not even offered.
    for (const QString &build : {QStringLiteral("3"), QStringLiteral("4")}) {
        const FeedItem honest{build, "1.1.0", server.url("/zq-5.tar.gz"), older.size(), genuine, {}, {}};
        server.setAnswer("/appcast.xml", {200, zq::test::makeAppcast({honest}), "application/rss+xml", false});
        const int downloads = server.requestCount("/zq-5.tar.gz");
        ASSERT_TRUE(checkAndSettle());
        EXPECT_EQ(u.state().kind, AppUpdateState::Kind::upToDate) << qPrintable(build);
        EXPECT_EQ(server.requestCount("/zq-5.tar.gz"), downloads);
    }
}

TEST_F(AppcastUpdateFrameworkTest, AnInstalledExecutableKeepsTheModeOfTheOneItReplaces)
{
    publish(goodArchive());
    settings.setValue(AppcastUpdateFramework::kAutomaticChecksKey, false);
    driver.choice = UpdateChoice::install;
    for (const mode_t mode : {0755, 0750, 0700}) {
        QFile::remove(executable);
        ASSERT_TRUE(QFile::copy(QStringLiteral(ZQ_VERSION_PRINTER_OLD), executable));
        ASSERT_EQ(::chmod(QFile::encodeName(executable).constData(), mode), 0);
        updater.reset();
        make();
        ASSERT_TRUE(checkAndSettle());
        ASSERT_EQ(readFile(executable), newProgram);
        struct stat info {};
        ASSERT_EQ(::stat(QFile::encodeName(executable).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, mode) << std::oct << mode;
    }
}

TEST_F(AppcastUpdateFrameworkTest, WhatAKilledUpdateLeftIsRemovedAtStart)
{
    // What a kill leaves: a half-copied executable beside the real one (under this installer's name
    // and the earlier one's), and the download and the unpacked update in the work folder.
    const QStringList leftovers{"app/.zepaquarn.update-a1B2c3", "app/.zepaquarn.tmp-Zz9yX8",
                                "work/update-Qw12er/download.tar.gz", "work/update-Qw12er/unpacked/zepaquarn"};
    // Not the updater's, or not where it looks: kept.
    const QStringList others{"app/.zepaquarn.update-toolong1", "app/.other.update-a1B2c3", "app/notes.txt",
                             "work/keep.txt", "work/update-Qw12er-not/zepaquarn"};
    for (const QString &path : leftovers + others) {
        QDir().mkpath(QFileInfo(folder.filePath(path)).path());
        ASSERT_TRUE(zq::test::writeArchive(folder.filePath(path), "partial"));
    }
    // A link named like an update folder is removed as a link; what it points to stays.
    QTemporaryDir elsewhere;
    ASSERT_TRUE(zq::test::writeArchive(elsewhere.filePath("precious"), "keep me"));
    ASSERT_TRUE(QFile::link(elsewhere.path(), folder.filePath("work/update-Lnk123")));

    settings.setValue(AppcastUpdateFramework::kAutomaticChecksKey, false);
    make();
    for (const QString &path : leftovers)
        EXPECT_FALSE(QFileInfo::exists(folder.filePath(path))) << qPrintable(path);
    EXPECT_FALSE(QFileInfo::exists(folder.filePath("work/update-Qw12er")));
    for (const QString &path : others)
        EXPECT_TRUE(QFileInfo::exists(folder.filePath(path))) << qPrintable(path);
    EXPECT_EQ(readFile(elsewhere.filePath("precious")), "keep me");
    EXPECT_EQ(readFile(executable), oldProgram);
}

TEST_F(AppcastUpdateFrameworkTest, ARequestThatDripsEndsAtItsDeadlineOrAtQuit)
{
    settings.setValue(AppcastUpdateFramework::kAutomaticChecksKey, false);
    driver.choice = UpdateChoice::install;
    deadline = 30s;
    zq::Updater &u = make();
    const QByteArray archive = goodArchive();
    const FeedItem item{"5", "1.3.0", server.url("/zq-5.tar.gz"), archive.size(), key.signUpdate(archive, "5", "1.3.0"),
                        {},  {}};
    const QByteArray feed = zq::test::makeAppcast({item});

    // How the cycle begins and ends: the user's own check, or an automatic one that the user's
    // Check Now may join while its request drips; then its deadline, the application's quit, the
    // last byte, or automatic checks (and with them downloads) turned off.
    enum class Start { user, automatic, automaticJoined };
    enum class End { deadline, quit, finished, turnedOff };
    struct Case {
        const char *what;
        LoopbackFeedServer::Answer appcast;
        LoopbackFeedServer::Answer download;
        QString dripping;
        Start start;
        End end;
        AppUpdateState after; // a found update stays known when its download fails
        QString shown;        // what the user sees of the cycle
    };
    using Answer = LoopbackFeedServer::Answer;
    const QString late = QStringLiteral("The update server did not answer in time.");
    const Answer goodFeed{200, feed, "application/rss+xml"};
    const std::vector<Case> cases{
        {"an automatic check, joined", Answer::dripping(feed, "application/rss+xml", 300ms), Answer{200, archive},
         "/appcast.xml", Start::automaticJoined, End::deadline, AppUpdateState::failed(), "checking error"},
        {"the feed", Answer::dripping(feed, "application/rss+xml", 300ms), Answer{200, archive}, "/appcast.xml",
         Start::user, End::deadline, AppUpdateState::failed(), "checking error"},
        {"the download", goodFeed, Answer::dripping(archive, "application/gzip", 300ms), "/zq-5.tar.gz", Start::user,
         End::deadline, AppUpdateState::available("1.3.0"), "checking offer download error"},
        {"an automatic download, joined", goodFeed, Answer::dripping(archive, "application/gzip", 300ms),
         "/zq-5.tar.gz", Start::automaticJoined, End::deadline, AppUpdateState::available("1.3.0"), "download error"},
        {"an automatic download, checks turned off", goodFeed, Answer::dripping(archive, "application/gzip", 300ms),
         "/zq-5.tar.gz", Start::automatic, End::turnedOff, AppUpdateState::available("1.3.0"), ""},
        {"the download, cut short by quit", goodFeed, Answer::dripping(archive, "application/gzip", 300ms),
         "/zq-5.tar.gz", Start::user, End::quit, AppUpdateState::available("1.3.0"), "checking offer download dismiss"},
        // Last, as it installs: joined, the download is offered before anything is installed.
        {"an automatic download, joined, to its end", goodFeed, Answer::dripping(archive, "application/gzip", 2ms),
         "/zq-5.tar.gz", Start::automaticJoined, End::finished, AppUpdateState::available("1.3.0"),
         "download offer installing dismiss"},
    };
    for (const Case &c : cases) {
        server.setAnswer("/appcast.xml", c.appcast);
        server.setAnswer("/zq-5.tar.gz", c.download);
        const int requests = server.requestCount(c.dripping);
        const qsizetype shownBefore = driver.shown().size();
        const qsizetype messagesBefore = driver.messages().size();
        if (c.start == Start::user) {
            u.checkForUpdates();
        } else {
            settings.setValue(AppcastUpdateFramework::kLastCheckTimeKey, 0.0);
            u.setAutomaticallyDownloadsUpdates(true); // checks too; the check is due at once
        }
        ASSERT_TRUE(settle([&] { return server.requestCount(c.dripping) > requests; })) << c.what;
        // A byte every few milliseconds never trips the 10 s silence timeout; real time passes while
        // it drips.
        settle([] { return false; }, 1500ms);
        ASSERT_TRUE(framework->isBusy()) << c.what;
        if (c.start == Start::automaticJoined) {
            EXPECT_EQ(driver.shown().size(), shownBefore) << c.what << ": an automatic cycle shows nothing";
            u.checkForUpdates();
            EXPECT_NE(u.state(), AppUpdateState::failed()) << c.what << ": Check Now joins the running cycle";
        }
        if (c.end == End::deadline) {
            loop.advance(deadline);
            EXPECT_EQ(driver.messages().mid(messagesBefore), QStringList{late}) << c.what;
        } else if (c.end == End::finished) {
            ASSERT_TRUE(settle([&] { return cycleEnded(); })) << c.what;
        } else if (c.end == End::turnedOff) {
            u.setAutomaticallyChecksEnabled(false);
        } else {
            framework->applicationWillTerminate();
            EXPECT_TRUE(QDir(folder.filePath("work")).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
                << c.what << ": the partial download is gone at quit";
        }
        ASSERT_FALSE(framework->isBusy()) << c.what;
        EXPECT_EQ(u.state(), c.after) << c.what;
        EXPECT_EQ(driver.shown().mid(shownBefore).join(u' '), c.shown) << c.what;
        EXPECT_EQ(readFile(executable) == newProgram, c.end == End::finished) << c.what;
        u.setAutomaticallyChecksEnabled(false);
    }
}

TEST_F(AppcastUpdateFrameworkTest, ALargeUpdateStreamsThroughDiskInBoundedMemory)
{
    constexpr qint64 size = 64 * 1024 * 1024;
    const QString served = folder.filePath("served.tar.gz");
    const QByteArray digest = zq::test::writeTarGzFile(served, "zepaquarn", size, zq::test::fillIncompressible);
    ASSERT_FALSE(digest.isEmpty());
    server.setAnswer("/zq-5.tar.gz", LoopbackFeedServer::Answer::fromFile(served, "application/gzip"));
    announce(QFileInfo(served).size(), key.signUpdateDigest(digest, "5", "1.3.0"));
    settings.setValue(AppcastUpdateFramework::kAutomaticChecksKey, false);
    driver.choice = UpdateChoice::install;
    make();

    ASSERT_TRUE(zq::test::resetPeakMemory());
    const zq::test::MemoryUse before = zq::test::memoryUse();
    updater->checkForUpdates();
    ASSERT_TRUE(settle([this] { return cycleEnded(); }, 120s));
    const zq::test::MemoryUse after = zq::test::memoryUse();
    ASSERT_EQ(driver.shown().last(), "dismiss") << qPrintable(driver.messages().join(u'\n'));
    EXPECT_EQ(QFileInfo(executable).size(), size);
    EXPECT_LT(after.peak - before.resident, 24 * 1024 * 1024)
        << "download, unpacked archive and install copy never sit whole in memory";
}

// Memory while an update is downloaded, verified, unpacked and installed: a signed 200 MB update
// (data gzip cannot shrink) and a signed gzip bomb of 1 MB that would unpack to 1 GiB, each
// through the real framework and a loopback HTTPS server that reads its answer from disk. The peak
// resident size above the size before the cycle (the idle application's) is the figure; the goal
// is under 64 MB.
#include "pipeline/SettingsDefaults.h"
#include "platform/linux/QtHttpClient.h"
#include "platform/linux/appcast/AppcastUpdateFramework.h"
#include "rewards/updates/Updater.h"
#include "support/FakeUserNotifications.h"
#include "support/LoopbackFeedServer.h"
#include "support/PeakMemory.h"
#include "support/Polling.h"
#include "support/ScriptedUpdateUserDriver.h"
#include "support/UpdateFeedKit.h"
#include "support/VirtualLoop.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "BenchmarkRun.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <functional>
#include <memory>

namespace {

using namespace zq;
using namespace std::chrono_literals;

constexpr double kMegabyte = 1024.0 * 1024.0;

struct Outcome {
    bool installed = false;
    QString lastMessage;
    double peakAboveIdleMB = 0;
    double seconds = 0;
};

// One update cycle of a fresh framework that installs build 5 from an archive written by `write`.
Outcome runCycle(const std::function<QByteArray(const QString &path)> &write)
{
    QTemporaryDir folder;
    test::LoopbackFeedServer server;
    if (!server.start())
        return {false, server.errorString()};
    const QString served = folder.filePath("served.tar.gz");
    const QByteArray digest = write(served);
    const test::Ed25519TestKey key;
    server.setAnswer("/zq-5.tar.gz", test::LoopbackFeedServer::Answer::fromFile(served, "application/gzip"));
    const test::FeedItem item{
        "5", "1.3.0", server.url("/zq-5.tar.gz"), QFileInfo(served).size(), key.signUpdateDigest(digest, "5", "1.3.0"),
        {},  {}};
    server.setAnswer("/appcast.xml", {200, test::makeAppcast({item}), "application/rss+xml"});

    const QString executable = folder.filePath("app/zepaquarn");
    QDir().mkpath(folder.filePath("app"));
    QFile::copy(QStringLiteral(ZQ_VERSION_PRINTER_OLD), executable);

    test::VirtualLoop loop;
    rt::Settings settings{QString()};
    registerDefaults(settings);
    settings.setValue(platform::AppcastUpdateFramework::kAutomaticChecksKey, false);
    test::FakeUserNotifications notifications;
    test::ScriptedUpdateUserDriver driver;
    driver.choice = platform::UpdateChoice::install;
    platform::UpdateFeedConfiguration feed;
    feed.feedUrl = QUrl(server.url("/appcast.xml"));
    feed.publicKeyBase64 = key.publicKeyBase64();
    feed.extraCertificateFile = server.certificateFile();
    platform::AppcastUpdateFramework::Environment environment{loop,
                                                              loop.clocks(),
                                                              settings,
                                                              driver,
                                                              std::make_shared<platform::QtHttpClient>(),
                                                              feed,
                                                              "4",
                                                              "1.2.0",
                                                              executable,
                                                              folder.filePath("work"),
                                                              folder.filePath("saved"),
                                                              QStringLiteral("12"),
                                                              [](const QString &) {}};
    auto owned = std::make_unique<platform::AppcastUpdateFramework>(std::move(environment));
    platform::AppcastUpdateFramework *framework = owned.get();
    Updater updater(UpdateAvailabilityStore(settings, "4"),
                    UpdateReminder::live(settings, loop.clocks(), loop, notifications), std::move(owned),
                    [&loop] { return loop.clocks().wallNow(); });
    QCoreApplication::processEvents();

    test::resetPeakMemory();
    const test::MemoryUse idle = test::memoryUse();
    QElapsedTimer timer;
    timer.start();
    updater.checkForUpdates();
    test::processEventsUntil(
        loop, [framework] { return !framework->isBusy(); }, 600s);
    Outcome outcome;
    outcome.seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    outcome.peakAboveIdleMB = static_cast<double>(test::memoryUse().peak - idle.resident) / kMegabyte;
    outcome.installed = QFileInfo(executable).size() != QFileInfo(QStringLiteral(ZQ_VERSION_PRINTER_OLD)).size();
    outcome.lastMessage = driver.messages().value(driver.messages().size() - 1);
    server.stop();
    return outcome;
}

void report(benchmark::State &state, const std::string &name, const Outcome &outcome)
{
    state.counters["peak_above_idle_MB"] = outcome.peakAboveIdleMB;
    zq::bench::reportLimit(name + ", peak above idle", outcome.peakAboveIdleMB, 64, "MB");
    state.counters["installed"] = outcome.installed ? 1 : 0;
    state.counters["cycle_s"] = outcome.seconds;
    if (!outcome.lastMessage.isEmpty())
        state.SetLabel(outcome.lastMessage.toStdString());
}

void BM_Install200MegabyteUpdate(benchmark::State &state)
{
    Outcome outcome;
    for (auto _ : state)
        outcome = runCycle([](const QString &path) {
            return test::writeTarGzFile(path, "zepaquarn", 200 * 1024 * 1024, test::fillIncompressible);
        });
    report(state, "200 MB update", outcome);
}
BENCHMARK(BM_Install200MegabyteUpdate)->Iterations(1)->Unit(benchmark::kSecond);

void BM_RefuseSignedGzipBomb(benchmark::State &state)
{
    Outcome outcome;
    for (auto _ : state)
        outcome = runCycle([](const QString &path) {
            return test::writeTarGzFile(
                path, "zepaquarn", qint64(1) << 30,
                [](qint64, char *piece, qint64 length) { std::memset(piece, 0, static_cast<size_t>(length)); }, 9);
        });
    report(state, "signed gzip bomb", outcome);
}
BENCHMARK(BM_RefuseSignedGzipBomb)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char **argv)
{
    qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    QCoreApplication application(argc, argv);
    return zq::bench::runBenchmarks(argc, argv);
}

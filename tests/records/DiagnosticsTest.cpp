#include "records/Diagnostics.h"

#include "support/VirtualLoop.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <utime.h>

using namespace zq;

namespace {

class DiagnosticsTest : public ::testing::Test {
protected:
    std::unique_ptr<Diagnostics> make()
    {
        Diagnostics::Options options;
        options.logDirectory = logs.path();
        options.crashReportDirectory = reports.path();
        options.appVersion = QStringLiteral("2.0");
        options.build = QStringLiteral("7");
        options.clocks = &loop.clocks();
        options.watchdogQueue = &loop;
        options.mainLoop = &loop;
        options.revealFile = [this](const QString &path, RevealDone) { revealed << path; };
        return std::make_unique<Diagnostics>(options);
    }

    void writeReport(const QString &name, const QByteArray &contents, qint64 ageSeconds)
    {
        const QString path = reports.filePath(name);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(contents);
        file.close();
        const time_t when = ::time(nullptr) - ageSeconds;
        const utimbuf times{when, when};
        ::utime(QFile::encodeName(path).constData(), &times);
    }

    QStringList announced(Diagnostics &diagnostics)
    {
        diagnostics.waitUntilWritten();
        QStringList names;
        QFile file(diagnostics.journal().currentLogPath());
        if (!file.open(QIODevice::ReadOnly))
            return names;
        for (const QByteArray &line : file.readAll().split('\n')) {
            const auto record = DiagnosticRecord::fromJson(line);
            if (record && record->event == DiagnosticEvent::systemCrashReportFound &&
                record->sessionID == diagnostics.journal().sessionID())
                names << record->metadata.value(QStringLiteral("filename"));
        }
        return names;
    }

    QTemporaryDir logs;
    QTemporaryDir reports;
    test::VirtualLoop loop;
    QStringList revealed;
};

TEST(CrashReportFilter, NameExtensionAndTestRunnerContents)
{
    const auto relevant = [](const char *name, const char *contents = "report") {
        return Diagnostics::isRelevantCrashReport(QString::fromUtf8(name), QString::fromUtf8(contents));
    };
    EXPECT_TRUE(relevant("ZEPA QUARN-2026-03-05-140709.ips"));
    EXPECT_TRUE(relevant("zepa_quarn 2026.IPS"));
    EXPECT_TRUE(relevant("ZEPAquarn-2026-03-05-140709-4242.crash"));
    EXPECT_TRUE(relevant("ZepaQuarn.hang"));
    EXPECT_TRUE(relevant("ZEPAquarn.spin"));
    EXPECT_FALSE(relevant("ZEPA QUARN-2026-03-05.txt"));
    EXPECT_FALSE(relevant("ZEPA QUARN-2026-03-05"));
    EXPECT_FALSE(relevant("OtherApp-2026-03-05.crash"));
    EXPECT_FALSE(relevant("my ZEPA QUARN.crash")) << "the name must begin with it";
    EXPECT_FALSE(relevant("ZEPAquarn.crash", "frames in XCTestCase run"));
    EXPECT_FALSE(relevant("ZEPAquarn.crash", "path /Xctest.framework/ here"));
    EXPECT_FALSE(relevant("ZEPAquarn.crash", "\"procName\":\"XCTest\""));
    EXPECT_TRUE(relevant("ZEPAquarn.crash", "xctest without quotes"));
}

TEST_F(DiagnosticsTest, StartIsOnceAndStopEndsTheSession)
{
    auto diagnostics = make();
    diagnostics->record(DiagnosticEvent::dictationRequested);
    diagnostics->waitUntilWritten();
    EXPECT_FALSE(QFileInfo::exists(diagnostics->journal().currentLogPath())) << "dropped before the session";
    diagnostics->start();
    diagnostics->start();
    EXPECT_EQ(loop.pendingCount(), 1) << "one watchdog timer";
    diagnostics->record(DiagnosticEvent::dictationRequested);
    diagnostics->stop();
    diagnostics->stop();

    QFile file(diagnostics->journal().currentLogPath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QList<DiagnosticEvent> events;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (const auto record = DiagnosticRecord::fromJson(line))
            events << record->event;
    }
    EXPECT_EQ(events, (QList<DiagnosticEvent>{DiagnosticEvent::appLaunched, DiagnosticEvent::dictationRequested,
                                              DiagnosticEvent::appTerminated}));
    EXPECT_FALSE(diagnostics->journal().state()->active);
    EXPECT_FALSE(diagnostics->watchdog().isRunning());
}

TEST_F(DiagnosticsTest, ScanCopiesTheFiveNewestOnceEach)
{
    for (int i = 0; i < 7; ++i)
        writeReport(QStringLiteral("ZEPAquarn-%1.crash").arg(i), QByteArray("report ") + QByteArray::number(i),
                    1000 * (i + 1));
    writeReport(QStringLiteral("Other-1.crash"), "other", 1);
    writeReport(QStringLiteral(".ZEPAquarn-hidden.crash"), "hidden", 1);

    auto first = make();
    first->start();
    const QStringList copied = announced(*first);
    EXPECT_EQ(copied.size(), 5);
    for (int i = 0; i < 5; ++i) {
        const QString name = QStringLiteral("ZEPAquarn-%1.crash").arg(i);
        EXPECT_TRUE(copied.contains(name)) << qPrintable(name);
        QFile copy(logs.filePath(name));
        ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
        EXPECT_EQ(copy.readAll(), QByteArray("report ") + QByteArray::number(i));
    }
    EXPECT_FALSE(QFileInfo::exists(logs.filePath(QStringLiteral("ZEPAquarn-5.crash"))));
    EXPECT_FALSE(QFileInfo::exists(logs.filePath(QStringLiteral("Other-1.crash"))));
    first->stop();
    first.reset();

    // Next launch: a newer report appears; the five already copied are skipped silently.
    writeReport(QStringLiteral("ZEPAquarn-new.crash"), "new", 0);
    auto second = make();
    second->start();
    const QStringList copiedAgain = announced(*second);
    EXPECT_EQ(copiedAgain, QStringList{QStringLiteral("ZEPAquarn-new.crash")})
        << "only the new one; the 5th-newest old one falls off the window";
}

TEST_F(DiagnosticsTest, MissingReportsFolderIsSilent)
{
    ASSERT_TRUE(QDir(reports.path()).removeRecursively());
    auto diagnostics = make();
    diagnostics->start();
    EXPECT_TRUE(announced(*diagnostics).isEmpty());
}

TEST_F(DiagnosticsTest, RevealWaitsForEveryRecordSubmittedBefore)
{
    auto diagnostics = make();
    diagnostics->start();
    for (int i = 0; i < 200; ++i)
        diagnostics->record(DiagnosticEvent::captureCompleted, {{QStringLiteral("i"), QString::number(i)}});
    diagnostics->revealInFileManager();
    ASSERT_EQ(revealed, QStringList{diagnostics->journal().currentLogPath()});
    QFile file(revealed.first());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains(R"({"i":"199"})"));
}

} // namespace

// The real application in a tray: its ring opens the menu panel next to it, and the panel copies,
// switches the microphone and quits.
#include "records/StoreFile.h"
#include "runtime/Settings.h"
#include "support/DesktopDriver.h"
#include "support/E2EEnvironment.h"
#include "support/Polling.h"
#include "support/ServiceEnvironment.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRect>
#include <QUuid>

#include <gtest/gtest.h>

#include <memory>

using namespace std::chrono_literals;
using zq::test::E2EEnvironment;
using zq::test::Microphone;
using zq::test::ToolResult;

namespace {

const QString kLatest = QStringLiteral("the newest transcript in the history");

class MenuPanelE2ETest : public ::testing::Test {
protected:
    void SetUp() override
    {
        env = std::make_unique<E2EEnvironment>(Microphone::Live);
        if (!zq::test::requireService(env->start(), env->errorString()))
            return;
        ASSERT_TRUE(env->writeSettings());
        writeHistory();
        ASSERT_TRUE(env->startApp()) << env->errorString().toStdString();
    }

    bool ready() const { return env && !HasFatalFailure() && !IsSkipped(); }

    // Two transcripts, the newer one last in time.
    void writeHistory()
    {
        QDir().mkpath(env->dataDir());
        QFile::setPermissions(env->dataDir(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QJsonArray items;
        const QDateTime now = QDateTime::currentDateTimeUtc();
        items.append(QJsonObject{{QStringLiteral("id"), zq::StoreFile::uuidString(QUuid::createUuid())},
                                 {QStringLiteral("text"), kLatest},
                                 {QStringLiteral("date"), zq::StoreFile::referenceSeconds(now)}});
        items.append(QJsonObject{{QStringLiteral("id"), zq::StoreFile::uuidString(QUuid::createUuid())},
                                 {QStringLiteral("text"), QStringLiteral("an older one")},
                                 {QStringLiteral("date"), zq::StoreFile::referenceSeconds(now.addSecs(-60))}});
        QFile file(env->dataDir() + QStringLiteral("/history.json"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QJsonDocument(items).toJson());
    }

    QProcessEnvironment display() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), env->display());
        return environment;
    }
    zq::test::DesktopDriver desktop() const { return zq::test::DesktopDriver(env->display()); }
    ToolResult xdotool(const QStringList &arguments) const { return desktop().xdotool(arguments); }
    QRect trayIcon() const { return desktop().trayIcon(); }
    QStringList visiblePanel() const { return desktop().visiblePanel(); }
    // Clicks the ring and waits for the panel; its geometry.
    QRect openPanel()
    {
        EXPECT_TRUE(trayIcon().isValid()) << "no tray icon; log:\n" << env->appLogTail().toStdString();
        return desktop().openPanel();
    }
    void keys(const QStringList &names) { ASSERT_TRUE(desktop().keys(names)); }
    QString clipboard() const
    {
        return QString::fromUtf8(
            zq::test::runTool(QStringLiteral("xclip"),
                              {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard")},
                              display())
                .standardOutput);
    }

    std::unique_ptr<E2EEnvironment> env;
};

} // namespace

TEST_F(MenuPanelE2ETest, TheRingOpensThePanelBesideItAndEscapeClosesIt)
{
    if (!ready())
        return;
    const QRect icon = trayIcon();
    const QRect panel = openPanel();
    ASSERT_TRUE(panel.isValid()) << env->appLogTail().toStdString();
    EXPECT_EQ(panel.width(), 372);
    // Just below the icon at the top of the screen, and fully on the 1280-wide display.
    EXPECT_GE(panel.top(), icon.bottom());
    EXPECT_LE(panel.top(), icon.bottom() + 12);
    EXPECT_GE(panel.left(), 0);
    EXPECT_LE(panel.right(), 1279);
    EXPECT_LE(std::abs(panel.center().x() - icon.center().x()), 372 / 2 + 4);

    keys({QStringLiteral("Escape")});
    EXPECT_TRUE(zq::test::waitFor([&] { return visiblePanel().isEmpty(); }, 5s, 50ms)) << "Escape closes it";
    EXPECT_TRUE(env->isAppRunning());
    EXPECT_TRUE(env->stopApp());
}

TEST_F(MenuPanelE2ETest, CopyLastPutsTheNewestTranscriptOnTheClipboard)
{
    if (!ready())
        return;
    ASSERT_TRUE(openPanel().isValid()) << env->appLogTail().toStdString();
    // The panel opens with the keyboard at its first control, the header's copy button.
    keys({QStringLiteral("space")});
    EXPECT_TRUE(zq::test::waitFor([&] { return clipboard() == kLatest; }, 5s, 50ms))
        << "the clipboard holds \"" << clipboard().toStdString() << "\"";
    EXPECT_TRUE(env->stopApp());
}

TEST_F(MenuPanelE2ETest, ChoosingAMicrophoneStoresItAndTheEngineFollows)
{
    if (!ready())
        return;
    const QRect panel = openPanel();
    ASSERT_TRUE(panel.isValid()) << env->appLogTail().toStdString();
    // The microphone row sits above the footer card (two 44-point rows and a divider), 10 points apart.
    const int rowCentre = panel.bottom() + 1 - 12 - 89 - 10 - 23;
    const int pickerCentre = panel.right() + 1 - 12 - 11 - 71;
    ASSERT_TRUE(desktop().click(QPoint(pickerCentre, rowCentre)));
    // "Automatic" first, then the one microphone of the sound server.
    keys({QStringLiteral("Down"), QStringLiteral("Down"), QStringLiteral("Return")});
    const QString settingsPath = env->configDir() + QStringLiteral("/settings.json");
    QString stored;
    EXPECT_TRUE(zq::test::waitFor(
        [&] {
            stored = zq::rt::Settings(settingsPath).stringValue(QStringLiteral("inputDevice"));
            return !stored.isEmpty() && stored != QLatin1String("system-default");
        },
        5s, 50ms))
        << "inputDevice is \"" << stored.toStdString() << "\"; log:\n"
        << env->appLogTail().toStdString();
    EXPECT_TRUE(env->waitForAppLog("input changed to", 5s) ||
                env->waitForAppLog("input preference changed but target device is unchanged", 0ms))
        << env->appLogTail().toStdString();
    EXPECT_TRUE(env->stopApp());
}

TEST_F(MenuPanelE2ETest, CtrlQInThePanelQuitsCleanly)
{
    if (!ready())
        return;
    ASSERT_TRUE(openPanel().isValid()) << env->appLogTail().toStdString();
    keys({QStringLiteral("ctrl+q")});
    EXPECT_EQ(env->waitForAppExit(15s), 0) << env->appLogTail().toStdString();
    EXPECT_TRUE(env->waitForAppLog("app: terminating", 0ms));
}

// The first run of the real application on a fresh profile: the Welcome window checks the session,
// records a trigger from the keyboard, and Done hands over to dictation; on a keyboard without Fn a
// fresh profile dictates with the key its Trigger row names, and Fn alone is called out.
#include "runtime/Settings.h"
#include "support/DesktopDriver.h"
#include "support/E2EEnvironment.h"
#include "support/Polling.h"
#include "support/ServiceEnvironment.h"
#include "support/ViewRender.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>

using namespace std::chrono_literals;
using zq::DiagnosticEvent;
using zq::test::E2EEnvironment;
using zq::test::Microphone;
using zq::test::ToolResult;

namespace {

class OnboardingE2ETest : public ::testing::Test {
protected:
    // Starts the services and the application with no settings file, and waits for its first checks.
    // The display's keyboard gives no Fn key, as most keyboards do not.
    void startFresh(Microphone microphone)
    {
        env = std::make_unique<E2EEnvironment>(microphone);
        const bool started = env->start();
        if (!zq::test::requireService(started, env->errorString()))
            return;
        ASSERT_TRUE(zq::test::DesktopDriver(env->display()).removeFnKeys());
        ASSERT_TRUE(env->startApp(30s, QByteArrayLiteral("onboarding: microphone")))
            << env->errorString().toStdString();
        ASSERT_FALSE(env->waitForAppLog("hotkey: tap started", 0ms)) << "the trigger waits for onboarding";
        // The Welcome window is on the display; give it the keyboard. Only a mapped window can take
        // the focus, and the name is set before the window is mapped.
        const ToolResult found =
            xdotool({QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--onlyvisible"),
                     QStringLiteral("--name"), QStringLiteral("^Welcome$")});
        ASSERT_TRUE(found.succeeded()) << found.describe().toStdString();
        welcome = QString::fromUtf8(found.standardOutput).split(QLatin1Char('\n'), Qt::SkipEmptyParts).value(0);
        ASSERT_FALSE(welcome.isEmpty());
        ASSERT_TRUE(xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), welcome}).succeeded());
    }

    bool ready() const { return env && !HasFatalFailure() && !IsSkipped(); }

    ToolResult xdotool(const QStringList &arguments) const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), env->display());
        return zq::test::runTool(QStringLiteral("xdotool"), arguments, environment);
    }
    void keys(const QStringList &names)
    {
        QStringList arguments{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("50")};
        arguments += names;
        const ToolResult typed = xdotool(arguments);
        ASSERT_TRUE(typed.succeeded()) << typed.describe().toStdString();
    }

    // The Trigger row's line, as the application logged it with its first checks.
    QString triggerRow() const
    {
        const QRegularExpression row(QStringLiteral("trigger row: ([^\n\"]*)"));
        const QRegularExpressionMatch match = row.match(env->appLogTail(400));
        return match.hasMatch() ? match.captured(1) : QString();
    }

    // What the application stored, read as it reads it.
    std::unique_ptr<zq::rt::Settings> settings() const
    {
        return std::make_unique<zq::rt::Settings>(env->configDir() + QStringLiteral("/settings.json"));
    }

    std::unique_ptr<E2EEnvironment> env;
    QString welcome;
};

} // namespace

TEST_F(OnboardingE2ETest, AFreshProfileIsWelcomedRecordsATriggerAndDictatesAfterDone)
{
    startFresh(Microphone::Live);
    if (!ready())
        return;
    EXPECT_TRUE(env->waitForAppLog("onboarding: microphone true, input monitoring true, accessibility true",
                                   zq::test::kLoadedMachineTimeout))
        << env->appLogTail().toStdString();

    // Focus starts on the primary picker; the next stop is the record button. F8 becomes the
    // second trigger, since the test display has no Fn key.
    keys({QStringLiteral("Tab"), QStringLiteral("space")});
    ASSERT_TRUE(env->waitForAppLog("trigger recorder: recording", zq::test::kLoadedMachineTimeout))
        << env->appLogTail().toStdString();
    keys({QStringLiteral("F8")});
    ASSERT_TRUE(env->waitForAppLog("trigger recorder: stored \"F8\"", zq::test::kLoadedMachineTimeout))
        << env->appLogTail().toStdString();

    ASSERT_TRUE(xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), welcome}).succeeded());
    keys({QStringLiteral("Return")});
    ASSERT_TRUE(env->waitForAppLog("hotkey: tap started", zq::test::kLoadedMachineTimeout))
        << env->appLogTail().toStdString();
    const auto stored = settings();
    EXPECT_TRUE(stored->boolValue(QStringLiteral("onboarded")));
    EXPECT_EQ(stored->stringValue(QStringLiteral("secondaryTriggerKey")), QStringLiteral("f8"));
    EXPECT_EQ(xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                       QStringLiteral("^Welcome$")})
                  .succeeded(),
              false)
        << "the Welcome window closed";

    // The held trigger now dictates into the user's window.
    ASSERT_TRUE(env->target().activate());
    ASSERT_TRUE(env->pressTrigger());
    ASSERT_TRUE(env->waitForJournal(DiagnosticEvent::audioStartCompleted, 1, zq::test::kLoadedMachineTimeout))
        << env->appLogTail().toStdString();
    ASSERT_TRUE(env->speakIntoTake(E2EEnvironment::speechSamples())) << env->errorString().toStdString() << "; log:\n"
                                                                     << env->appLogTail().toStdString();
    ASSERT_TRUE(env->releaseTrigger());
    const auto pasted = env->target().waitForText(E2EEnvironment::isSpeechWords, zq::test::kLoadedMachineTimeout);
    EXPECT_TRUE(pasted) << "the field holds \"" << env->target().text().toStdString() << "\"; log:\n"
                        << env->appLogTail().toStdString();
    EXPECT_TRUE(env->stopApp());
}

TEST_F(OnboardingE2ETest, WithoutAMicrophoneTheRowStaysUngrantedAndDoneStaysDisabled)
{
    startFresh(Microphone::None);
    if (!ready())
        return;
    EXPECT_TRUE(env->waitForAppLog("onboarding: microphone false, input monitoring true, accessibility true",
                                   zq::test::kLoadedMachineTimeout))
        << env->appLogTail().toStdString();

    // Focus starts on the Microphone row's Grant: pressing it listens, and hears nothing.
    keys({QStringLiteral("space")});
    ASSERT_TRUE(env->waitForAppLog("microphone check:", zq::test::kLoadedMachineTimeout))
        << env->appLogTail().toStdString();
    keys({QStringLiteral("Return")});
    // Longer than one poll of the checks: nothing changes and Done stays shut.
    EXPECT_FALSE(env->waitForAppLog("hotkey: tap started", 2500ms));
    EXPECT_FALSE(env->waitForAppLog("onboarding: microphone true", 0ms));
    EXPECT_FALSE(settings()->boolValue(QStringLiteral("onboarded")));
    EXPECT_TRUE(env->stopApp());
}

TEST_F(OnboardingE2ETest, OnAKeyboardWithoutFnAFreshProfileDictatesWithTheKeyItsTriggerRowNames)
{
    startFresh(Microphone::Live);
    if (!ready())
        return;
    ASSERT_TRUE(env->waitForAppLog("onboarding: microphone true, input monitoring true, accessibility true",
                                   zq::test::kLoadedMachineTimeout))
        << env->appLogTail().toStdString();
    // Right Control: on every PC keyboard, and held alone for nothing else.
    EXPECT_EQ(triggerRow(), QStringLiteral("Hold Right Control to talk; tap it to lock."));
    zq::test::DesktopDriver desktop(env->display());
    zq::test::saveRender(desktop.screenshot(), QStringLiteral("e2e-welcome-without-fn"));

    // "Done" with nothing recorded.
    ASSERT_TRUE(xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), welcome}).succeeded());
    keys({QStringLiteral("Return")});
    ASSERT_TRUE(env->waitForAppLog("hotkey: tap started", zq::test::kLoadedMachineTimeout))
        << env->appLogTail().toStdString();
    EXPECT_FALSE(settings()->value(QStringLiteral("triggerKey"))) << "a default, not a stored choice";
    EXPECT_FALSE(env->waitForAppLog("no trigger in force reaches", 0ms));

    ASSERT_TRUE(env->target().activate());
    ASSERT_TRUE(env->keyDown("Control_R"));
    ASSERT_TRUE(env->waitForJournal(DiagnosticEvent::audioStartCompleted, 1, zq::test::kLoadedMachineTimeout))
        << env->appLogTail().toStdString();
    ASSERT_TRUE(env->speakIntoTake(E2EEnvironment::speechSamples())) << env->errorString().toStdString() << "; log:\n"
                                                                     << env->appLogTail().toStdString();
    ASSERT_TRUE(env->keyUp("Control_R"));
    const auto pasted = env->target().waitForText(E2EEnvironment::isSpeechWords, zq::test::kLoadedMachineTimeout);
    EXPECT_TRUE(pasted) << "the field holds \"" << env->target().text().toStdString() << "\"; log:\n"
                        << env->appLogTail().toStdString();
    // Only the word, once, of where the application went after "Done": nothing to warn about.
    for (const auto &notice : env->notifications().notifications())
        EXPECT_EQ(notice.summary, "ZEPA QUARN is in the tray") << notice.body.toStdString();
    EXPECT_TRUE(env->stopApp());
}

TEST_F(OnboardingE2ETest, WithFnForcedAsTheOnlyTriggerThePanelSaysSoAndOneNoticeIsSent)
{
    env = std::make_unique<E2EEnvironment>(Microphone::Live);
    if (!zq::test::requireService(env->start(), env->errorString()))
        return;
    zq::test::DesktopDriver desktop(env->display());
    ASSERT_TRUE(desktop.removeFnKeys());
    ASSERT_TRUE(env->writeSettings(
        {{QStringLiteral("triggerKey"), QStringLiteral("fn")}, {QStringLiteral("secondaryTriggerKey"), QString()}}));
    ASSERT_TRUE(env->startApp()) << env->errorString().toStdString();

    ASSERT_TRUE(env->notifications().waitForNotifications(1, zq::test::kLoadedMachineTimeout))
        << env->appLogTail().toStdString();
    const zq::test::ReceivedNotification notice = env->notifications().notifications().front();
    EXPECT_EQ(notice.summary, QStringLiteral("No key starts dictation"));
    EXPECT_TRUE(notice.body.contains(QStringLiteral("General → Trigger"))) << notice.body.toStdString();

    const QRect panel = desktop.openPanel();
    ASSERT_TRUE(panel.isValid()) << env->appLogTail().toStdString();
    EXPECT_TRUE(env->waitForAppLog("menu panel: shows that no key starts dictation", zq::test::kLoadedMachineTimeout));
    zq::test::saveRender(desktop.screenshot(), QStringLiteral("e2e-panel-fn-unseen"));

    // "Enable Dictation" is still offered and holds the keyboard as the panel opens (copy-last has
    // nothing to copy); it leads to the recorder.
    ASSERT_TRUE(desktop.keys({QStringLiteral("space")}));
    EXPECT_TRUE(env->waitForAppLog("app: settings opened at the trigger recorder", zq::test::kLoadedMachineTimeout))
        << env->appLogTail().toStdString();
    EXPECT_TRUE(zq::test::waitFor(
        [&] {
            return !desktop
                        .windows(
                            {QStringLiteral("--onlyvisible"), QStringLiteral("--name"), QStringLiteral("^ZEPA QUARN$")})
                        .isEmpty();
        },
        10s, 50ms));
    QThread::msleep(300);
    zq::test::saveRender(desktop.screenshot(), QStringLiteral("e2e-settings-at-trigger"));

    EXPECT_EQ(env->notifications().notifications().size(), 1u) << "one notice per launch";
    EXPECT_EQ(settings()->stringValue(QStringLiteral("triggerKey")), QStringLiteral("fn")) << "never rewritten";
    EXPECT_TRUE(env->stopApp());
}

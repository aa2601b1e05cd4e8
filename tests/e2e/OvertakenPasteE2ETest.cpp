// Two takes pasted into a window that is busy while both arrive: each text goes in once, in order.
#include "pipeline/SettingsDefaults.h"
#include "platform/linux/freedesktop/LibsecretStore.h"
#include "support/E2EEnvironment.h"
#include "support/LoopbackTranscriptionServer.h"
#include "support/Polling.h"
#include "support/ServiceEnvironment.h"
#include "transcription/Keychain.h"

#include <gtest/gtest.h>

#include <csignal>
#include <memory>

using namespace std::chrono_literals;
using zq::DiagnosticEvent;
using zq::test::E2EEnvironment;
using Answer = zq::test::LoopbackTranscriptionServer::Answer;

namespace {

class OvertakenPasteE2ETest : public ::testing::Test {
protected:
    void TearDown() override
    {
        // The bus goes while this process still points at it, so that its keyring client lets go of it.
        env.reset();
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_previousBus);
        qputenv("ZQ_OPENAI_BASE_URL_FOR_TESTS", m_previousBaseUrl);
    }

    // Holds the trigger for a second of the room's noise and lets go: the service makes the words.
    bool take(int nth)
    {
        return env->pressTrigger() &&
               env->waitForJournal(DiagnosticEvent::audioStartCompleted, nth, zq::test::kLoadedMachineTimeout) &&
               zq::test::waitFor([&] { return env->recordedSeconds() >= 1.0; }, zq::test::kLoadedMachineTimeout) &&
               env->releaseTrigger() &&
               env->waitForJournal(DiagnosticEvent::transcriptionCompleted, nth, zq::test::kLoadedMachineTimeout);
    }

    zq::test::LoopbackTranscriptionServer server;
    std::unique_ptr<E2EEnvironment> env;

private:
    QByteArray m_previousBus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    QByteArray m_previousBaseUrl = qgetenv("ZQ_OPENAI_BASE_URL_FOR_TESTS");
};

// The window is frozen from before the first paste until the second text is on its way, as a window busy
// for a few seconds is: the second paste must not answer the first one's keys. A round whose machine was
// too slow for the first text's wait (it was given up before the window woke) shows nothing and is run
// again.
TEST_F(OvertakenPasteE2ETest, ASecondTakeDuringTheFetchWaitOvertakesNothing)
{
    ASSERT_TRUE(server.start()) << server.errorString().toStdString();
    qputenv("ZQ_OPENAI_BASE_URL_FOR_TESTS", server.baseUrl().toUtf8());
    env = std::make_unique<E2EEnvironment>();
    const bool started = env->start();
    ZQ_REQUIRE_SERVICE(started, env->errorString());
    qputenv("DBUS_SESSION_BUS_ADDRESS", env->bus().address().toUtf8());
    zq::Keychain(std::make_shared<zq::platform::LibsecretStore>()).saveAPIKey(QStringLiteral("sk-test-overtaken"));
    ASSERT_TRUE(env->writeSettings({{zq::keys::backend, QStringLiteral("openai")}}))
        << env->errorString().toStdString();
    ASSERT_TRUE(env->startApp()) << env->errorString().toStdString();
    ASSERT_TRUE(env->target().activate()) << "the target window cannot take the keyboard focus";
    const pid_t target = pid_t(env->target().processId());
    ASSERT_GT(target, 0);

    bool conclusive = false;
    for (int round = 0; round < 3 && !conclusive; ++round) {
        SCOPED_TRACE(testing::Message() << "round " << round);
        const QString first = QStringLiteral("first take %1.").arg(round);
        const QString second = QStringLiteral("Second take %1.").arg(round);
        ASSERT_TRUE(env->target().clear());
        const int succeeded = env->journalCount(DiagnosticEvent::pasteSucceeded);
        const int fallbacks = env->journalCount(DiagnosticEvent::pasteFallback);
        const qsizetype historyBefore = env->history().size();

        server.setDefaultAnswer(Answer::respond(200, first.toUtf8()));
        ASSERT_EQ(::kill(target, SIGSTOP), 0);
        const bool firstTaken = take(2 * round + 1);
        server.setDefaultAnswer(Answer::respond(200, second.toUtf8()));
        const bool secondTaken = firstTaken && take(2 * round + 2);
        const bool inTime = env->journalCount(DiagnosticEvent::pasteFallback) == fallbacks;
        ::kill(target, SIGCONT);
        ASSERT_TRUE(secondTaken) << "log:\n" << env->appLogTail().toStdString();

        const auto both =
            env->target().waitForText([&](const QString &text) { return text.size() >= (first + second).size(); },
                                      zq::test::kLoadedMachineTimeout);
        ASSERT_TRUE(env->waitForJournal(DiagnosticEvent::pasteSucceeded, succeeded + (inTime ? 2 : 1),
                                        zq::test::kLoadedMachineTimeout))
            << "log:\n"
            << env->appLogTail().toStdString();
        if (!inTime)
            continue;
        conclusive = true;
        env->target().collectFor(1s);
        EXPECT_TRUE(both);
        EXPECT_EQ(env->target().text().toStdString(), (first + second).toStdString());
        EXPECT_EQ(env->journalCount(DiagnosticEvent::pasteSucceeded), succeeded + 2);
        EXPECT_EQ(env->journalCount(DiagnosticEvent::pasteFallback), fallbacks);
        const QJsonArray history = env->history();
        ASSERT_EQ(history.size(), historyBefore + 2);
        EXPECT_EQ(history.at(0).toObject().value(QStringLiteral("text")).toString(), second);
        EXPECT_EQ(history.at(1).toObject().value(QStringLiteral("text")).toString(), first);
    }
    EXPECT_TRUE(conclusive) << "every round's first text was given up before the window woke";
    EXPECT_TRUE(env->stopApp());
}

} // namespace

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

    std::unique_ptr<E2EEnvironment> env;

private:
    QByteArray m_previousBus = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    QByteArray m_previousBaseUrl = qgetenv("ZQ_OPENAI_BASE_URL_FOR_TESTS");
};

// The window is frozen from before the first paste until the second text is on its way, as a window busy
// for a few seconds is: the second paste must not answer the first one's keys. A round whose machine was
// too slow for the first text's wait (given up before the window woke) shows nothing and is run again.
TEST_F(OvertakenPasteE2ETest, ASecondTakeDuringTheFetchWaitOvertakesNothing)
{
    zq::test::LoopbackTranscriptionServer server;
    ASSERT_TRUE(server.start()) << server.errorString().toStdString();
    qputenv("ZQ_OPENAI_BASE_URL_FOR_TESTS", server.baseUrl().toUtf8());
    env = std::make_unique<E2EEnvironment>();
    const bool started = env->start();
    ZQ_REQUIRE_SERVICE(started, env->errorString());
    qputenv("DBUS_SESSION_BUS_ADDRESS", env->bus().address().toUtf8());
    zq::Keychain(std::make_shared<zq::platform::LibsecretStore>()).saveAPIKey(QStringLiteral("sk-test-overtaken"));
    ASSERT_TRUE(env->writeSettings({{zq::keys::backend, QStringLiteral("openai")}}));
    ASSERT_TRUE(env->startApp()) << env->errorString().toStdString();
    ASSERT_TRUE(env->target().activate()) << "the target window cannot take the keyboard focus";
    const pid_t target = pid_t(env->target().processId());
    // The trigger held for a second of the room's noise: the service answers with `words`.
    const auto take = [&](int nth, const QString &words) {
        server.setDefaultAnswer(Answer::respond(200, words.toUtf8()));
        constexpr auto limit = zq::test::kLoadedMachineTimeout;
        return env->pressTrigger() && env->waitForJournal(DiagnosticEvent::audioStartCompleted, nth, limit) &&
               zq::test::waitFor([&] { return env->recordedSeconds() >= 1.0; }, limit) && env->releaseTrigger() &&
               env->waitForJournal(DiagnosticEvent::transcriptionCompleted, nth, limit);
    };

    bool conclusive = false;
    for (int round = 0; round < 3 && !conclusive && target > 0; ++round) {
        SCOPED_TRACE(testing::Message() << "round " << round);
        const QString first = QStringLiteral("first take %1.").arg(round);
        const QString second = QStringLiteral("Second take %1.").arg(round);
        ASSERT_TRUE(env->target().clear());
        const int succeeded = env->journalCount(DiagnosticEvent::pasteSucceeded);
        const int fallbacks = env->journalCount(DiagnosticEvent::pasteFallback);
        ASSERT_EQ(::kill(target, SIGSTOP), 0);
        const bool taken = take(2 * round + 1, first) && take(2 * round + 2, second);
        conclusive = env->journalCount(DiagnosticEvent::pasteFallback) == fallbacks;
        ::kill(target, SIGCONT);
        ASSERT_TRUE(taken) << "log:\n" << env->appLogTail().toStdString();
        ASSERT_TRUE(env->waitForJournal(DiagnosticEvent::pasteSucceeded, succeeded + (conclusive ? 2 : 1),
                                        zq::test::kLoadedMachineTimeout));
        if (!conclusive)
            continue;
        env->target().collectFor(1s);
        EXPECT_EQ(env->target().text().toStdString(), (first + second).toStdString());
        EXPECT_EQ(env->journalCount(DiagnosticEvent::pasteSucceeded), succeeded + 2);
        EXPECT_EQ(env->journalCount(DiagnosticEvent::pasteFallback), fallbacks);
    }
    EXPECT_TRUE(conclusive) << "every round's first text was given up before the window woke";
    EXPECT_TRUE(env->stopApp());
}

} // namespace

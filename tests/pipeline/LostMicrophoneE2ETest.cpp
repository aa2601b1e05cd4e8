// The only microphone removed from the real sound server, or the server itself killed, in the
// middle of a take of the real application: what was heard before still reaches the front
// window, and the user is told.
#include "support/E2EEnvironment.h"
#include "support/Polling.h"
#include "support/PulseServer.h"
#include "support/ServiceEnvironment.h"

#include <QJsonObject>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using zq::DiagnosticEvent;
using zq::test::E2EEnvironment;

TEST(LostMicrophoneE2ETest, WhatWasHeardIsPastedAndTheUserIsToldTheMicrophoneWasLost)
{
    E2EEnvironment env;
    const bool started = env.start();
    if (!zq::test::requireService(started, env.errorString()))
        return;
    ASSERT_FALSE(E2EEnvironment::speechSamples().empty());
    ASSERT_TRUE(env.writeSettings()) << env.errorString().toStdString();
    ASSERT_TRUE(env.startApp()) << env.errorString().toStdString();
    ASSERT_TRUE(env.target().activate());

    ASSERT_TRUE(env.pressTrigger());
    ASSERT_TRUE(env.waitForJournal(DiagnosticEvent::audioStartCompleted, 1, zq::test::kLoadedMachineTimeout))
        << env.appLogTail().toStdString();
    ASSERT_TRUE(env.speakIntoTake(E2EEnvironment::speechSamples())) << env.errorString().toStdString() << "; log:\n"
                                                                    << env.appLogTail().toStdString();

    // The microphone is unplugged while the trigger is still held; no other input is left.
    const auto unloaded = env.pulse().pactl("unload-module", "module-pipe-source");
    ASSERT_TRUE(unloaded.succeeded()) << unloaded.standardError.toStdString();
    ASSERT_TRUE(env.waitForJournal(DiagnosticEvent::audioRecoveryFailed, 1, zq::test::kLoadedMachineTimeout))
        << env.appLogTail().toStdString();
    ASSERT_TRUE(env.releaseTrigger());

    const auto pasted = env.target().waitForText(E2EEnvironment::isSpeechWords, zq::test::kLoadedMachineTimeout);
    EXPECT_TRUE(pasted) << "the field holds \"" << env.target().text().toStdString() << "\" after "
                        << env.target().keyEvents().size() << " key events; the clipboard holds \""
                        << env.target().clipboard().value_or(QStringLiteral("(no answer)")).toStdString()
                        << "\"; log:\n"
                        << env.appLogTail().toStdString();
    ASSERT_TRUE(env.notifications().waitForNotifications(1, zq::test::kLoadedMachineTimeout))
        << env.appLogTail().toStdString();
    EXPECT_EQ(env.notifications().notifications().front().summary, QStringLiteral("Microphone lost"));
    ASSERT_EQ(env.incidents().size(), 1);
    EXPECT_EQ(env.incidents().at(0).toObject().value(QStringLiteral("code")).toString(), QStringLiteral("ZQ-MIC-LOST"));
    // The history entry is written after the paste, off the path to the text: wait for it.
    EXPECT_TRUE(zq::test::waitFor([&] { return env.history().size() == 1; }, zq::test::kLoadedMachineTimeout))
        << env.history().size() << " history entries; log:\n"
        << env.appLogTail().toStdString();
}

TEST(LostMicrophoneE2ETest, TheSoundServerKilledMidTakeEndsItWithWhatWasHeardAndTellsTheUser)
{
    E2EEnvironment env;
    const bool started = env.start();
    if (!zq::test::requireService(started, env.errorString()))
        return;
    ASSERT_TRUE(env.writeSettings()) << env.errorString().toStdString();
    ASSERT_TRUE(env.startApp()) << env.errorString().toStdString();
    ASSERT_TRUE(env.target().activate());

    ASSERT_TRUE(env.pressTrigger());
    ASSERT_TRUE(env.waitForJournal(DiagnosticEvent::audioStartCompleted, 1, zq::test::kLoadedMachineTimeout))
        << env.appLogTail().toStdString();
    ASSERT_TRUE(env.speakIntoTake(E2EEnvironment::speechSamples())) << env.errorString().toStdString() << "; log:\n"
                                                                    << env.appLogTail().toStdString();

    // The whole sound server goes away while the trigger is held.
    env.feeder()->stop();
    env.pulse().stop();
    ASSERT_TRUE(env.waitForJournal(DiagnosticEvent::audioRecoveryFailed, 1, zq::test::kLoadedMachineTimeout))
        << env.appLogTail().toStdString();
    ASSERT_TRUE(env.releaseTrigger());

    const auto pasted = env.target().waitForText(
        [](const QString &text) {
            return E2EEnvironment::normalizedWords(text) == QLatin1String(E2EEnvironment::kSpeechWords);
        },
        zq::test::kLoadedMachineTimeout);
    EXPECT_TRUE(pasted) << "the field holds \"" << env.target().text().toStdString() << "\"; log:\n"
                        << env.appLogTail().toStdString();
    ASSERT_TRUE(env.notifications().waitForNotifications(1, zq::test::kLoadedMachineTimeout))
        << env.appLogTail().toStdString();
    EXPECT_EQ(env.notifications().notifications().front().summary, QStringLiteral("Microphone lost"));
    ASSERT_EQ(env.incidents().size(), 1);
    EXPECT_EQ(env.incidents().at(0).toObject().value(QStringLiteral("code")).toString(), QStringLiteral("ZQ-MIC-LOST"));
    EXPECT_TRUE(env.isAppRunning()) << "a lost sound server is no reason to end";
}

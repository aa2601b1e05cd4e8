// The real application on a session bus whose keyring has gone away: an OpenAI take must not be
// reported as "no API key saved", and its recording is kept for a retry.
#include "pipeline/SettingsDefaults.h"
#include "support/E2EEnvironment.h"
#include "support/Polling.h"
#include "support/ServiceEnvironment.h"

#include <QDir>
#include <QFile>
#include <QThread>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using zq::DiagnosticEvent;
using zq::test::E2EEnvironment;

TEST(UnreachableKeyringE2ETest, AnOpenAITakeGivesTheKeyringIncidentAndKeepsItsRecording)
{
    E2EEnvironment env;
    const bool started = env.start();
    if (!zq::test::requireService(started, env.errorString()))
        return;
    ASSERT_TRUE(env.bus().stopKeyring()) << "the keyring still answers";
    ASSERT_FALSE(E2EEnvironment::speechSamples().empty());
    ASSERT_TRUE(env.writeSettings({{zq::keys::backend, QStringLiteral("openai")}})) << env.errorString().toStdString();
    ASSERT_TRUE(env.startApp()) << env.errorString().toStdString();
    ASSERT_TRUE(env.target().activate());

    ASSERT_TRUE(env.pressTrigger());
    ASSERT_TRUE(env.waitForJournal(DiagnosticEvent::audioStartCompleted, 1, zq::test::kLoadedMachineTimeout))
        << env.appLogTail().toStdString();
    env.feeder()->speak(E2EEnvironment::speechSamples());
    ASSERT_TRUE(env.feeder()->waitUntilSpoken(zq::test::kLoadedMachineTimeout));
    ASSERT_TRUE(env.releaseTrigger());

    const QDeadlineTimer deadline(30s);
    while (env.incidents().isEmpty() && !deadline.hasExpired())
        QThread::msleep(50);
    ASSERT_EQ(env.incidents().size(), 1) << env.appLogTail().toStdString();
    const QJsonObject incident = env.incidents().at(0).toObject();
    EXPECT_EQ(incident.value(QStringLiteral("code")).toString(), QStringLiteral("ZQ-TX-KEYRING"));
    const QString recording = incident.value(QStringLiteral("recordingFilename")).toString();
    ASSERT_FALSE(recording.isEmpty()) << "the recording is kept";
    EXPECT_TRUE(QFile::exists(env.dataDir() + QStringLiteral("/Incidents/Recordings/") + recording));
    EXPECT_TRUE(env.target().text().isEmpty()) << "nothing is pasted";
    EXPECT_TRUE(env.history().isEmpty());
}

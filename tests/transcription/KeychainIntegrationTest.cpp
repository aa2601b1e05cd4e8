// The key read through the real secret-service client on the private session bus with no
// secret service: an unreachable keyring must not pass for "no key saved".
#include "platform/linux/freedesktop/LibsecretStore.h"
#include "records/IncidentPresentation.h"
#include "transcription/Keychain.h"
#include "transcription/OpenAIBackend.h"

#include "support/DBusSession.h"
#include "support/LoopbackTranscriptionServer.h"
#include "support/OpenAITestSupport.h"
#include "support/ServiceEnvironment.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace zq;

TEST(KeychainIntegrationTest, ABusWithoutASecretServiceGivesTheKeyringMessageAndKeepsTheRecording)
{
    test::DBusSession *bus = test::processSessionBus();
    ZQ_REQUIRE_SERVICE(bus && bus->stopKeyring(), test::processSessionBusError());
    const Keychain keychain(std::make_shared<platform::LibsecretStore>());

    const auto read = keychain.readStoredAPIKey();
    EXPECT_FALSE(read) << "nobody answers for the keyring: an error, not an empty result";
    EXPECT_EQ(keychain.readAPIKey(), std::nullopt) << "the plain read still absorbs it";

    test::LoopbackTranscriptionServer server;
    ASSERT_TRUE(server.start()) << server.errorString().toStdString();
    QTemporaryDir folder;
    const QString take = folder.filePath(QStringLiteral("take.wav"));
    test::writeTake(take, 1.0);
    OpenAIBackend::Config config;
    config.uploadDir = folder.path();
    config.readAPIKey = [keychain] { return keychain.readStoredAPIKey(); };
    config.baseUrl = QUrl(server.baseUrl());
    config.systemLanguageCode = [] { return QStringLiteral("en"); };

    test::VirtualLoop loop;
    test::StreamOutcome outcome;
    OpenAIBackend backend(loop, config);
    auto handle =
        rt::spawn(loop, test::consume(backend.transcribe(AudioSource::file(take), QStringLiteral("en"), {}), &outcome));
    ASSERT_TRUE(test::drive(loop, [&] { return handle.isDone(); }));

    EXPECT_TRUE(outcome.errorText().contains(QStringLiteral("keyring"))) << outcome.errorText().toStdString();
    EXPECT_EQ(server.requestCount(), 0);
    EXPECT_TRUE(QFile::exists(take));
    const IncidentPresentation shown = transcriptionIncidentPresentation(outcome.errorText(), QStringLiteral("openai"));
    EXPECT_EQ(shown.code, QStringLiteral("ZQ-TX-KEYRING"));
    EXPECT_TRUE(shown.nextStep.startsWith(QStringLiteral("Your recording was kept.")));
}

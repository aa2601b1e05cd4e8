// The API key test against a loopback HTTP server: what each answer reads as, and what the request
// carries.
#include "window/settings/APIKeyTest.h"

#include "platform/linux/QtHttpClient.h"
#include "support/LoopbackTranscriptionServer.h"
#include "support/VirtualLoop.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace zq;
using platform::HttpOutcome;
using test::LoopbackTranscriptionServer;
using Answer = LoopbackTranscriptionServer::Answer;

namespace {

class APIKeyTestIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.start()) << server.errorString().toStdString(); }

    QString run(std::optional<QString> key, std::chrono::milliseconds timeout = 15s)
    {
        APIKeyTestConfig config{QUrl(server.baseUrl()), timeout, http};
        auto handle = rt::spawn(loop, testAPIKey(std::move(key), config));
        EXPECT_TRUE(loop.runUntil([&] { return handle.isDone(); }, 20s)) << "the key test never ended";
        if (!handle.isDone() || handle.hasFailed())
            return QStringLiteral("<failed>");
        return handle.result().value_or(RowStatus{}).text;
    }

    test::VirtualLoop loop;
    LoopbackTranscriptionServer server;
    std::shared_ptr<const platform::HttpClient> http = std::make_shared<platform::QtHttpClient>();
};

struct StatusCase {
    int status;
    const char *expected;
};

class APIKeyStatusTest : public APIKeyTestIntegrationTest, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(APIKeyStatusTest, EachStatusReadsAsItsLine)
{
    server.enqueue(Answer::respond(GetParam().status, "{\"data\":[]}"));
    EXPECT_EQ(run(QStringLiteral("sk-test")), QString::fromUtf8(GetParam().expected));
    EXPECT_EQ(server.requestCount(), 1);
}

INSTANTIATE_TEST_SUITE_P(Answers, APIKeyStatusTest,
                         ::testing::Values(StatusCase{200, "✓ Key valid"}, StatusCase{401, "✗ Invalid key (401)"},
                                           StatusCase{403, "✗ Invalid key (403)"}, StatusCase{429, "✗ HTTP 429"},
                                           StatusCase{500, "✗ HTTP 500"}),
                         [](const auto &info) { return "Status" + std::to_string(info.param.status); });

TEST_F(APIKeyTestIntegrationTest, TheRequestIsOneGetOfTheModelsWithTheKeyAsBearer)
{
    server.enqueue(Answer::respond(200));
    ASSERT_EQ(run(QStringLiteral("sk-abc123")), QString::fromUtf8("✓ Key valid"));
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, "/v1/models");
    EXPECT_EQ(requests[0].header("Authorization"), "Bearer sk-abc123");
    EXPECT_EQ(requests[0].bodyLength, 0);
}

TEST_F(APIKeyTestIntegrationTest, GarbageInsteadOfHttpIsANetworkError)
{
    // The client may send a GET again when its first try breaks off: every try gets the same answer.
    server.setDefaultAnswer(Answer::raw("garbage that is no status line\r\n\r\n"));
    EXPECT_EQ(run(QStringLiteral("sk-test")), QString::fromUtf8("✗ Network error"));
}

TEST(APIKeyTestResultTest, AnAnswerWithoutAnHttpStatusReadsAsMinusOne)
{
    HttpOutcome outcome;
    outcome.kind = HttpOutcome::Kind::noHttpResponse;
    EXPECT_EQ(apiKeyTestResult(outcome), RowStatus::failed("HTTP -1"));
    outcome.kind = HttpOutcome::Kind::response;
    outcome.status = 302;
    EXPECT_EQ(apiKeyTestResult(outcome), RowStatus::failed("HTTP 302"));
}

TEST_F(APIKeyTestIntegrationTest, NoAnswerInTimeIsANetworkErrorNeverAnInvalidKey)
{
    server.setDefaultAnswer(Answer::hang());
    EXPECT_EQ(run(QStringLiteral("sk-test"), 300ms), QString::fromUtf8("✗ Network error"));

    // The client may send a GET again when its first try breaks off: every try is dropped.
    server.setDefaultAnswer(Answer::drop());
    EXPECT_EQ(run(QStringLiteral("sk-test")), QString::fromUtf8("✗ Network error"));

    const QString unreachable = server.baseUrl();
    server.stop();
    APIKeyTestConfig config{QUrl(unreachable), 2s, http};
    auto handle = rt::spawn(loop, testAPIKey(QStringLiteral("sk-test"), config));
    ASSERT_TRUE(loop.runUntil([&] { return handle.isDone(); }, 20s));
    EXPECT_EQ(handle.result().value_or(RowStatus{}), RowStatus::failed("Network error"));
}

TEST_F(APIKeyTestIntegrationTest, WithoutAUsableKeyNothingIsSent)
{
    EXPECT_EQ(run(std::nullopt), QString::fromUtf8("✗ No key saved"));
    EXPECT_EQ(run(QString()), QString::fromUtf8("✗ No key saved"));
    EXPECT_EQ(run(QStringLiteral("  \n")), QString::fromUtf8("✗ No key saved"));
    // A line break inside would add a header line of its own.
    EXPECT_EQ(run(QStringLiteral("sk-a\r\nX-Injected: 1")), QString::fromUtf8("✗ Invalid key"));
    EXPECT_EQ(server.requestCount(), 0);
}

} // namespace

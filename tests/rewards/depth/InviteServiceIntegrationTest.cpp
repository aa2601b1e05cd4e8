#include "pipeline/SettingsDefaults.h"
#include "platform/linux/QtHttpClient.h"
#include "rewards/depth/DepthStore.h"
#include "rewards/depth/InviteService.h"
#include "runtime/Settings.h"
#include "support/FakeGate.h"
#include "support/LoopbackTranscriptionServer.h"
#include "support/VirtualLoop.h"

#include <gtest/gtest.h>

using namespace zq;
using platform::HttpOutcome;
using platform::HttpRequest;
using Server = test::LoopbackTranscriptionServer;
using Answer = Server::Answer;

namespace {

// The invite client over the application's own HTTP client against a loopback HTTP server.
class InviteServiceIntegrationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.start()) << server.errorString().toStdString();
        qputenv("ZQ_INVITE_BASE_URL_FOR_TESTS", server.baseUrl().toUtf8());
    }
    void TearDown() override { qunsetenv("ZQ_INVITE_BASE_URL_FOR_TESTS"); }

    template <typename T>
    T run(rt::Task<T> task)
    {
        auto handle = rt::spawn(loop, std::move(task));
        EXPECT_TRUE(loop.runUntil([&] { return handle.isDone(); }, std::chrono::seconds(30)))
            << "the request never ended";
        return *handle.result();
    }

    std::optional<QString> createWith(Answer answer)
    {
        server.enqueue(std::move(answer));
        return run(service.createInvite());
    }
    std::optional<qint64> lookUpWith(Answer answer, const QString &code = QStringLiteral("7K3M9Q"))
    {
        server.enqueue(std::move(answer));
        return run(service.verifiedCount(code));
    }

    Server server;
    test::VirtualLoop loop;
    InviteService service{std::make_shared<platform::QtHttpClient>()};
};

Answer json(const char *body, int status = 200)
{
    return Answer::respond(status, QByteArray(body));
}

} // namespace

TEST_F(InviteServiceIntegrationTest, RequestsHaveTheirExactShape)
{
    EXPECT_EQ(createWith(json(R"({"code":"AB12CD","count":0})")), "AB12CD");
    EXPECT_EQ(lookUpWith(json(R"({"code":"7K3M9Q","count":4})")), 4);

    const QList<Server::Request> requests = server.requests();
    ASSERT_EQ(requests.size(), 2);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].target, "/api/invite");
    EXPECT_EQ(requests[0].header("Accept"), "application/json");
    EXPECT_EQ(requests[0].bodyLength, 0) << "no body";
    EXPECT_TRUE(requests[0].header("Content-Type").isEmpty());
    EXPECT_EQ(requests[1].method, "GET");
    EXPECT_EQ(requests[1].target, "/api/invite/7K3M9Q");
    EXPECT_EQ(requests[1].header("Accept"), "application/json");
    EXPECT_EQ(requests[1].bodyLength, 0);

    const HttpRequest made = InviteService::makeRegisterRequest();
    EXPECT_EQ(made.timeout, std::chrono::seconds(10));
    qunsetenv("ZQ_INVITE_BASE_URL_FOR_TESTS");
    EXPECT_EQ(InviteService::makeRegisterRequest().url.toString(), "https://" + InviteService::host() + "/api/invite");
}

TEST_F(InviteServiceIntegrationTest, CreateAcceptsOnlyCodesOfTheAlphabet)
{
    EXPECT_EQ(createWith(json(R"({"code":"0123ZZ"})")), "0123ZZ") << "no count is fine";
    EXPECT_EQ(createWith(json(R"({"code":"0123ZZ","count":null})")), "0123ZZ");
    EXPECT_EQ(createWith(json(R"({"code":"AB12CD"})", 201)), "AB12CD");
    for (const char *body :
         {R"({"code":"ab12cd"})", R"({"code":"AB12C"})", R"({"code":"AB12CDE"})", R"({"code":"AB12CI"})",
          R"({"code":"AB12CL"})", R"({"code":"AB12CO"})", R"({"code":"AB12CU"})", R"({"code":" AB12C"})"})
        EXPECT_FALSE(createWith(json(body))) << body;
}

TEST_F(InviteServiceIntegrationTest, LookupNeedsTheSameCodeAndACount)
{
    EXPECT_EQ(lookUpWith(json(R"({"code":"7K3M9Q","count":0})")), 0);
    EXPECT_FALSE(lookUpWith(json(R"({"code":"7K3M9Q"})")));
    EXPECT_FALSE(lookUpWith(json(R"({"code":"7K3M9Q","count":null})")));
    EXPECT_FALSE(lookUpWith(json(R"({"code":"7K3M9Q","count":-1})")));
    EXPECT_FALSE(lookUpWith(json(R"({"code":"AB12CD","count":4})"))) << "another valid code";
    EXPECT_EQ(server.requestCount(), 5);
}

TEST_F(InviteServiceIntegrationTest, InvalidCodesSendNothing)
{
    for (const QString &code : QStringList{"7K3M9", "7K3M9QQ", "7k3m9q", "7K3M9I", "", QString::fromUtf8("7K3M9Ö")})
        EXPECT_FALSE(run(service.verifiedCount(code))) << code.toStdString();
    EXPECT_EQ(server.requestCount(), 0);
    EXPECT_FALSE(InviteService::makeLookupRequest(QStringLiteral("7K3M9")));
}

TEST_F(InviteServiceIntegrationTest, StatusesOutsideSuccessGiveNothing)
{
    for (int status : {304, 404, 500, 199})
        EXPECT_FALSE(lookUpWith(json(R"({"code":"7K3M9Q","count":4})", status))) << status;
}

TEST_F(InviteServiceIntegrationTest, HostileAnswersGiveNoValue)
{
    const QByteArray huge = R"({"code":"7K3M9Q","count":4,"pad":")" + QByteArray(8 * 1024 * 1024, 'x') + R"("})";
    EXPECT_FALSE(lookUpWith(Answer::respond(200, huge))) << "a huge body is refused, not read";
    for (const char *body : {
             R"({"code":7,"count":4})",
             R"({"count":4})",
             R"({"code":"7K3M9Q","count":"4"})",
             R"({"code":"7K3M9Q","count":4.5})",
             R"({"code":"7K3M9Q","count":true})",
             R"({"code":"7K3M9Q","count":[4]})",
             R"({"code":"7K3M9Q","count":1e30})",
             R"(["7K3M9Q",4])",
             "<html>nope</html>",
             "",
             R"({"code":"7K3M9Q","count":4)",
         })
        EXPECT_FALSE(lookUpWith(json(body))) << body;
    EXPECT_FALSE(createWith(json(R"({"code":"AB12CD","count":"many"})"))) << "a bad count fails the whole answer";
    EXPECT_FALSE(createWith(Answer::drop())) << "no HTTP answer";
    EXPECT_EQ(lookUpWith(json(R"({"code":"7K3M9Q","count":4,"extra":{"x":1}})")), 4) << "unknown keys are ignored";
}

TEST_F(InviteServiceIntegrationTest, TheTransportGivesUpAfterTheRequestsTimeout)
{
    // The service asks for 10 s; a short timeout shows the transport keeps to whatever it is given.
    HttpRequest request = *InviteService::makeLookupRequest(QStringLiteral("7K3M9Q"));
    request.timeout = std::chrono::milliseconds(300);
    server.enqueue(Answer::hang());
    const HttpOutcome outcome = platform::QtHttpClient().perform(request, {});
    EXPECT_EQ(outcome.kind, HttpOutcome::Kind::transportFailure);
    EXPECT_EQ(server.requestCount(), 1);
}

TEST_F(InviteServiceIntegrationTest, ASecondRefreshReturnsAtOnceWhileTheFirstWaits)
{
    rt::Settings settings{QString()};
    registerDefaults(settings);
    settings.setValue("inviteCode", QStringLiteral("7K3M9Q"));
    DepthStore store(settings, service);

    test::FakeGate release;
    server.setOnRequest([&release](const Server::Request &) { release.pass(); });
    server.enqueue(json(R"({"code":"7K3M9Q","count":3})"));
    auto first = rt::spawn(loop, store.refreshProgress());
    ASSERT_TRUE(loop.runUntil([&] { return store.inviteRequestInFlight(); }));
    ASSERT_TRUE(release.waitUntilReached(std::chrono::seconds(10)));

    auto second = rt::spawn(loop, store.refreshProgress());
    ASSERT_TRUE(loop.runUntil([&] { return second.isDone(); }));
    EXPECT_FALSE(*second.result());
    EXPECT_FALSE(first.isDone());

    release.open();
    ASSERT_TRUE(loop.runUntil([&] { return first.isDone(); }, std::chrono::seconds(30)));
    EXPECT_TRUE(*first.result());
    EXPECT_EQ(store.unlocked(), (std::set<DepthTier>{DepthTier::shallows, DepthTier::twilight}));
    EXPECT_EQ(server.requestCount(), 1);
}

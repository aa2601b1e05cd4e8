// The application refreshes the invite progress once after launch, through the depth store.

#include "app/ZEPAquarnApp.h"
#include "pipeline/DictationController.h"
#include "support/FakeDictationServices.h"
#include "support/FakeHttpClient.h"

#include <QApplication>

#include <gtest/gtest.h>

using namespace zq;

namespace {

std::unique_ptr<ZEPAquarnApp> launch(test::FakeDictationServices &services,
                                     std::shared_ptr<test::FakeHttpClient> transport)
{
    ZEPAquarnApp::Environment environment{
        *qobject_cast<QApplication *>(QCoreApplication::instance()),
        services.loop,
        services.settings,
        {},
        [&services] {
            services.makeController();
            return std::move(services.controller);
        },
        {},
        InviteService(std::move(transport)),
    };
    auto app = std::make_unique<ZEPAquarnApp>(std::move(environment));
    app->showScenes();
    return app;
}

} // namespace

TEST(DepthLaunchRefreshTest, ALaunchWithACodeFetchesItsCountOnce)
{
    test::FakeDictationServices services{{.makeController = false}};
    services.settings.setValue("onboarded", true);
    services.settings.setValue("inviteCode", QStringLiteral("7K3M9Q"));
    auto transport = std::make_shared<test::FakeHttpClient>();
    transport->enqueue(test::FakeHttpClient::answer(200, R"({"code":"7K3M9Q","count":3})"));

    auto app = launch(services, transport);
    ASSERT_TRUE(services.loop.runUntil([&] { return services.settings.integerValue("inviteVerifiedDownloads") == 3; }));
    EXPECT_EQ(app->delegate().depth().unlocked(), (std::set<DepthTier>{DepthTier::shallows, DepthTier::twilight}));
    services.loop.runUntilIdle();
    EXPECT_EQ(transport->requestCount(), 1) << "once, with no timer after it";
}

TEST(DepthLaunchRefreshTest, ALaunchWithoutACodeSendsNothing)
{
    test::FakeDictationServices services{{.makeController = false}};
    services.settings.setValue("onboarded", true);
    auto transport = std::make_shared<test::FakeHttpClient>();
    auto app = launch(services, transport);
    services.loop.runUntilIdle();
    EXPECT_EQ(transport->requestCount(), 0);
}

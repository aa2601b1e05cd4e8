// The application refreshes the invite progress once after launch, through the depth store.

#include "app/ZEPAquarnApp.h"
#include "pipeline/DictationController.h"
#include "pipeline/TriggerRecordingGate.h"
#include "support/FakeDictationServices.h"
#include "support/FakeHttpClient.h"
#include "support/FakePermissionProbe.h"

#include <QApplication>

#include <gtest/gtest.h>

using namespace zq;

namespace {

// The application over `services`, launched.
struct Launch {
    Launch(test::FakeDictationServices &services, std::shared_ptr<test::FakeHttpClient> transport)
        : made{.application = *qobject_cast<QApplication *>(QCoreApplication::instance()),
               .loop = services.loop,
               .settings = services.settings,
               .hardware = services.hardware,
               .permissionProbe = probe,
               .pasteboard = services.pasteboard,
               .notifications = services.notifications,
               .audioDuringDictation = *services.audioDuringDictation,
               .recordingGate = gate,
               .makeController =
                   [&services] {
                       services.makeController();
                       return std::move(services.controller);
                   },
               .invites = InviteService(std::move(transport))},
          app(std::make_unique<ZEPAquarnApp>(made))
    {
        app->showScenes();
    }

    test::FakePermissionProbe probe;
    TriggerRecordingGate gate;
    AppServices made;
    std::unique_ptr<ZEPAquarnApp> app;
};

} // namespace

TEST(DepthLaunchRefreshTest, ALaunchWithACodeFetchesItsCountOnce)
{
    test::FakeDictationServices services{{.makeController = false}};
    services.settings.setValue("onboarded", true);
    services.settings.setValue("inviteCode", QStringLiteral("7K3M9Q"));
    auto transport = std::make_shared<test::FakeHttpClient>();
    transport->enqueue(test::FakeHttpClient::answer(200, R"({"code":"7K3M9Q","count":3})"));

    Launch launched(services, transport);
    ASSERT_TRUE(services.loop.runUntil([&] { return services.settings.integerValue("inviteVerifiedDownloads") == 3; }));
    EXPECT_EQ(launched.app->delegate().depth().unlocked(),
              (std::set<DepthTier>{DepthTier::shallows, DepthTier::twilight}));
    services.loop.runUntilIdle();
    EXPECT_EQ(transport->requestCount(), 1) << "once, with no timer after it";
}

TEST(DepthLaunchRefreshTest, ALaunchWithoutACodeSendsNothing)
{
    test::FakeDictationServices services{{.makeController = false}};
    services.settings.setValue("onboarded", true);
    auto transport = std::make_shared<test::FakeHttpClient>();
    Launch launched(services, transport);
    services.loop.runUntilIdle();
    EXPECT_EQ(transport->requestCount(), 0);
}

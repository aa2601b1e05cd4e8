// The update framework's windows are made when the framework first shows something, and every call
// reaches them as it was made.

#include "app/LazyUpdateUserDriver.h"
#include "support/ScriptedUpdateUserDriver.h"

#include <gtest/gtest.h>

using zq::LazyUpdateUserDriver;
using zq::test::ScriptedUpdateUserDriver;

namespace {

struct LazyRig {
    int made = 0;
    ScriptedUpdateUserDriver *driver = nullptr;
    LazyUpdateUserDriver lazy{[this] {
        ++made;
        auto scripted = std::make_unique<ScriptedUpdateUserDriver>();
        driver = scripted.get();
        return scripted;
    }};
};

} // namespace

TEST(LazyUpdateUserDriverTest, NothingIsMadeUntilSomethingShowsAndDismissingBeforeMakesNothing)
{
    LazyRig rig;
    rig.lazy.dismiss();
    EXPECT_EQ(rig.made, 0);
    EXPECT_EQ(rig.lazy.made(), nullptr);
}

TEST(LazyUpdateUserDriverTest, TheWindowsAreMadeOnceAndEveryCallReachesThemInOrder)
{
    const std::vector<std::pair<std::function<void(LazyUpdateUserDriver &)>, QString>> calls{
        {[](LazyUpdateUserDriver &d) { d.showUserInitiatedCheck({}); }, "checking"},
        {[](LazyUpdateUserDriver &d) { d.showUpdateNotFound(); }, "up-to-date"},
        {[](LazyUpdateUserDriver &d) { d.showUpdateFound({}, [](zq::platform::UpdateChoice) {}); }, "offer"},
        {[](LazyUpdateUserDriver &d) { d.showDownloadProgress(1, 10, {}); }, "download"},
        {[](LazyUpdateUserDriver &d) { d.showInstalling(); }, "installing"},
        {[](LazyUpdateUserDriver &d) { d.showError(QStringLiteral("failed")); }, "error"},
        {[](LazyUpdateUserDriver &d) { d.showInformation(QStringLiteral("saved")); }, "information"},
        {[](LazyUpdateUserDriver &d) { d.dismiss(); }, "dismiss"},
    };
    LazyRig rig;
    QStringList expected;
    for (const auto &[call, shown] : calls) {
        call(rig.lazy);
        expected << shown;
    }
    EXPECT_EQ(rig.made, 1);
    ASSERT_NE(rig.driver, nullptr);
    EXPECT_EQ(rig.lazy.made(), rig.driver);
    EXPECT_EQ(rig.driver->shown(), expected);
    EXPECT_EQ(rig.driver->messages(), (QStringList{"failed", "saved"}));
}

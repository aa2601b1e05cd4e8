#include "window/AppWindowModel.h"
#include "support/VirtualLoop.h"
#include "window/AppAppearance.h"

#include <QApplication>
#include <QStyle>

#include <gtest/gtest.h>

#include <memory>

using namespace std::chrono_literals;
using zq::AppWindowHandle;
using zq::AppWindowModel;
using zq::AppWindowSection;
using zq::test::VirtualLoop;

namespace {

struct WindowSystem {
    std::vector<AppWindowHandle> windows;
    int searches = 0;
    int activations = 0;
    QStringList raised;

    AppWindowModel::WindowList list()
    {
        return [this] {
            ++searches;
            return windows;
        };
    }
    AppWindowHandle window(const QString &identifier, const QString &title)
    {
        return {identifier, title, [this, identifier, title] { raised << identifier + QLatin1Char('|') + title; }};
    }
};

} // namespace

TEST(AppWindowModelTest, FindsTheMainWindowByIdentifierOrByTitle)
{
    VirtualLoop loop;
    WindowSystem system;
    system.windows = {system.window("onboarding", "Welcome"), system.window("zepaquarn-main", "Something else")};
    AppWindowModel model(loop, system.list(), [&] { ++system.activations; });
    model.showWindow(0);
    EXPECT_EQ(system.raised, QStringList{"zepaquarn-main|Something else"});
    EXPECT_EQ(system.activations, 1);

    system.raised.clear();
    system.windows = {system.window("", "ZEPA QUARN")};
    model.showWindow(0);
    EXPECT_EQ(system.raised, QStringList{"|ZEPA QUARN"});
}

TEST(AppWindowModelTest, RetriesFiveTimesFiftyMillisecondsApartThenGivesUpSilently)
{
    VirtualLoop loop;
    WindowSystem system;
    AppWindowModel model(loop, system.list(), [&] { ++system.activations; });
    model.showWindow(0);
    EXPECT_EQ(system.searches, 1);
    loop.advance(49ms);
    EXPECT_EQ(system.searches, 1);
    loop.advance(1ms);
    EXPECT_EQ(system.searches, 2);
    loop.advance(1s);
    EXPECT_EQ(system.searches, 6) << "six searches in all: the first and five retries";
    EXPECT_EQ(system.activations, 0);

    system.searches = 0;
    model.showWindow(5);
    loop.advance(1s);
    EXPECT_EQ(system.searches, 1) << "a call at attempt 5 searches once";
}

TEST(AppWindowModelTest, AWindowThatAppearsLaterIsRaisedByARetry)
{
    VirtualLoop loop;
    WindowSystem system;
    AppWindowModel model(loop, system.list(), [&] { ++system.activations; });
    model.showWindow(0);
    loop.advance(100ms);
    system.windows = {system.window("zepaquarn-main", "ZEPA QUARN")};
    loop.advance(50ms);
    EXPECT_EQ(system.raised.size(), 1);
    loop.advance(1s);
    EXPECT_EQ(system.raised.size(), 1) << "no retry after the window was found";
}

TEST(AppWindowModelTest, RetriesStopWhenTheModelIsGone)
{
    VirtualLoop loop;
    WindowSystem system;
    auto model = std::make_unique<AppWindowModel>(loop, system.list(), [] {});
    model->showWindow(0);
    model.reset();
    loop.advance(1s);
    EXPECT_EQ(system.searches, 1);
}

TEST(AppAppearanceTest, RawValuesAreCaseSensitiveAndUnknownTextFollowsTheSystem)
{
    EXPECT_EQ(zq::fromRawValue<zq::AppAppearance>(u"dark"), zq::AppAppearance::dark);
    EXPECT_EQ(zq::fromRawValue<zq::AppAppearance>(u"Dark"), std::nullopt);
    EXPECT_EQ(zq::appAppearanceOrSystem("Dark"), zq::AppAppearance::system);
    EXPECT_EQ(zq::appAppearanceOrSystem(""), zq::AppAppearance::system);
    EXPECT_EQ(zq::appAppearanceOrSystem("light"), zq::AppAppearance::light);
}

TEST(AppAppearanceTest, SystemAfterDarkReturnsToTheStylesOwnPalette)
{
    auto *app = qobject_cast<QApplication *>(QCoreApplication::instance());
    ASSERT_NE(app, nullptr);
    const QColor standardWindow = app->style()->standardPalette().color(QPalette::Window);
    zq::applyAppearance(*app, zq::AppAppearance::dark);
    EXPECT_LT(QApplication::palette().color(QPalette::Window).lightness(), 100);
    zq::applyAppearance(*app, zq::AppAppearance::light);
    EXPECT_GT(QApplication::palette().color(QPalette::Window).lightness(), 200);
    zq::applyAppearance(*app, zq::AppAppearance::system);
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), standardWindow);
}

// The update status line and its relative-time phrase.

#include "rewards/updates/UpdateState.h"

#include <gtest/gtest.h>

using zq::AppUpdateState;
using zq::relativeTimeText;

namespace {

const QDateTime kCheck(QDate(2026, 3, 2), QTime(9, 0), Qt::UTC);

QString phraseAfter(qint64 milliseconds)
{
    return relativeTimeText(kCheck, kCheck.addMSecs(milliseconds));
}

} // namespace

TEST(UpdateStateTest, RelativeTimeSwitchesUnitsAtTheirBoundariesAndNeverPassesDays)
{
    const std::vector<std::pair<qint64, QString>> cases{
        {59'900, "just now"},
        {60'000, "1 minute ago"},
        {119'000, "1 minute ago"},
        {120'000, "2 minutes ago"},
        {3'599'000, "59 minutes ago"},
        {3'600'000, "1 hour ago"},
        {7'199'000, "1 hour ago"},
        {7'200'000, "2 hours ago"},
        {86'399'000, "23 hours ago"},
        {86'400'000, "1 day ago"},
        {172'799'000, "1 day ago"},
        {172'800'000, "2 days ago"},
        {30LL * 86'400'000, "30 days ago"},
        {-3'600'000, "just now"},
        {-500, "just now"},
    };
    for (const auto &[ms, phrase] : cases)
        EXPECT_EQ(phraseAfter(ms), phrase) << ms << " ms";
}

TEST(UpdateStateTest, StatusLineForEveryCase)
{
    const QDateTime now = kCheck.addSecs(59);
    EXPECT_EQ(AppUpdateState::upToDate(kCheck).statusText(true, now), QStringLiteral("Up to date · checked just now."));
    EXPECT_EQ(AppUpdateState::upToDate(kCheck).statusText(false, kCheck.addSecs(60)),
              QStringLiteral("Up to date \u00B7 checked 1 minute ago."));
    EXPECT_EQ(AppUpdateState::available(" 1.3.0 <b>").statusText(true, now), "Version  1.3.0 <b> is ready to install.")
        << "the version goes in unchanged";
    EXPECT_EQ(AppUpdateState::failed().statusText(true, now), "Couldn't check for updates. Try again.");
    EXPECT_EQ(AppUpdateState::failed().statusText(false, now), "Couldn't check for updates. Try again.");
    EXPECT_EQ(AppUpdateState::idle().statusText(true, now), "Checks automatically once a day.");
    EXPECT_EQ(AppUpdateState::idle().statusText(false, now), "Automatic checks are off.");

    // Without the test-only feed that every test process gets, the line names the product's host.
    qunsetenv("ZQ_UPDATE_FEED_URL_FOR_TESTS");
    const QString checking = AppUpdateState::checking().statusText(false, now);
    EXPECT_EQ(checking, QStringLiteral("Checking ") + zq::updateServiceHost() + QStringLiteral("\u2026"));
    EXPECT_EQ(zq::updateServiceHost(), "zepaquarn.quorvane.io");
    EXPECT_EQ(AppUpdateState::checking().statusText(true, now, "127.0.0.1"), "Checking 127.0.0.1\u2026");
    EXPECT_FALSE(checking.contains("...")) << "one ellipsis character, not three full stops";
}

TEST(UpdateStateTest, EqualityLooksOnlyAtTheCaseAndItsOwnPayload)
{
    EXPECT_EQ(AppUpdateState::available("1.3.0"), AppUpdateState::available("1.3.0"));
    EXPECT_NE(AppUpdateState::available("1.3.0"), AppUpdateState::available("1.3.1"));
    EXPECT_EQ(AppUpdateState::upToDate(kCheck), AppUpdateState::upToDate(kCheck));
    EXPECT_NE(AppUpdateState::upToDate(kCheck), AppUpdateState::upToDate(kCheck.addMSecs(1)));
    EXPECT_NE(AppUpdateState::available(""), AppUpdateState::upToDate(QDateTime()));
    EXPECT_EQ(AppUpdateState::idle(), AppUpdateState::idle());
    EXPECT_NE(AppUpdateState::idle(), AppUpdateState::checking());
    EXPECT_NE(AppUpdateState::checking(), AppUpdateState::failed());
}

#include "support/VirtualLoop.h"
#include "runtime/Executor.h"
#include "runtime/QtMainLoop.h"
#include "runtime/SerialQueue.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using zq::test::VirtualLoop;

TEST(VirtualLoopTest, EqualTimesRunInPostingOrderAndTimesInOrder)
{
    VirtualLoop loop;
    std::vector<int> order;
    loop.postDelayed(2s, [&] { order.push_back(3); });
    loop.postDelayed(1s, [&] { order.push_back(1); });
    loop.postDelayed(1s, [&] { order.push_back(2); });
    loop.post([&] { order.push_back(0); });
    loop.advance(2s);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
}

TEST(VirtualLoopTest, ItemsRunAtTheirOwnTimeAndSeeIt)
{
    VirtualLoop loop;
    std::vector<zq::rt::Nanos> seen;
    loop.postDelayed(1800ms, [&] {
        seen.push_back(loop.now());
        loop.postDelayed(1005ms, [&] { seen.push_back(loop.now()); });
    });
    loop.advance(1790ms);
    EXPECT_TRUE(seen.empty());
    loop.advance(10ms);
    ASSERT_EQ(seen.size(), 1u) << "fires at exactly 1.8 s";
    loop.advance(5s);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], zq::rt::Nanos(1800ms));
    EXPECT_EQ(seen[1], zq::rt::Nanos(2805ms)) << "an item posted by an item counts from its own time";
    EXPECT_EQ(loop.now(), zq::rt::Nanos(6800ms));
}

TEST(VirtualLoopTest, CancelledItemsNeverRun)
{
    VirtualLoop loop;
    bool ran = false;
    auto item = loop.postDelayed(600ms, [&] { ran = true; });
    loop.advance(300ms);
    item.cancel();
    loop.advance(1s);
    EXPECT_FALSE(ran);
}

TEST(VirtualLoopTest, NoWorkRunsAfterItsOwnerIsGone)
{
    VirtualLoop loop;
    int runs = 0;
    auto owner = std::make_unique<zq::rt::Lifetime>();
    loop.postDelayed(1s, owner->guard([&] { ++runs; }));
    loop.post(owner->guard([&] { ++runs; }));
    loop.runUntilIdle();
    EXPECT_EQ(runs, 1);
    owner.reset();
    loop.advance(2s);
    EXPECT_EQ(runs, 1) << "the delayed item outlived its owner and must not run";
}

TEST(VirtualLoopTest, ClocksFollowTheLoopAndWallTimeCanJump)
{
    VirtualLoop loop;
    auto &clocks = loop.clocks();
    const auto continuous = clocks.continuousNow();
    const auto uptime = clocks.uptimeNow();
    const auto wall = clocks.wallNow();
    loop.advance(3s);
    EXPECT_EQ(clocks.continuousNow() - continuous, zq::rt::Nanos(3s));
    EXPECT_EQ(clocks.uptimeNow() - uptime, zq::rt::Nanos(3s));
    clocks.shiftWall(-1h);
    EXPECT_EQ(wall.msecsTo(clocks.wallNow()), 3000 - 3600 * 1000);
    EXPECT_EQ(clocks.continuousNow() - continuous, zq::rt::Nanos(3s)) << "a wall-clock change moves nothing else";
    clocks.addSleep(10min);
    EXPECT_EQ(clocks.uptimeNow() - uptime, zq::rt::Nanos(3s)) << "uptime stops while asleep";
}

TEST(SerialQueueTest, RunsItemsInOrderOnItsOwnThread)
{
    zq::rt::SerialQueue queue("io.quorvane.zepaquarn.test-queue");
    std::vector<int> order;
    std::thread::id ranOn;
    bool wasCurrent = false;
    for (int i = 0; i < 100; ++i)
        queue.post([&, i] {
            order.push_back(i);
            ranOn = std::this_thread::get_id();
            wasCurrent = queue.isCurrent();
        });
    queue.drain();
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(order[size_t(i)], i);
    EXPECT_NE(ranOn, std::this_thread::get_id());
    EXPECT_TRUE(wasCurrent);
    EXPECT_FALSE(queue.isCurrent());
}

TEST(QtMainLoopTest, PostsFromAnyThreadRunOnTheMainThreadInOrder)
{
    zq::rt::QtMainLoop loop;
    std::vector<int> order;
    QEventLoop events;
    std::thread([&] {
        for (int i = 0; i < 50; ++i)
            loop.post([&, i] { order.push_back(i); });
        loop.post([&] { events.quit(); });
    }).join();
    QTimer::singleShot(5000, &events, &QEventLoop::quit);
    events.exec();
    ASSERT_EQ(order.size(), 50u);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(order[size_t(i)], i);
}

TEST(QtMainLoopTest, DelayedItemsRespectOrderAndCancellation)
{
    zq::rt::QtMainLoop loop;
    std::vector<int> order;
    QEventLoop events;
    loop.postDelayed(20ms, [&] { order.push_back(1); });
    loop.postDelayed(20ms, [&] { order.push_back(2); });
    auto cancelled = loop.postDelayed(10ms, [&] { order.push_back(99); });
    cancelled.cancel();
    const auto start = loop.now();
    zq::rt::Nanos firedAt{0};
    loop.postDelayed(30ms, [&] {
        firedAt = loop.now() - start;
        events.quit();
    });
    QTimer::singleShot(5000, &events, &QEventLoop::quit);
    events.exec();
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_GE(firedAt, zq::rt::Nanos(30ms)) << "a delayed item never runs early";
}

TEST(ClocksTest, ReferenceSecondsRoundTripToTheMillisecondAndRejectImpossibleNumbers)
{
    const QDateTime when(QDate(2026, 3, 2), QTime(9, 0, 1, 500), Qt::UTC);
    const double seconds = zq::rt::secondsSinceReferenceDate(when);
    EXPECT_DOUBLE_EQ(seconds, 794134801.5);
    EXPECT_EQ(zq::rt::dateFromReferenceSeconds(seconds), when);
    // 0.0005 s below a millisecond boundary still reads back as that millisecond, not the one before.
    EXPECT_EQ(zq::rt::dateFromReferenceSeconds(794134801.4999), when);
    EXPECT_EQ(zq::rt::dateFromReferenceSeconds(std::nan("")), std::nullopt);
    EXPECT_EQ(zq::rt::dateFromReferenceSeconds(1e300), std::nullopt);
}

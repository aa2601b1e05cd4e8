#include "runtime/Task.h"
#include "runtime/AsyncChannel.h"
#include "support/VirtualLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

using namespace std::chrono_literals;
using zq::rt::CancellationError;
using zq::rt::Task;
using zq::test::VirtualLoop;

namespace {

Task<int> answerAfter(std::chrono::milliseconds delay, int value)
{
    co_await zq::rt::sleepFor(delay);
    co_return value;
}

Task<int> sumOfChildren()
{
    const int a = co_await answerAfter(100ms, 1);
    const int b = co_await answerAfter(200ms, 2);
    co_return a + b;
}

Task<void> throwsAfterSleep()
{
    co_await zq::rt::sleepFor(50ms);
    throw std::runtime_error("device vanished");
}

} // namespace

TEST(TaskTest, SpawnedTaskDoesNotRunInsideSpawn)
{
    VirtualLoop loop;
    bool ran = false;
    auto body = [&]() -> Task<void> {
        ran = true;
        co_return;
    };
    auto handle = zq::rt::spawn(loop, body());
    EXPECT_FALSE(ran) << "a task starts on a later turn of the loop";
    loop.runUntilIdle();
    EXPECT_TRUE(ran);
    EXPECT_TRUE(handle.isDone());
}

TEST(TaskTest, ChildrenRunInSequenceOnVirtualTime)
{
    VirtualLoop loop;
    auto handle = zq::rt::spawn(loop, sumOfChildren());
    loop.runUntilIdle();
    loop.advance(99ms);
    EXPECT_FALSE(handle.isDone());
    loop.advance(1ms);
    EXPECT_FALSE(handle.isDone()) << "the second child has only started";
    loop.advance(199ms);
    EXPECT_FALSE(handle.isDone());
    loop.advance(1ms);
    ASSERT_TRUE(handle.isDone()) << "done at exactly 300 ms";
    EXPECT_EQ(*handle.result(), 3);
    EXPECT_EQ(loop.now(), std::chrono::nanoseconds(300ms));
}

TEST(TaskTest, ExceptionsReachTheAwaitingParentAndTheHandle)
{
    VirtualLoop loop;
    std::string caught;
    auto parent = [&]() -> Task<void> {
        try {
            co_await throwsAfterSleep();
        } catch (const std::runtime_error &error) {
            caught = error.what();
        }
    };
    auto handle = zq::rt::spawn(loop, parent());
    auto failing = zq::rt::spawn(loop, throwsAfterSleep());
    loop.advance(50ms);
    EXPECT_EQ(caught, "device vanished");
    EXPECT_FALSE(handle.hasFailed());
    ASSERT_TRUE(failing.isDone());
    EXPECT_TRUE(failing.hasFailed());
    EXPECT_THROW(std::rethrow_exception(failing.exception()), std::runtime_error);
}

TEST(TaskTest, CancellingASleepingTaskWakesItAtOnceWithCancellation)
{
    VirtualLoop loop;
    bool reachedAfterSleep = false;
    bool sawCancellation = false;
    auto body = [&]() -> Task<void> {
        try {
            co_await zq::rt::sleepFor(135s);
            reachedAfterSleep = true;
        } catch (const CancellationError &) {
            sawCancellation = true;
        }
    };
    auto handle = zq::rt::spawn(loop, body());
    loop.advance(1s);
    handle.cancel();
    loop.runUntilIdle();
    EXPECT_TRUE(sawCancellation);
    EXPECT_FALSE(reachedAfterSleep);
    EXPECT_TRUE(handle.isDone());
    EXPECT_EQ(loop.pendingCount(), 0) << "the cancelled sleep's timer must not fire later";
    loop.advance(200s);
    EXPECT_FALSE(reachedAfterSleep);
}

TEST(TaskTest, ASleepWhoseOwnerIsGoneNeverResumesItsTask)
{
    VirtualLoop loop;
    int resumed = 0;
    auto owner = std::make_shared<int>(0);
    auto body = [&](std::weak_ptr<void> guard) -> Task<void> {
        try {
            auto pause = zq::rt::sleepFor(std::chrono::nanoseconds(10s), std::move(guard));
            co_await pause;
        } catch (const CancellationError &) {
        }
        ++resumed;
    };
    auto timed = zq::rt::spawn(loop, body(owner));
    auto cancelled = zq::rt::spawn(loop, body(owner));
    loop.advance(1s);
    owner.reset();
    cancelled.cancel();
    loop.advance(20s);
    EXPECT_EQ(resumed, 0) << "neither the timer nor the cancel may run a task whose owner is gone";
    EXPECT_FALSE(timed.isDone());

    auto living = std::make_shared<int>(0);
    auto kept = zq::rt::spawn(loop, body(living));
    loop.advance(10s);
    EXPECT_EQ(resumed, 1);
    EXPECT_TRUE(kept.isDone());
}

TEST(TaskTest, CancellationReachesChildrenAndLaterSleepsThrowAtOnce)
{
    VirtualLoop loop;
    int sleepsThatThrew = 0;
    auto child = [&]() -> Task<void> {
        try {
            co_await zq::rt::sleepFor(10s);
        } catch (const CancellationError &) {
            ++sleepsThatThrew;
        }
        try {
            co_await zq::rt::sleepFor(10s);
        } catch (const CancellationError &) {
            ++sleepsThatThrew;
        }
    };
    auto parent = [&]() -> Task<void> { co_await child(); };
    auto handle = zq::rt::spawn(loop, parent());
    loop.runUntilIdle();
    handle.cancel();
    loop.runUntilIdle();
    EXPECT_EQ(sleepsThatThrew, 2);
    EXPECT_TRUE(handle.isDone());
    EXPECT_EQ(loop.now(), std::chrono::nanoseconds(0)) << "no virtual time passes for a cancelled sleep";
}

TEST(TaskTest, AwaitsAWorkersResultBackOnTheLoopThread)
{
    VirtualLoop loop;
    std::thread::id workerThread;
    std::thread::id resumedOn;
    auto body = [&]() -> Task<int> {
        const int value = co_await zq::rt::runOnWorker([&](std::stop_token) {
            workerThread = std::this_thread::get_id();
            return 42;
        });
        resumedOn = std::this_thread::get_id();
        co_return value;
    };
    auto handle = zq::rt::spawn(loop, body());
    ASSERT_TRUE(loop.runUntil([&] { return handle.isDone(); }));
    EXPECT_EQ(*handle.result(), 42);
    EXPECT_NE(workerThread, std::this_thread::get_id());
    EXPECT_EQ(resumedOn, std::this_thread::get_id());
}

TEST(TaskTest, CancellingAWorkerAwaitResumesAtOnceAndStopsTheWorker)
{
    VirtualLoop loop;
    std::atomic<bool> workerSawStop{false};
    std::atomic<bool> workerStarted{false};
    bool cancelled = false;
    auto body = [&]() -> Task<void> {
        try {
            co_await zq::rt::runOnWorker([&](std::stop_token stop) {
                workerStarted = true;
                while (!stop.stop_requested())
                    std::this_thread::yield();
                workerSawStop = true;
            });
        } catch (const CancellationError &) {
            cancelled = true;
        }
    };
    auto handle = zq::rt::spawn(loop, body());
    loop.runUntilIdle();
    // The worker posts nothing while it runs, so wait for its flags directly (bounded).
    const auto waitFor = [](const std::atomic<bool> &flag) {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (!flag.load() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        return flag.load();
    };
    ASSERT_TRUE(waitFor(workerStarted));
    handle.cancel();
    ASSERT_TRUE(loop.runUntil([&] { return handle.isDone(); }));
    EXPECT_TRUE(cancelled);
    EXPECT_TRUE(waitFor(workerSawStop)) << "the worker must see the stop request";
}

TEST(TaskTest, ALoopThatEndsStopsItsWorkersAndWaitsForThem)
{
    std::atomic<bool> workerEnded{false};
    {
        VirtualLoop loop;
        auto work = [&](std::stop_token stop) {
            while (!stop.stop_requested())
                std::this_thread::yield();
            workerEnded = true;
        };
        auto body = [&]() -> Task<void> { co_await zq::rt::runOnWorker(work); };
        auto handle = zq::rt::spawn(loop, body());
        loop.runUntilIdle();
    }
    EXPECT_TRUE(workerEnded) << "the loop went while its worker still ran";
}

TEST(TaskTest, WorkerExceptionsArriveInTheTask)
{
    VirtualLoop loop;
    auto body = []() -> Task<int> {
        co_return co_await zq::rt::runOnWorker([](std::stop_token) -> int { throw std::runtime_error("no server"); });
    };
    auto handle = zq::rt::spawn(loop, body());
    ASSERT_TRUE(loop.runUntil([&] { return handle.isDone(); }));
    EXPECT_THROW(std::rethrow_exception(handle.exception()), std::runtime_error);
}

TEST(TaskTest, AnotherTaskCanAwaitAHandlesValue)
{
    VirtualLoop loop;
    auto producer = zq::rt::spawn(loop, answerAfter(500ms, 7));
    int seen = 0;
    auto consumer = [&]() -> Task<void> { seen = co_await producer.value(); };
    auto handle = zq::rt::spawn(loop, consumer());
    loop.advance(499ms);
    EXPECT_EQ(seen, 0);
    loop.advance(1ms);
    loop.runUntilIdle();
    EXPECT_EQ(seen, 7);
    EXPECT_TRUE(handle.isDone());
}

TEST(TaskTest, CheckCancellationThrowsOnlyOnceCancelled)
{
    VirtualLoop loop;
    auto producer = zq::rt::spawn(loop, answerAfter(1s, 1));
    int checkpoints = 0;
    bool sawCancelled = false;
    auto body = [&]() -> Task<void> {
        co_await zq::rt::checkCancellation();
        ++checkpoints;
        co_await producer.value(); // awaiting another task's value is not interrupted
        sawCancelled = co_await zq::rt::isCancelled();
        co_await zq::rt::checkCancellation();
        ++checkpoints;
    };
    auto handle = zq::rt::spawn(loop, body());
    loop.runUntilIdle();
    handle.cancel();
    loop.advance(1s);
    loop.runUntilIdle();
    EXPECT_EQ(checkpoints, 1);
    EXPECT_TRUE(sawCancelled);
    EXPECT_TRUE(handle.hasFailed());
}

#include "audio/BoundedHALExecutor.h"
#include "audio/DeferredAudioObjectReleasePool.h"
#include "audio/StartFailurePhase.h"
#include "support/FakeAudioHardware.h"
#include "support/Polling.h"
#include "support/VirtualLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

using namespace std::chrono_literals;
using zq::BoundedHALExecutor;
using zq::HALOperationError;
using zq::rt::Task;
using zq::test::FakeGate;
using zq::test::VirtualLoop;

namespace {

// What a call through the executor gave its caller.
struct Outcome {
    std::optional<int> value;
    bool timedOut = false;
    std::string error;
    bool done = false;
};

Task<void> call(BoundedHALExecutor &executor, double timeout, std::function<int()> operation, Outcome &out)
{
    try {
        out.value = co_await executor.run(timeout, std::move(operation));
    } catch (const HALOperationError &) {
        out.timedOut = true;
    } catch (const std::exception &error) {
        out.error = error.what();
    }
    out.done = true;
}

// Sets a flag when the last copy is destroyed: stands for a capture the late call opened.
struct HeldMicrophone {
    explicit HeldMicrophone(std::shared_ptr<std::atomic<bool>> released) : released(std::move(released)) {}
    HeldMicrophone(HeldMicrophone &&other) noexcept = default;
    ~HeldMicrophone()
    {
        if (released)
            released->store(true);
    }
    std::shared_ptr<std::atomic<bool>> released;
};

class BoundedHALExecutorTest : public ::testing::Test {
protected:
    VirtualLoop loop;
    BoundedHALExecutor executor{QStringLiteral("io.quorvane.zepaquarn.hal"), &loop};

    bool runUntil(const std::function<bool()> &predicate) { return loop.runUntil(predicate, 5000ms); }
};

// For work that never posts to the loop: polls in real time.
bool eventually(const std::function<bool()> &predicate)
{
    return zq::test::waitFor(predicate, zq::test::kLoadedMachineTimeout, 10ms);
}

} // namespace

TEST_F(BoundedHALExecutorTest, QuickOperationsReturnTheirValueOrErrorAndLeaveTheQueueAlone)
{
    EXPECT_EQ(executor.currentQueueLabel(), QStringLiteral("io.quorvane.zepaquarn.hal.0"));
    Outcome quick, failing;
    zq::rt::spawn(loop, call(
                            executor, 6.0, [] { return 42; }, quick));
    zq::rt::spawn(loop, call(
                            executor, 6.0, []() -> int { throw std::runtime_error("device busy"); }, failing));
    ASSERT_TRUE(runUntil([&] { return quick.done && failing.done; }));
    EXPECT_EQ(quick.value, 42);
    EXPECT_EQ(failing.error, "device busy") << "the operation's own error reaches the caller, not a timeout";
    EXPECT_FALSE(failing.timedOut);

    loop.advance(10s);
    EXPECT_EQ(executor.generation(), 0u) << "a deadline after completion neither abandons nor throws";
    EXPECT_EQ(loop.pendingCount(), 0);
}

TEST_F(BoundedHALExecutorTest, BlockedOperationTimesOutAndTheNextCallRunsOnTheReplacementQueue)
{
    auto gate = std::make_shared<FakeGate>();
    auto released = std::make_shared<std::atomic<bool>>(false);
    std::atomic<bool> lateHandlerRan = false;
    bool blockedDone = false, blockedTimedOut = false;
    auto blocked = [&]() -> Task<void> {
        try {
            // Named, not a temporary inside co_await: g++ 12 would release its captures twice.
            auto operation = [gate, released] {
                gate->pass();
                return HeldMicrophone(released);
            };
            auto onLate = [&](HeldMicrophone) { lateHandlerRan = true; };
            co_await executor.run(6.0, std::move(operation), std::move(onLate));
        } catch (const HALOperationError &error) {
            blockedTimedOut = error == HALOperationError::timedOut();
        }
        blockedDone = true;
    };
    zq::rt::spawn(loop, blocked());
    loop.runUntilIdle();
    ASSERT_TRUE(gate->waitUntilReached());

    loop.advance(5999ms);
    EXPECT_FALSE(blockedDone) << "the deadline is 6.0 s, not earlier";
    loop.advance(1ms);
    loop.runUntilIdle();
    EXPECT_TRUE(blockedDone);
    EXPECT_TRUE(blockedTimedOut);
    EXPECT_EQ(executor.generation(), 1u);
    EXPECT_EQ(executor.currentQueueLabel(), QStringLiteral("io.quorvane.zepaquarn.hal.1"));

    Outcome next;
    zq::rt::spawn(loop, call(
                            executor, 6.0, [] { return 7; }, next));
    ASSERT_TRUE(runUntil([&] { return next.done; })) << "the wedged queue does not hold up later calls";
    EXPECT_EQ(next.value, 7);

    EXPECT_FALSE(released->load());
    gate->open();
    EXPECT_TRUE(eventually([&] { return released->load(); }));
    EXPECT_TRUE(lateHandlerRan) << "the late result goes to the handler that can close it";
    EXPECT_TRUE(released->load()) << "what the late call opened is released, not leaked";
}

TEST_F(BoundedHALExecutorTest, TwoTimeoutsOnOneQueueReplaceItOnce)
{
    auto gate = std::make_shared<FakeGate>();
    Outcome first, second;
    zq::rt::spawn(loop, call(
                            executor, 6.0,
                            [gate] {
                                gate->pass();
                                return 1;
                            },
                            first));
    zq::rt::spawn(loop, call(
                            executor, 6.0, [] { return 2; }, second));
    loop.runUntilIdle();
    ASSERT_TRUE(gate->waitUntilReached());
    loop.advance(6s);
    loop.runUntilIdle();
    EXPECT_TRUE(first.timedOut);
    EXPECT_TRUE(second.timedOut) << "queued behind the hung call, it misses its deadline too";
    EXPECT_EQ(executor.generation(), 1u);
    gate->open();
}

TEST_F(BoundedHALExecutorTest, NegativeTimeoutFiresAtOnceAndEnqueueRunsInOrder)
{
    auto gate = std::make_shared<FakeGate>();
    executor.enqueue([gate] { gate->pass(); });
    ASSERT_TRUE(gate->waitUntilReached());
    Outcome out;
    zq::rt::spawn(loop, call(
                            executor, -1, [] { return 1; }, out));
    loop.runUntilIdle();
    loop.runUntilIdle();
    EXPECT_TRUE(out.timedOut) << "a negative timeout counts as 0";

    std::vector<int> order;
    std::mutex mutex;
    std::atomic<int> count = 0;
    for (int i = 0; i < 3; ++i) {
        executor.enqueue([&, i] {
            std::lock_guard lock(mutex);
            order.push_back(i);
            ++count;
        });
    }
    ASSERT_TRUE(eventually([&] { return count == 3; }));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    gate->open();
}

TEST_F(BoundedHALExecutorTest, TimeoutReachesTheCallerAndTheExecutorsEndWaitsForTheStuckCall)
{
    auto gate = std::make_shared<FakeGate>();
    std::atomic<bool> done = false;
    std::exception_ptr error;
    auto shortLived = std::make_unique<BoundedHALExecutor>(QStringLiteral("test.hal"), &loop);
    {
        shortLived->submit(
            1.0,
            [gate] {
                gate->pass();
                return 1;
            },
            [&](std::optional<int>, std::exception_ptr e) {
                error = e;
                done = true;
            });
        ASSERT_TRUE(gate->waitUntilReached());
    }
    loop.advance(1s);
    EXPECT_TRUE(done);
    EXPECT_TRUE(error);
    // Its end waits for the call that holds its abandoned queue.
    std::atomic<bool> gone = false;
    std::thread going([&] {
        shortLived.reset();
        gone = true;
    });
    EXPECT_FALSE(gone);
    gate->open();
    going.join();
    EXPECT_TRUE(gone);
}

TEST(DeferredAudioObjectReleasePoolTest, KeepsObjectsTenSecondsAndReleasesOnItsQueue)
{
    VirtualLoop loop;
    zq::DeferredAudioObjectReleasePool pool(loop);
    auto engine = std::make_shared<int>(1);
    std::weak_ptr<int> watch = engine;
    pool.retire(engine);
    pool.retire(engine);
    engine.reset();
    EXPECT_EQ(pool.retainedCount(), 2u) << "retiring twice keeps two references";
    loop.advance(9999ms);
    EXPECT_FALSE(watch.expired());
    loop.advance(1ms);
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(pool.retainedCount(), 0u);
}

TEST(DeferredAudioObjectReleasePoolTest, SharedInstancesCarryTheirLabels)
{
    EXPECT_EQ(zq::sharedHALExecutor().label(), QStringLiteral("io.quorvane.zepaquarn.hal"));
    EXPECT_EQ(zq::sharedAudioReleasePool().delay(), std::chrono::seconds(10));
    EXPECT_EQ(zq::rawValue(zq::StartFailurePhase::halTimeout), QStringLiteral("hal_timeout"));
    EXPECT_EQ(zq::fromRawValue<zq::StartFailurePhase>(u"resolve_failed"), zq::StartFailurePhase::resolveFailed);
    EXPECT_EQ(HALOperationError::errorDescription(), QStringLiteral("The audio server did not respond in time"));
}

#include "runtime/AsyncChannel.h"
#include "support/VirtualLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using zq::rt::AsyncChannel;
using zq::rt::Task;
using zq::test::VirtualLoop;

namespace {

struct Item {
    int producer;
    int sequence;
};

Task<std::vector<Item>> drain(AsyncChannel<Item> channel)
{
    std::vector<Item> items;
    while (auto item = co_await channel.next())
        items.push_back(*item);
    co_return items;
}

} // namespace

TEST(AsyncChannelTest, FourThreadsFeedOneConsumerAndEachProducersOrderIsKept)
{
    VirtualLoop loop;
    AsyncChannel<Item> channel;
    auto consumer = zq::rt::spawn(loop, drain(channel));
    constexpr int perProducer = 2000;
    std::vector<std::thread> producers;
    for (int p = 0; p < 4; ++p) {
        producers.emplace_back([channel, p] {
            for (int i = 0; i < perProducer; ++i)
                channel.send(Item{p, i});
        });
    }
    // Consume while producing: the consumer keeps waking up on the loop.
    std::thread finisher([&] {
        for (auto &t : producers)
            t.join();
        channel.finish();
    });
    ASSERT_TRUE(loop.runUntil([&] { return consumer.isDone(); }));
    finisher.join();
    const auto &items = *consumer.result();
    ASSERT_EQ(items.size(), size_t(4 * perProducer));
    std::vector<int> next(4, 0);
    for (const auto &item : items) {
        ASSERT_EQ(item.sequence, next[item.producer]) << "producer " << item.producer << " out of order";
        ++next[item.producer];
    }
}

TEST(AsyncChannelTest, ValuesSentBeforeFinishAreStillDelivered)
{
    VirtualLoop loop;
    AsyncChannel<Item> channel;
    channel.send({0, 0});
    channel.send({0, 1});
    channel.finish();
    EXPECT_FALSE(channel.send({0, 2})) << "a finished channel takes nothing more";
    auto consumer = zq::rt::spawn(loop, drain(channel));
    loop.runUntilIdle();
    ASSERT_TRUE(consumer.isDone());
    EXPECT_EQ(consumer.result()->size(), 2u);
}

TEST(AsyncChannelTest, FailureIsRethrownAfterTheBufferedValues)
{
    VirtualLoop loop;
    AsyncChannel<int> channel;
    std::vector<int> seen;
    std::string error;
    auto body = [&]() -> Task<void> {
        try {
            while (auto v = co_await channel.next())
                seen.push_back(*v);
        } catch (const std::runtime_error &e) {
            error = e.what();
        }
    };
    auto handle = zq::rt::spawn(loop, body());
    loop.runUntilIdle();
    channel.send(1);
    channel.fail(std::make_exception_ptr(std::runtime_error("network lost")));
    loop.runUntilIdle();
    EXPECT_EQ(seen, std::vector<int>{1});
    EXPECT_EQ(error, "network lost");
}

TEST(AsyncChannelTest, TerminationHookFiresExactlyOnce)
{
    int fired = 0;
    {
        AsyncChannel<int> channel;
        channel.setOnTermination([&] { ++fired; });
        channel.finish();
        channel.finish();
        channel.cancel();
        channel.fail(std::make_exception_ptr(std::runtime_error("late")));
    }
    EXPECT_EQ(fired, 1);

    fired = 0;
    {
        AsyncChannel<int> channel;
        channel.setOnTermination([&] { ++fired; });
    }
    EXPECT_EQ(fired, 1) << "dropping the last handle terminates the channel";
}

TEST(AsyncChannelTest, CancellingTheConsumerTaskStopsTheChannelAndFiresTheHook)
{
    VirtualLoop loop;
    AsyncChannel<int> channel;
    int fired = 0;
    channel.setOnTermination([&] { ++fired; });
    bool cancelled = false;
    auto body = [&]() -> Task<void> {
        try {
            while (co_await channel.next()) {
            }
        } catch (const zq::rt::CancellationError &) {
            cancelled = true;
        }
    };
    auto handle = zq::rt::spawn(loop, body());
    loop.runUntilIdle();
    handle.cancel();
    // At once, not when the consumer next runs: at quit the loop may never run again.
    EXPECT_EQ(fired, 1);
    EXPECT_FALSE(channel.send(5)) << "producers learn that nobody listens";
    loop.runUntilIdle();
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(fired, 1);
}

TEST(AsyncChannelTest, ConsumerWaitingOnAnEmptyChannelWakesOnTheLoop)
{
    VirtualLoop loop;
    AsyncChannel<int> channel;
    std::optional<int> got;
    auto body = [&]() -> Task<void> { got = co_await channel.next(); };
    auto handle = zq::rt::spawn(loop, body());
    loop.runUntilIdle();
    EXPECT_FALSE(got.has_value());
    std::thread([channel] { channel.send(9); }).join();
    EXPECT_FALSE(got.has_value()) << "the consumer resumes only when the loop runs";
    loop.runUntilIdle();
    EXPECT_EQ(got, 9);
}

TEST(AsyncChannelTest, CancellingFromOutsideWakesTheWaitingConsumerWithTheEnd)
{
    VirtualLoop loop;
    AsyncChannel<int> channel;
    bool ended = false;
    auto body = [&]() -> Task<void> {
        const auto value = co_await channel.next();
        ended = !value.has_value();
    };
    auto handle = zq::rt::spawn(loop, body());
    loop.runUntilIdle();
    channel.cancel();
    loop.runUntilIdle();
    EXPECT_TRUE(ended) << "a consumer must not wait forever on a cancelled channel";
    EXPECT_TRUE(handle.isDone());
}

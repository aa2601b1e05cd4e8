// Costs of the audio layer's hot helpers: a blocking call through the HAL executor (against a bare
// hop to a serial queue and back) and a meter's read of the level history.
#include "audio/BoundedHALExecutor.h"
#include "audio/LevelHistory.h"
#include "runtime/SerialQueue.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace {

using namespace std::chrono_literals;

// One caller waiting for one answer from another thread.
class Latch {
public:
    void open()
    {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_changed.notify_one();
    }
    void wait()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_open; });
        m_open = false;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = false;
};

void BM_SerialQueueRoundTrip(benchmark::State &state)
{
    zq::rt::SerialQueue queue(QStringLiteral("bench.queue"));
    Latch latch;
    int value = 0;
    for (auto _ : state) {
        queue.post([&] {
            value = 42;
            latch.open();
        });
        latch.wait();
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_SerialQueueRoundTrip);

void BM_HALExecutorCall(benchmark::State &state)
{
    zq::rt::SerialQueue timeouts(QStringLiteral("bench.timeouts"));
    zq::BoundedHALExecutor executor(QStringLiteral("bench.hal"), &timeouts);
    Latch latch;
    int value = 0;
    for (auto _ : state) {
        executor.submit(
            zq::kAudioServerDeadlineSeconds, [] { return 42; },
            [&](std::optional<int> result, std::exception_ptr) {
                value = result.value_or(0);
                latch.open();
            });
        latch.wait();
        benchmark::DoNotOptimize(value);
    }
    state.counters["generation"] = double(executor.generation());
}
BENCHMARK(BM_HALExecutorCall);

zq::LevelHistory fullHistory()
{
    zq::LevelHistory history;
    for (int i = 0; i < 40; ++i)
        history.append(1000s + 21ms * i, (i % 7) / 7.0);
    return history;
}

void BM_LevelHistoryRead(benchmark::State &state)
{
    const zq::LevelHistory history = fullHistory();
    zq::rt::Nanos now = 1000500ms;
    for (auto _ : state) {
        benchmark::DoNotOptimize(history.level(now, 50ms));
        now += 100us;
        if (now > 1000900ms)
            now = 1000500ms;
    }
}
BENCHMARK(BM_LevelHistoryRead);

// What a meter does per frame: take a copy of the engine's history, then read it.
void BM_LevelHistoryCopyAndRead(benchmark::State &state)
{
    const zq::LevelHistory history = fullHistory();
    for (auto _ : state) {
        zq::LevelHistory copy = history;
        benchmark::DoNotOptimize(copy);
        benchmark::DoNotOptimize(copy.level(1000700ms, 50ms));
    }
}
BENCHMARK(BM_LevelHistoryCopyAndRead);

} // namespace

BENCHMARK_MAIN();

#pragma once

#include "runtime/Clocks.h"
#include "runtime/Executor.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace zq::test {

class VirtualLoop;

// Clocks that move only when their loop advances. The wall clock can be made to jump on its own.
class VirtualClocks final : public rt::Clocks {
public:
    explicit VirtualClocks(const VirtualLoop &loop) : m_loop(loop) {}

    rt::Nanos continuousNow() const override;
    rt::Nanos uptimeNow() const override;
    QDateTime wallNow() const override;

    // Simulates a machine sleep: the continuous clock runs on, uptime does not.
    void addSleep(rt::Nanos slept) { m_sleepOffset += slept; }
    // Simulates the user or NTP setting the wall clock.
    void shiftWall(rt::Nanos shift) { m_wallShift += shift; }
    void setWallStart(const QDateTime &start) { m_wallStart = start; }

private:
    const VirtualLoop &m_loop;
    rt::Nanos m_sleepOffset{0};
    rt::Nanos m_wallShift{0};
    QDateTime m_wallStart = QDateTime(QDate(2026, 3, 2), QTime(9, 0), Qt::UTC);
};

// A main loop on virtual time for tests. Nothing runs until the test drives it:
// advance(dt) runs the items due within dt in time order (equal times in posting order), moving
// the clock to each item's time as it runs it; runUntilIdle() runs what is due now. Posts from
// other threads are accepted at any time; runUntil() waits for them, bounded by a real timeout.
class VirtualLoop final : public rt::MainLoop {
public:
    VirtualLoop();
    ~VirtualLoop() override;

    void post(Function fn) override;
    rt::WorkItem postDelayed(rt::Nanos delay, Function fn) override;
    rt::Nanos now() const override;
    bool isCurrent() const override;

    // Returns the number of items run.
    int runUntilIdle();
    int advance(rt::Nanos dt);
    template <typename Rep, typename Period>
    int advance(std::chrono::duration<Rep, Period> dt)
    {
        return advance(std::chrono::duration_cast<rt::Nanos>(dt));
    }
    // Runs due items, waiting for posts from other threads, until the predicate holds (checked after
    // every post and every few milliseconds). Virtual time does not move. Returns false when the
    // real timeout passes first.
    bool runUntil(const std::function<bool()> &predicate,
                  std::chrono::milliseconds realTimeout = std::chrono::milliseconds(10000));
    // Number of items still to run (due or not); cancelled items do not count.
    int pendingCount() const;

    VirtualClocks &clocks() { return m_clocks; }

private:
    bool runOneDueBy(rt::Nanos limit);

    mutable std::mutex m_mutex;
    std::condition_variable m_posted;
    std::map<std::pair<rt::Nanos, quint64>, std::pair<rt::WorkItem, Function>> m_items;
    quint64 m_sequence = 0;
    rt::Nanos m_now{0};
    std::thread::id m_thread;
    VirtualClocks m_clocks{*this};
};

} // namespace zq::test

#pragma once

#include "audio/BoundedHALExecutor.h"
#include "audio/CaptureCore.h"
#include "audio/DeferredAudioObjectReleasePool.h"
#include "runtime/Clocks.h"
#include "support/FakeGate.h"
#include "support/VirtualLoop.h"

#include <QStringList>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace zq::test {

// A setup as a healthy start reports it: mono float at 48 kHz on a built-in device.
CaptureCoreSetup fakeCaptureSetup(std::uint32_t device = 1, const QString &name = QStringLiteral("Fake Mic"));

// What one fake core's start() does.
struct FakeCaptureScript {
    CaptureCoreSetup setup = fakeCaptureSetup();
    // Thrown by start() instead of returning the setup.
    std::exception_ptr error;
    // start() waits here first, when set.
    std::shared_ptr<FakeGate> hold;
};

// A scriptable capture core for the audio engine's tests. Thread-safe: start() may run on the HAL
// executor's queue while the test delivers buffers or signals recovery from its own thread.
// Buffers and recovery signals run the core's callbacks on the calling thread, and only while the
// core is running (a real core removes its listeners and stops its callback on stop()).
class FakeCaptureCore final : public CaptureCore {
public:
    using Script = FakeCaptureScript;

    explicit FakeCaptureCore(Script script = {}, CaptureCoreKind kind = CaptureCoreKind::auhal);
    ~FakeCaptureCore() override;

    // CaptureCore
    CaptureCoreSetup start(const QString &prefUID, std::optional<std::uint32_t> resolved, CaptureTapCallback tapBlock,
                           CaptureRecoveryCallback onRecoveryNeeded) override;
    CaptureRouteInspection inspectRoute(bool inspectAggregate) override;
    void stop() override;
    std::optional<platform::AudioFormat> format() const override;

    // Test side.
    CaptureCoreKind kind() const { return m_kind; }
    bool isRunning() const;
    int startCount() const;
    int stopCount() const;
    int inspectCount() const;
    QString lastPrefUID() const;
    std::optional<std::uint32_t> lastResolved() const;
    std::optional<bool> lastInspectAggregate() const;
    // What inspectRoute() reports while running; by default the setup's bound device.
    void setRoute(CaptureRouteInspection route);
    // One buffer of `frames` frames of `value` in every channel to the tap. False when not running.
    bool deliver(std::uint32_t frames, float value = 0.1f);
    // The same through the tap of the last start even after stop(): a real core's audio callback
    // can still be in flight when its session is released. False before the first start.
    bool deliverLate(std::uint32_t frames, float value = 0.1f);
    // Runs onRecoveryNeeded as a listener would. False when not running.
    bool signalRecovery();

private:
    bool deliverThroughTap(std::uint32_t frames, float value, bool onlyWhileRunning);

    mutable std::mutex m_mutex;
    Script m_script;
    const CaptureCoreKind m_kind;
    bool m_running = false;
    int m_starts = 0;
    int m_stops = 0;
    int m_inspections = 0;
    QString m_prefUID;
    std::optional<std::uint32_t> m_resolved;
    std::optional<bool> m_inspectAggregate;
    std::optional<CaptureRouteInspection> m_route;
    CaptureTapCallback m_tap;
    CaptureRecoveryCallback m_recovery;
    std::int64_t m_sampleTime = 0;
};

// Makes fake cores for the engine: each core takes the next queued script, or the default one.
// Keeps every core it made so the test can drive them.
class FakeCaptureCoreFactory {
public:
    void enqueue(FakeCaptureCore::Script script);
    void setDefaultScript(FakeCaptureCore::Script script);

    std::shared_ptr<CaptureCore> make(CaptureCoreKind kind);

    std::vector<std::shared_ptr<FakeCaptureCore>> cores() const;
    // The last core made; null before the first.
    std::shared_ptr<FakeCaptureCore> last() const;
    int madeCount() const;

private:
    mutable std::mutex m_mutex;
    std::deque<FakeCaptureCore::Script> m_queued;
    FakeCaptureCore::Script m_default;
    std::vector<std::shared_ptr<FakeCaptureCore>> m_cores;
};

// Clocks that move only when a core "sleeps", so polls and reads never wait in real time.
class SteppingClocks final : public rt::Clocks {
public:
    rt::Nanos continuousNow() const override { return rt::Nanos(m_now.load()); }
    rt::Nanos uptimeNow() const override { return rt::Nanos(m_now.load()); }
    QDateTime wallNow() const override;
    void advance(rt::Nanos by) { m_now += by.count(); }

private:
    std::atomic<std::int64_t> m_now{0};
};

// What the real cores run on in unit tests, over any audio hardware: a private HAL executor, a
// virtual-time disposal queue and release pool (advance() runs the 10 s releases), and a sleep
// that only moves the stepping clocks and calls `onSleep` (numbered from 1). Make it on the test's
// thread; drop every core before it.
class CaptureCoreTestServices {
public:
    explicit CaptureCoreTestServices(platform::AudioHardware &hardware);
    ~CaptureCoreTestServices();

    CaptureCoreServices services();
    // The same for a real server: the caller's real `clocks` and real sleeps, so readiness waits
    // run against the server.
    CaptureCoreServices realTimeServices(rt::Clocks &clocks);
    // Waits (real time) until everything queued on the executor so far has run.
    void drainExecutor();
    // Lets the stopped units finish on the executor and the pool release them; call it while the
    // server and the hardware still exist.
    void releaseStopped();
    int sleepCount() const { return m_sleeps.load(); }

    platform::AudioHardware &hardware;
    BoundedHALExecutor executor{QStringLiteral("io.quorvane.zepaquarn.test-hal")};
    VirtualLoop disposal;
    DeferredAudioObjectReleasePool releasePool{disposal};
    SteppingClocks clocks;
    std::function<void(int)> onSleep;

private:
    std::atomic<int> m_sleeps{0};
};

// Collects the audio log lines while it lives (from any thread) and can run an action when a line
// starting with a given text is logged, on the logging thread.
class AudioLogCapture {
public:
    AudioLogCapture();
    ~AudioLogCapture();

    QStringList lines() const;
    bool contains(const QString &fragment) const;
    void onLine(const QString &prefix, std::function<void()> action);

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message);
    mutable std::mutex m_mutex;
    QStringList m_lines;
    QString m_prefix;
    std::function<void()> m_action;
    QtMessageHandler m_previous = nullptr;
};

} // namespace zq::test

#pragma once

#include "runtime/Result.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

struct pa_context;
struct pa_operation;
struct pa_threaded_mainloop;

namespace zq::platform {

// One client connection to the sound server (PulseAudio, or PipeWire through pipewire-pulse):
// a threaded main loop with its own thread and a context on it.
//
// Every pa_* call on context() must be made with the loop locked (Lock), from any thread but the
// loop's own. Callbacks given to libpulse run on the loop's thread with the loop locked; they must
// return quickly and must never call await() or take a Lock (it would deadlock).
//
// connect() is blocking and is called once. After a failure (server gone, connection refused)
// the connection stays failed: make a new one to reconnect.
class PulseConnection {
public:
    // `serverAddress` empty: the server libpulse finds itself (PULSE_SERVER, the user's session).
    explicit PulseConnection(QString applicationName, QString serverAddress = {});
    ~PulseConnection();
    PulseConnection(const PulseConnection &) = delete;
    PulseConnection &operator=(const PulseConnection &) = delete;

    // Starts the loop thread, connects and waits until the context is ready or failed.
    // Returns an error with the server's reason ("Connection refused", "Timeout") otherwise.
    rt::Result<void> connect(std::chrono::milliseconds timeout);

    // Ready now; false before connect() and after the connection failed or was closed. Takes no
    // lock: readers of kept state ask it often, also while the loop thread delivers audio.
    bool isReady() const { return m_ready.load(std::memory_order_acquire); }
    // The context's last error as text ("No such entity", "Entity killed"), empty when none.
    QString errorText() const;

    pa_threaded_mainloop *mainloop() const { return m_mainloop; }
    pa_context *context() const { return m_context; }
    // Whether the calling thread is the loop's own (where libpulse callbacks run).
    bool isLoopThread() const;

    // Holds the loop lock for its lifetime.
    class Lock {
    public:
        explicit Lock(const PulseConnection &connection);
        ~Lock();
        Lock(const Lock &) = delete;
        Lock &operator=(const Lock &) = delete;

    private:
        pa_threaded_mainloop *m_mainloop;
    };

    // Waits for an operation that the caller started under a Lock (released before calling this)
    // and takes ownership of it. Returns true when the operation ran to its end; false when it was
    // null, was cancelled (the connection failed) or did not finish within `timeout`, in which
    // case it is cancelled so that none of its callbacks runs afterwards. Either way, once this
    // returns no callback of the operation runs any more, so callbacks may point at the caller's
    // stack. Never call it on the loop's thread.
    bool await(pa_operation *operation, std::chrono::milliseconds timeout) const;

    // Called on the loop's thread for every subscription event (facility | type, object index).
    // Set it before connect(); subscribe with pa_context_subscribe under a Lock.
    using SubscriptionHandler = std::function<void(std::uint32_t eventType, std::uint32_t index)>;
    void setSubscriptionHandler(SubscriptionHandler handler);
    // Called on the loop's thread once when a ready connection fails (e.g. the server exits).
    void setFailureHandler(std::function<void()> handler);

private:
    static void contextStateChanged(pa_context *context, void *userdata);
    static void subscriptionEvent(pa_context *context, std::uint32_t eventType, std::uint32_t index, void *userdata);

    const QString m_applicationName;
    const QString m_serverAddress;
    pa_threaded_mainloop *m_mainloop = nullptr;
    pa_context *m_context = nullptr;
    bool m_loopRunning = false;
    bool m_failureReported = false;
    // The context's state is READY, as its state callback last saw it.
    std::atomic<bool> m_ready = false;
    SubscriptionHandler m_subscriptionHandler;
    std::function<void()> m_failureHandler;
};

} // namespace zq::platform

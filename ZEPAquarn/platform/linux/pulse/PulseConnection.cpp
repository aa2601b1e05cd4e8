#include "platform/linux/pulse/PulseConnection.h"

#include "runtime/Log.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/operation.h>
#include <pulse/subscribe.h>
#include <pulse/thread-mainloop.h>

#include <QByteArray>

#include <condition_variable>

namespace zq::platform {

namespace {

// Wakes a thread that waits outside the loop lock. Lives on the waiter's stack: the loop thread
// touches it only while the waiter cannot leave (it must take the loop lock first).
struct Waiter {
    std::mutex mutex;
    std::condition_variable wake;
    bool finished = false;

    void finish()
    {
        std::lock_guard lock(mutex);
        finished = true;
        wake.notify_all();
    }
    bool waitFor(std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(mutex);
        return wake.wait_for(lock, timeout, [this] { return finished; });
    }
};

struct ConnectWaiter : Waiter {
    pa_context_state_t state = PA_CONTEXT_UNCONNECTED;
};

void operationStateChanged(pa_operation *operation, void *userdata)
{
    if (pa_operation_get_state(operation) != PA_OPERATION_RUNNING)
        static_cast<Waiter *>(userdata)->finish();
}

} // namespace

PulseConnection::PulseConnection(QString applicationName, QString serverAddress)
    : m_applicationName(std::move(applicationName)), m_serverAddress(std::move(serverAddress))
{}

PulseConnection::~PulseConnection()
{
    if (m_mainloop) {
        pa_threaded_mainloop_lock(m_mainloop);
        if (m_context) {
            pa_context_set_state_callback(m_context, nullptr, nullptr);
            pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
            pa_context_disconnect(m_context);
            pa_context_unref(m_context);
            m_context = nullptr;
        }
        pa_threaded_mainloop_unlock(m_mainloop);
        if (m_loopRunning)
            pa_threaded_mainloop_stop(m_mainloop);
        pa_threaded_mainloop_free(m_mainloop);
    }
}

rt::Result<void> PulseConnection::connect(std::chrono::milliseconds timeout)
{
    Q_ASSERT(!m_mainloop);
    m_mainloop = pa_threaded_mainloop_new();
    if (!m_mainloop)
        return rt::makeError(QStringLiteral("Could not create the sound server client loop"), QStringLiteral("pulse"));
    const QByteArray name = m_applicationName.toUtf8();
    m_context = pa_context_new(pa_threaded_mainloop_get_api(m_mainloop), name.constData());
    if (!m_context)
        return rt::makeError(QStringLiteral("Could not create the sound server client"), QStringLiteral("pulse"));

    ConnectWaiter waiter;
    pa_context_set_subscribe_callback(
        m_context,
        [](pa_context *context, pa_subscription_event_type_t eventType, std::uint32_t index, void *userdata) {
            subscriptionEvent(context, static_cast<std::uint32_t>(eventType), index, userdata);
        },
        this);
    if (pa_threaded_mainloop_start(m_mainloop) < 0)
        return rt::makeError(QStringLiteral("Could not start the sound server client loop"), QStringLiteral("pulse"));
    m_loopRunning = true;

    const QByteArray server = m_serverAddress.toUtf8();
    {
        Lock lock(*this);
        // The state callback reports through the waiter until the wait below ends.
        pa_context_set_state_callback(
            m_context,
            [](pa_context *context, void *userdata) {
                auto *w = static_cast<ConnectWaiter *>(userdata);
                const pa_context_state_t state = pa_context_get_state(context);
                if (state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state)) {
                    w->state = state;
                    w->finish();
                }
            },
            &waiter);
        if (pa_context_connect(m_context, server.isEmpty() ? nullptr : server.constData(), PA_CONTEXT_NOAUTOSPAWN,
                               nullptr) < 0) {
            const int error = pa_context_errno(m_context);
            pa_context_set_state_callback(m_context, &PulseConnection::contextStateChanged, this);
            return rt::makeError(
                QStringLiteral("Could not reach the sound server: %1").arg(QString::fromUtf8(pa_strerror(error))),
                QStringLiteral("pulse"), error);
        }
    }
    const bool finished = waiter.waitFor(timeout);
    Lock lock(*this);
    pa_context_set_state_callback(m_context, &PulseConnection::contextStateChanged, this);
    const pa_context_state_t state = pa_context_get_state(m_context);
    if (state == PA_CONTEXT_READY) {
        m_ready.store(true, std::memory_order_release);
        return {};
    }
    const int error = finished ? pa_context_errno(m_context) : PA_ERR_TIMEOUT;
    pa_context_disconnect(m_context);
    qCWarning(lcAudio) << "sound server connection failed:" << pa_strerror(error);
    return rt::makeError(
        QStringLiteral("Could not reach the sound server: %1").arg(QString::fromUtf8(pa_strerror(error))),
        QStringLiteral("pulse"), error);
}

QString PulseConnection::errorText() const
{
    if (!m_context)
        return {};
    Lock lock(*this);
    const int error = pa_context_errno(m_context);
    return error == PA_OK ? QString() : QString::fromUtf8(pa_strerror(error));
}

bool PulseConnection::isLoopThread() const
{
    return m_mainloop && pa_threaded_mainloop_in_thread(m_mainloop);
}

PulseConnection::Lock::Lock(const PulseConnection &connection) : m_mainloop(connection.m_mainloop)
{
    pa_threaded_mainloop_lock(m_mainloop);
}

PulseConnection::Lock::~Lock()
{
    pa_threaded_mainloop_unlock(m_mainloop);
}

bool PulseConnection::await(pa_operation *operation, std::chrono::milliseconds timeout) const
{
    if (!operation)
        return false;
    Q_ASSERT(!isLoopThread());
    Waiter waiter;
    {
        Lock lock(*this);
        if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING)
            pa_operation_set_state_callback(operation, &operationStateChanged, &waiter);
        else
            waiter.finished = true;
    }
    waiter.waitFor(timeout);
    Lock lock(*this);
    pa_operation_set_state_callback(operation, nullptr, nullptr);
    const pa_operation_state_t state = pa_operation_get_state(operation);
    if (state == PA_OPERATION_RUNNING)
        pa_operation_cancel(operation);
    pa_operation_unref(operation);
    return state == PA_OPERATION_DONE;
}

void PulseConnection::setSubscriptionHandler(SubscriptionHandler handler)
{
    m_subscriptionHandler = std::move(handler);
}

void PulseConnection::setFailureHandler(std::function<void()> handler)
{
    m_failureHandler = std::move(handler);
}

void PulseConnection::contextStateChanged(pa_context *context, void *userdata)
{
    auto *self = static_cast<PulseConnection *>(userdata);
    self->m_ready.store(pa_context_get_state(context) == PA_CONTEXT_READY, std::memory_order_release);
    if (PA_CONTEXT_IS_GOOD(pa_context_get_state(context)) || self->m_failureReported)
        return;
    self->m_failureReported = true;
    if (self->m_failureHandler)
        self->m_failureHandler();
}

void PulseConnection::subscriptionEvent(pa_context *, std::uint32_t eventType, std::uint32_t index, void *userdata)
{
    auto *self = static_cast<PulseConnection *>(userdata);
    if (self->m_subscriptionHandler)
        self->m_subscriptionHandler(eventType, index);
}

} // namespace zq::platform

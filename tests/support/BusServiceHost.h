#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QThread>

namespace zq::test {

// Serves one object on a D-Bus bus under a well-known name, from a thread of its own, so a client that
// blocks its main thread on a call still gets its reply. The fake desktop services are built on it.
class BusServiceHost {
public:
    // `threadName` names the thread and, with a unique suffix, the bus connection.
    explicit BusServiceHost(QString threadName);
    ~BusServiceHost();
    BusServiceHost(const BusServiceHost &) = delete;
    BusServiceHost &operator=(const BusServiceHost &) = delete;

    // Connects to the bus at `busAddress`, takes `handler` (which must have no parent) onto the thread,
    // exports it at `objectPath` and takes `serviceName`. On failure, false with errorString() set and
    // nothing held, the handler deleted.
    bool start(const QString &busAddress, QObject *handler, const QString &serviceName, const QString &objectPath,
               QDBusConnection::RegisterOptions options);
    // Releases the name, withdraws the object, leaves the bus and deletes the handler.
    void stop();
    QString errorString() const { return m_error; }

    // The served object while started, else null. Call into it on its thread (QMetaObject::invokeMethod)
    // or through members that are safe across threads.
    template <typename Handler>
    Handler *handler() const
    {
        return static_cast<Handler *>(m_handler);
    }

private:
    QThread m_thread;
    QObject *m_handler = nullptr;
    QString m_connectionName;
    QString m_serviceName;
    QString m_objectPath;
    QString m_error;
};

} // namespace zq::test

#include "support/FakeFileManager.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QMetaObject>
#include <QUuid>

namespace zq::test {

FakeFileManager::FakeFileManager()
{
    m_thread.setObjectName(QStringLiteral("zq-file-manager"));
}

FakeFileManager::~FakeFileManager()
{
    stop();
}

bool FakeFileManager::start(const QString &busAddress)
{
    m_connectionName = QStringLiteral("zq-file-manager-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QDBusConnection connection = QDBusConnection::connectToBus(busAddress, m_connectionName);
    if (!connection.isConnected()) {
        m_error = QStringLiteral("cannot connect to the bus %1").arg(busAddress);
        QDBusConnection::disconnectFromBus(m_connectionName);
        m_connectionName.clear();
        return false;
    }
    m_thread.start();
    m_handler = new FileManagerHandler(*this);
    m_handler->moveToThread(&m_thread);
    bool registered = false;
    // Registered from the handler's thread, so calls are delivered there.
    QMetaObject::invokeMethod(
        m_handler,
        [&] { registered = connection.registerObject(QLatin1String(kObjectPath), m_handler, QDBusConnection::ExportAllSlots); },
        Qt::BlockingQueuedConnection);
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        registered ? connection.interface()->registerService(QLatin1String(kServiceName),
                                                             QDBusConnectionInterface::DontQueueService,
                                                             QDBusConnectionInterface::DontAllowReplacement)
                   : QDBusReply<QDBusConnectionInterface::RegisterServiceReply>();
    if (!registered || !reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        m_error = QStringLiteral("cannot serve %1 on the bus").arg(QLatin1String(kServiceName));
        stop();
        return false;
    }
    return true;
}

void FakeFileManager::stop()
{
    if (!m_connectionName.isEmpty()) {
        QDBusConnection connection(m_connectionName);
        if (connection.isConnected()) {
            connection.interface()->unregisterService(QLatin1String(kServiceName));
            if (m_handler && m_thread.isRunning())
                QMetaObject::invokeMethod(
                    m_handler, [&] { connection.unregisterObject(QLatin1String(kObjectPath)); },
                    Qt::BlockingQueuedConnection);
        }
        QDBusConnection::disconnectFromBus(m_connectionName);
        m_connectionName.clear();
    }
    if (m_thread.isRunning()) {
        m_thread.quit();
        m_thread.wait();
    }
    delete m_handler;
    m_handler = nullptr;
}

std::vector<QStringList> FakeFileManager::shownItems() const
{
    std::lock_guard lock(m_mutex);
    return m_calls;
}

bool FakeFileManager::waitForCalls(size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_mutex);
    return m_arrived.wait_for(lock, timeout, [&] { return m_calls.size() >= count; });
}

void FakeFileManager::record(const QStringList &uris)
{
    std::lock_guard lock(m_mutex);
    m_calls.push_back(uris);
    m_arrived.notify_all();
}

void FileManagerHandler::ShowItems(const QStringList &uris, const QString &)
{
    m_owner.record(uris);
}

void FileManagerHandler::ShowFolders(const QStringList &uris, const QString &)
{
    m_owner.record(uris);
}

} // namespace zq::test

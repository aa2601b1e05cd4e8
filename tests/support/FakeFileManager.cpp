#include "support/FakeFileManager.h"

namespace zq::test {

FakeFileManager::FakeFileManager() : m_service(QStringLiteral("zq-file-manager")) {}

FakeFileManager::~FakeFileManager()
{
    stop();
}

bool FakeFileManager::start(const QString &busAddress)
{
    return m_service.start(busAddress, new FileManagerHandler(*this), QLatin1String(kServiceName),
                           QLatin1String(kObjectPath), QDBusConnection::ExportAllSlots);
}

void FakeFileManager::stop()
{
    m_service.stop();
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

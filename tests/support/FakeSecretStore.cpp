#include "support/FakeSecretStore.h"

namespace zq::test {

namespace {
QString keyOf(const QString &service, const QString &account)
{
    return service + QLatin1Char('/') + account;
}
} // namespace

rt::Result<std::optional<QByteArray>> FakeSecretStore::read(const QString &service, const QString &account)
{
    std::unique_lock lock(m_mutex);
    m_calls.append(QStringLiteral("read"));
    rt::Result<std::optional<QByteArray>> answer = std::optional<QByteArray>();
    if (failReads)
        answer = rt::makeError(QStringLiteral("The secret store is locked."));
    else if (const auto it = m_items.constFind(keyOf(service, account)); it != m_items.constEnd())
        answer = std::optional<QByteArray>(*it);
    m_released.wait(lock, [this] { return !m_holdingReads; });
    return answer;
}

void FakeSecretStore::holdReads()
{
    std::lock_guard lock(m_mutex);
    m_holdingReads = true;
}

void FakeSecretStore::releaseReads()
{
    {
        std::lock_guard lock(m_mutex);
        m_holdingReads = false;
    }
    m_released.notify_all();
}

rt::Result<void> FakeSecretStore::write(const QString &service, const QString &account, const QByteArray &secret)
{
    std::lock_guard lock(m_mutex);
    m_calls.append(QStringLiteral("write"));
    if (failWrites)
        return rt::makeError(QStringLiteral("The secret store refused the write."));
    m_items.insert(keyOf(service, account), secret);
    return {};
}

rt::Result<void> FakeSecretStore::remove(const QString &service, const QString &account)
{
    std::lock_guard lock(m_mutex);
    m_calls.append(QStringLiteral("remove"));
    if (failRemoves)
        return rt::makeError(QStringLiteral("The secret store refused the removal."));
    m_items.remove(keyOf(service, account));
    return {};
}

QMap<QString, QByteArray> FakeSecretStore::items() const
{
    std::lock_guard lock(m_mutex);
    return m_items;
}

void FakeSecretStore::setItem(const QString &service, const QString &account, const QByteArray &secret)
{
    std::lock_guard lock(m_mutex);
    m_items.insert(keyOf(service, account), secret);
}

QStringList FakeSecretStore::calls() const
{
    std::lock_guard lock(m_mutex);
    return m_calls;
}

} // namespace zq::test

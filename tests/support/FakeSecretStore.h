#pragma once

#include "platform/SecretStore.h"

#include <QMap>
#include <QStringList>

#include <condition_variable>
#include <mutex>

namespace zq::test {

// An in-memory secret store. Each operation can be made to fail; calls are logged in order as
// "read", "write", "remove".
class FakeSecretStore final : public platform::SecretStore {
public:
    bool failReads = false;
    bool failWrites = false;
    bool failRemoves = false;

    rt::Result<std::optional<QByteArray>> read(const QString &service, const QString &account) override;
    rt::Result<void> write(const QString &service, const QString &account, const QByteArray &secret) override;
    rt::Result<void> remove(const QString &service, const QString &account) override;

    // Test access to the stored items, keyed "service/account".
    QMap<QString, QByteArray> items() const;
    void setItem(const QString &service, const QString &account, const QByteArray &secret);
    QStringList calls() const;

    // A keyring that answers late: reads take their answer when they arrive and return it only
    // once released. Release before the store is dropped, or the reading thread never ends.
    void holdReads();
    void releaseReads();

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    bool m_holdingReads = false;
    QMap<QString, QByteArray> m_items;
    QStringList m_calls;
};

} // namespace zq::test

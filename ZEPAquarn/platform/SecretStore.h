#pragma once

#include "runtime/Result.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace zq::platform {

// The user's store of secrets: one secret per (service, account) pair, kept as bytes.
//
// Every call blocks on the store (a D-Bus round trip at least), so callers run it on a worker
// thread, never the main thread. None of them asks the user anything: a locked store or a refused
// access is an error at once, not a password prompt. With no store reachable every call fails.
class SecretStore {
public:
    virtual ~SecretStore() = default;

    // The secret, or none when there is no such item.
    virtual rt::Result<std::optional<QByteArray>> read(const QString &service, const QString &account) = 0;
    // Creates the item or replaces its secret in one step: a failed write leaves the old secret.
    virtual rt::Result<void> write(const QString &service, const QString &account, const QByteArray &secret) = 0;
    // Removes the item; no item to remove is success.
    virtual rt::Result<void> remove(const QString &service, const QString &account) = 0;
};

} // namespace zq::platform

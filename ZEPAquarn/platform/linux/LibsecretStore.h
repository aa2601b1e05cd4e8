#pragma once

#include "platform/SecretStore.h"

namespace zq::platform {

// The Secret Service (gnome-keyring, KeePassXC, …) through libsecret's synchronous calls, on the
// session bus of DBUS_SESSION_BUS_ADDRESS. Items carry the attributes "service" and "account" and
// live in the default collection. Reads never unlock anything: a locked item reads as an error.
class LibsecretStore final : public SecretStore {
public:
    rt::Result<std::optional<QByteArray>> read(const QString &service, const QString &account) override;
    rt::Result<void> write(const QString &service, const QString &account, const QByteArray &secret) override;
    rt::Result<void> remove(const QString &service, const QString &account) override;
};

} // namespace zq::platform

#pragma once

#include "platform/SecretStore.h"
#include "platform/SharedLibrary.h"

#include <QByteArray>

#include <memory>

namespace zq::platform {

// The Secret Service (gnome-keyring, KeePassXC, …) through libsecret's synchronous calls, on the
// session bus of DBUS_SESSION_BUS_ADDRESS. Items carry the attributes "service" and "account" and
// live in the default collection. Reads never unlock anything: a locked item reads as an error.
//
// libsecret (with GIO and the GLib object system under it) is loaded on the first call, not at launch,
// where it would delay the tray icon; a library that cannot be loaded, or lacks a function this uses,
// fails every call as an unusable secret store does. Any thread.
class LibsecretStore final : public SecretStore {
public:
    static constexpr const char *kLibrary = "libsecret-1.so.0";

    // `library` is the soname libsecret is loaded from.
    explicit LibsecretStore(QByteArray library = kLibrary);
    ~LibsecretStore() override;

    rt::Result<std::optional<QByteArray>> read(const QString &service, const QString &account) override;
    rt::Result<void> write(const QString &service, const QString &account, const QByteArray &secret) override;
    rt::Result<void> remove(const QString &service, const QString &account) override;

    // The functions of libsecret and GLib this uses.
    struct Functions;

private:
    const std::unique_ptr<const LibraryOnFirstUse<Functions>> m_secret;
};

} // namespace zq::platform

#include "transcription/Keychain.h"

#include "runtime/Log.h"

namespace zq {

Keychain::Keychain(std::shared_ptr<platform::SecretStore> store) : m_store(std::move(store)) {}

std::optional<QString> Keychain::readAPIKey() const
{
    return readStoredAPIKey().valueOr(std::nullopt);
}

rt::Result<std::optional<QString>> Keychain::readStoredAPIKey() const
{
    const auto read = m_store->read(service, account);
    if (!read)
        return read.error();
    if (!read.value())
        return std::optional<QString>();
    return std::optional<QString>(QString::fromUtf8(*read.value()));
}

void Keychain::saveAPIKey(const std::optional<QString> &key) const
{
    // A new key is written over the old one in a single step: the old key is never deleted first,
    // so a store that refuses the write still holds a working key.
    if (key && !key->isEmpty()) {
        if (!m_store->write(service, account, key->toUtf8()))
            qCWarning(lcKeychain) << "api key not saved; the stored key is unchanged";
        return;
    }
    if (!m_store->remove(service, account))
        qCWarning(lcKeychain) << "api key not removed";
}

rt::Task<std::optional<QString>> Keychain::readAPIKeyInBackground() const
{
    // Named first: g++ 12 destroys the captures of a lambda written inside a co_await twice.
    auto read = [keychain = *this](std::stop_token) { return keychain.readAPIKey(); };
    co_return co_await rt::runOnWorker(std::move(read));
}

rt::Task<void> Keychain::saveAPIKeyInBackground(std::optional<QString> key) const
{
    auto save = [keychain = *this, key](std::stop_token) { keychain.saveAPIKey(key); };
    co_await rt::runOnWorker(std::move(save));
}

} // namespace zq

#pragma once

#include "platform/SecretStore.h"
#include "runtime/Task.h"

#include <QString>

#include <memory>
#include <optional>

namespace zq {

// The OpenAI API key in the user's secret store: service "io.quorvane.zepaquarn", account
// "openai_api_key", the key's UTF-8 bytes as stored, never trimmed.
//
// readAPIKey() and saveAPIKey() block on the store: call them on a worker thread. From the main
// thread use the tasks, which run them on a worker and resume on the task's loop. Failures are
// absorbed: an unreachable, locked or refusing store reads as no key (readStoredAPIKey() tells
// them apart), and a save that fails changes nothing.
class Keychain {
public:
    static inline const QString service = QStringLiteral("io.quorvane.zepaquarn");
    static inline const QString account = QStringLiteral("openai_api_key");

    explicit Keychain(std::shared_ptr<platform::SecretStore> store);

    // The stored key, or none. Invalid UTF-8 reads with U+FFFD in its place.
    std::optional<QString> readAPIKey() const;
    // The same, but a store that cannot be reached, is locked or refuses the read is an error
    // rather than "no key": the transcription engine tells the user which of the two it was.
    rt::Result<std::optional<QString>> readStoredAPIKey() const;
    // A non-empty key replaces the stored one; none or the empty text removes it.
    void saveAPIKey(const std::optional<QString> &key) const;

    rt::Task<std::optional<QString>> readAPIKeyInBackground() const;
    rt::Task<void> saveAPIKeyInBackground(std::optional<QString> key) const;

private:
    std::shared_ptr<platform::SecretStore> m_store;
};

} // namespace zq

#pragma once

#include "runtime/Result.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QString>

#include <memory>

namespace zq::platform {

// What a release signature covers. The release key signs, with Ed25519, this statement (UTF-8,
// each line ended by one line feed):
//
//   zepaquarn-update-v1
//   build <the build the feed announces, its <build> element as it stands>
//   version <the version the feed announces, its <displayVersion> element as it stands>
//   sha512 <the SHA-512 of the archive's bytes, 128 lower-case hexadecimal digits>
//
// The feed itself is not signed, so the build and version it announces are signed here: a feed
// cannot offer a genuine older archive as a newer build. Ed25519 needs its whole message at once,
// so the archive is signed through its SHA-512 digest (the hash Ed25519 itself is built on), which
// is computed while the download streams to disk: any size is verified with bounded memory.
QByteArray updateSignatureStatement(const QString &build, const QString &displayVersion, const QByteArray &sha512);

// Checks that `data` carries a valid Ed25519 signature (64 bytes, base64) made with the private
// half of `publicKeyBase64` (32 raw bytes, base64). Any malformed input is a failed check.
rt::Result<void> verifyEd25519Signature(const QByteArray &data, const QByteArray &signatureBase64,
                                        const QByteArray &publicKeyBase64);

// A SHA-512 digest fed piece by piece. Any thread, one at a time.
class Sha512Digest {
public:
    Sha512Digest();
    ~Sha512Digest();
    Sha512Digest(Sha512Digest &&) noexcept;
    Sha512Digest &operator=(Sha512Digest &&) noexcept;

    void add(const char *data, qint64 size);
    // The 64-byte digest of everything added; the digest starts over afterwards.
    QByteArray finish();

private:
    std::unique_ptr<QCryptographicHash> m_hash;
};

} // namespace zq::platform

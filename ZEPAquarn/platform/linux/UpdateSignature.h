#pragma once

#include "runtime/Result.h"

#include <QByteArray>

namespace zq::platform {

// Checks that `data` carries a valid Ed25519 signature (64 bytes, base64) made with the private
// half of `publicKeyBase64` (32 raw bytes, base64). Any malformed input is a failed check.
rt::Result<void> verifyEd25519Signature(const QByteArray &data, const QByteArray &signatureBase64,
                                        const QByteArray &publicKeyBase64);

} // namespace zq::platform

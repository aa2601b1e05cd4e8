#include "platform/linux/appcast/UpdateSignature.h"

#include <openssl/evp.h>

#include <memory>

namespace zq::platform {

namespace {

rt::Error refused(const QString &detail)
{
    return rt::Error{QStringLiteral("The update's signature is not valid, so it was not installed."), detail, 0};
}

} // namespace

QByteArray updateSignatureStatement(const QString &build, const QString &displayVersion, const QByteArray &sha512)
{
    return QByteArrayLiteral("zepaquarn-update-v1\nbuild ") + build.toUtf8() + QByteArrayLiteral("\nversion ") +
           displayVersion.toUtf8() + QByteArrayLiteral("\nsha512 ") + sha512.toHex() + '\n';
}

rt::Result<void> verifyEd25519Signature(const QByteArray &data, const QByteArray &signatureBase64,
                                        const QByteArray &publicKeyBase64)
{
    const auto decode = [](const QByteArray &text) {
        return QByteArray::fromBase64Encoding(text.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    };
    const auto key = decode(publicKeyBase64);
    const auto signature = decode(signatureBase64);
    if (!key || key.decoded.size() != 32)
        return refused(QStringLiteral("public key"));
    if (!signature || signature.decoded.size() != 64)
        return refused(QStringLiteral("signature encoding"));

    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> pkey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                    reinterpret_cast<const unsigned char *>(key.decoded.constData()), 32),
        &EVP_PKEY_free);
    if (!pkey)
        return refused(QStringLiteral("public key"));
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, pkey.get()) != 1)
        return refused(QStringLiteral("openssl"));
    // Ed25519 signs the whole message in one pass.
    const int verified =
        EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char *>(signature.decoded.constData()), 64,
                         reinterpret_cast<const unsigned char *>(data.constData()), static_cast<size_t>(data.size()));
    if (verified != 1)
        return refused(QStringLiteral("mismatch"));
    return {};
}

Sha512Digest::Sha512Digest() : m_hash(std::make_unique<QCryptographicHash>(QCryptographicHash::Sha512)) {}

Sha512Digest::~Sha512Digest() = default;
Sha512Digest::Sha512Digest(Sha512Digest &&) noexcept = default;
Sha512Digest &Sha512Digest::operator=(Sha512Digest &&) noexcept = default;

void Sha512Digest::add(const char *data, qint64 size)
{
    m_hash->addData(QByteArrayView(data, static_cast<qsizetype>(size)));
}

QByteArray Sha512Digest::finish()
{
    QByteArray digest = m_hash->result();
    m_hash->reset();
    return digest;
}

} // namespace zq::platform

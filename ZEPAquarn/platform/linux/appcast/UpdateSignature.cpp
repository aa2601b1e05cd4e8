#include "platform/linux/appcast/UpdateSignature.h"

#include "platform/SharedLibrary.h"
#include "runtime/Log.h"

#include <openssl/evp.h>

#include <memory>

namespace zq::platform {

namespace {

// What the check needs of OpenSSL, loaded when an update is first checked rather than at launch.
struct Crypto {
    decltype(&EVP_PKEY_new_raw_public_key) newRawPublicKey = nullptr;
    decltype(&EVP_PKEY_free) freeKey = nullptr;
    decltype(&EVP_MD_CTX_new) newContext = nullptr;
    decltype(&EVP_MD_CTX_free) freeContext = nullptr;
    decltype(&EVP_DigestVerifyInit) verifyInit = nullptr;
    decltype(&EVP_DigestVerify) verify = nullptr;

    void bind(SharedLibrary &library)
    {
        library.bind(newRawPublicKey, "EVP_PKEY_new_raw_public_key")
            .bind(freeKey, "EVP_PKEY_free")
            .bind(newContext, "EVP_MD_CTX_new")
            .bind(freeContext, "EVP_MD_CTX_free")
            .bind(verifyInit, "EVP_DigestVerifyInit")
            .bind(verify, "EVP_DigestVerify");
    }
};

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
                                        const QByteArray &publicKeyBase64, const QByteArray &libcrypto)
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

    // An update is checked rarely: the library is opened for each check (after the first, the
    // loader only finds it again).
    const rt::Result<Crypto> crypto = loadFunctions<Crypto>(libcrypto);
    if (!crypto) {
        qCWarning(lcUpdater).noquote() << "update signature not checked:" << crypto.error().message;
        return refused(QStringLiteral("openssl"));
    }
    const Crypto &c = crypto.value();
    const auto freeKey = [&c](EVP_PKEY *pkey) { c.freeKey(pkey); };
    const auto freeContext = [&c](EVP_MD_CTX *context) { c.freeContext(context); };

    std::unique_ptr<EVP_PKEY, decltype(freeKey)> pkey(
        c.newRawPublicKey(EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char *>(key.decoded.constData()),
                          32),
        freeKey);
    if (!pkey)
        return refused(QStringLiteral("public key"));
    std::unique_ptr<EVP_MD_CTX, decltype(freeContext)> context(c.newContext(), freeContext);
    if (!context || c.verifyInit(context.get(), nullptr, nullptr, nullptr, pkey.get()) != 1)
        return refused(QStringLiteral("openssl"));
    // Ed25519 signs the whole message in one pass.
    const int verified =
        c.verify(context.get(), reinterpret_cast<const unsigned char *>(signature.decoded.constData()), 64,
                 reinterpret_cast<const unsigned char *>(data.constData()), static_cast<size_t>(data.size()));
    if (verified != 1)
        return refused(QStringLiteral("mismatch"));
    return {};
}

// The digest is Qt's own: a download streams through it without loading OpenSSL.
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

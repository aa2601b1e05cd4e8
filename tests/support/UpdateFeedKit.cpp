#include "support/UpdateFeedKit.h"

#include "platform/linux/appcast/Appcast.h"
#include "platform/linux/appcast/UpdateSignature.h"

#include <QFile>

#include <QXmlStreamWriter>

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <zlib.h>

#include <cstring>
#include <memory>
#include <stdexcept>

namespace zq::test {

namespace {

struct PkeyFree {
    void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

Pkey privateKey(const QByteArray &raw)
{
    return Pkey(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr,
                                             reinterpret_cast<const unsigned char *>(raw.constData()), 32));
}

void writeOctal(char *field, int length, qint64 value)
{
    const QByteArray digits = QByteArray::number(value, 8).rightJustified(length - 1, '0');
    std::memcpy(field, digits.constData(), static_cast<size_t>(length - 1));
    field[length - 1] = '\0';
}

QByteArray gzip(const QByteArray &data)
{
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(static_cast<qsizetype>(deflateBound(&stream, static_cast<uLong>(data.size()))) + 64, '\0');
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(static_cast<qsizetype>(stream.total_out));
    deflateEnd(&stream);
    return out;
}

} // namespace

Ed25519TestKey::Ed25519TestKey() : m_privateKey(32, '\0')
{
    RAND_bytes(reinterpret_cast<unsigned char *>(m_privateKey.data()), 32);
    const Pkey key = privateKey(m_privateKey);
    QByteArray publicKey(32, '\0');
    size_t length = 32;
    if (!key ||
        EVP_PKEY_get_raw_public_key(key.get(), reinterpret_cast<unsigned char *>(publicKey.data()), &length) != 1)
        throw std::runtime_error("no Ed25519 key");
    m_publicKeyBase64 = publicKey.toBase64();
}

QByteArray Ed25519TestKey::signBase64(const QByteArray &data) const
{
    const Pkey key = privateKey(m_privateKey);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    QByteArray signature(64, '\0');
    size_t length = 64;
    EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get());
    EVP_DigestSign(context.get(), reinterpret_cast<unsigned char *>(signature.data()), &length,
                   reinterpret_cast<const unsigned char *>(data.constData()), static_cast<size_t>(data.size()));
    return signature.toBase64();
}

namespace {

void writeHeader(char *header, const TarEntry &entry, qint64 size)
{
    std::memset(header, 0, 512);
    const QByteArray name = entry.name.toUtf8();
    std::memcpy(header, name.constData(), static_cast<size_t>(std::min<qsizetype>(name.size(), 100)));
    writeOctal(header + 100, 8, 0755);
    writeOctal(header + 108, 8, 0);
    writeOctal(header + 116, 8, 0);
    writeOctal(header + 124, 12, entry.type == '0' ? size : 0);
    writeOctal(header + 136, 12, 1700000000);
    header[156] = entry.type;
    const QByteArray link = entry.linkTarget.toUtf8();
    std::memcpy(header + 157, link.constData(), static_cast<size_t>(std::min<qsizetype>(link.size(), 100)));
    std::memcpy(header + 257, "ustar", 6);
    std::memcpy(header + 263, "00", 2);
    std::memset(header + 148, ' ', 8);
    unsigned sum = 0;
    for (int i = 0; i < 512; ++i)
        sum += static_cast<unsigned char>(header[i]);
    writeOctal(header + 148, 7, sum);
    header[155] = ' ';
}

} // namespace

QByteArray Ed25519TestKey::signUpdate(const QByteArray &archive, const QString &build, const QString &version) const
{
    platform::Sha512Digest digest;
    digest.add(archive.constData(), archive.size());
    return signUpdateDigest(digest.finish(), build, version);
}

QByteArray Ed25519TestKey::signUpdateDigest(const QByteArray &sha512, const QString &build,
                                            const QString &version) const
{
    return signBase64(platform::updateSignatureStatement(build, version, sha512));
}

QByteArray writeTarGzFile(const QString &path, const QString &name, qint64 size,
                          const std::function<void(qint64 offset, char *piece, qint64 length)> &fill, int level)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    platform::Sha512Digest digest;
    z_stream stream{};
    deflateInit2(&stream, level, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    constexpr qint64 chunk = 256 * 1024;
    QByteArray in(chunk, '\0');
    QByteArray out(chunk, '\0');
    bool ok = true;
    const auto deflateSome = [&](const char *data, qint64 length, int flush) {
        stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
        stream.avail_in = static_cast<uInt>(length);
        do {
            stream.next_out = reinterpret_cast<Bytef *>(out.data());
            stream.avail_out = static_cast<uInt>(chunk);
            deflate(&stream, flush);
            const qint64 produced = chunk - stream.avail_out;
            digest.add(out.constData(), produced);
            ok = ok && file.write(out.constData(), produced) == produced;
        } while (stream.avail_out == 0);
    };
    char header[512];
    writeHeader(header, {name, {}, '0', {}}, size);
    deflateSome(header, 512, Z_NO_FLUSH);
    for (qint64 offset = 0; offset < size; offset += chunk) {
        const qint64 length = std::min(chunk, size - offset);
        fill(offset, in.data(), length);
        deflateSome(in.constData(), length, Z_NO_FLUSH);
    }
    const QByteArray tail(static_cast<qsizetype>((512 - size % 512) % 512 + 1024), '\0');
    deflateSome(tail.constData(), tail.size(), Z_FINISH);
    deflateEnd(&stream);
    return ok && file.flush() ? digest.finish() : QByteArray();
}

void fillIncompressible(qint64 offset, char *piece, qint64 length)
{
    // xorshift64 seeded by the offset: fast, and nothing gzip can find a pattern in.
    quint64 state = static_cast<quint64>(offset) * 0x9E3779B97F4A7C15ull + 1;
    for (qint64 i = 0; i < length; i += 8) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        std::memcpy(piece + i, &state, static_cast<size_t>(std::min<qint64>(8, length - i)));
    }
}

bool writeArchive(const QString &path, const QByteArray &archive)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(archive) == archive.size() &&
           file.flush();
}

QByteArray makeTarGz(const std::vector<TarEntry> &entries)
{
    QByteArray tar;
    for (const TarEntry &entry : entries) {
        char header[512] = {};
        writeHeader(header, entry, entry.data.size());
        tar.append(header, 512);
        if (entry.type == '0') {
            tar.append(entry.data);
            tar.append(QByteArray((512 - entry.data.size() % 512) % 512, '\0'));
        }
    }
    tar.append(QByteArray(1024, '\0'));
    return gzip(tar);
}

QByteArray makeAppcast(const std::vector<FeedItem> &items)
{
    const QString ns = QString::fromLatin1(platform::appcast::kNamespace);
    QByteArray xml;
    QXmlStreamWriter writer(&xml);
    writer.setAutoFormatting(true);
    writer.writeStartDocument();
    writer.writeNamespace(ns, QStringLiteral("zq"));
    writer.writeStartElement(QStringLiteral("rss"));
    writer.writeAttribute(QStringLiteral("version"), QStringLiteral("2.0"));
    writer.writeStartElement(QStringLiteral("channel"));
    writer.writeTextElement(QStringLiteral("title"), QStringLiteral("ZEPA QUARN"));
    for (const FeedItem &item : items) {
        writer.writeStartElement(QStringLiteral("item"));
        writer.writeTextElement(QStringLiteral("title"), QStringLiteral("Version ") + item.displayVersion);
        writer.writeTextElement(ns, QStringLiteral("build"), item.build);
        writer.writeTextElement(ns, QStringLiteral("displayVersion"), item.displayVersion);
        if (!item.minimumSystemVersion.isEmpty())
            writer.writeTextElement(ns, QStringLiteral("minimumSystemVersion"), item.minimumSystemVersion);
        if (!item.description.isEmpty())
            writer.writeTextElement(QStringLiteral("description"), item.description);
        writer.writeStartElement(QStringLiteral("enclosure"));
        writer.writeAttribute(QStringLiteral("url"), item.enclosureUrl);
        writer.writeAttribute(QStringLiteral("length"), QString::number(item.length));
        writer.writeAttribute(QStringLiteral("type"), QStringLiteral("application/gzip"));
        writer.writeAttribute(ns, QStringLiteral("ed25519Signature"), QString::fromLatin1(item.signatureBase64));
        writer.writeEndElement();
        writer.writeEndElement();
    }
    writer.writeEndElement();
    writer.writeEndElement();
    writer.writeEndDocument();
    return xml;
}

} // namespace zq::test

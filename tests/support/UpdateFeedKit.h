#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <vector>

namespace zq::test {

// An Ed25519 key pair made at test time, standing in for the product's release key.
class Ed25519TestKey {
public:
    Ed25519TestKey();
    const QByteArray &publicKeyBase64() const { return m_publicKeyBase64; }
    QByteArray signBase64(const QByteArray &data) const;
    // The release signature of an archive announced as `build` and `version` (the statement of
    // UpdateSignature.h), from the archive's bytes or its SHA-512 digest.
    QByteArray signUpdate(const QByteArray &archive, const QString &build, const QString &version) const;
    QByteArray signUpdateDigest(const QByteArray &sha512, const QString &build, const QString &version) const;

private:
    QByteArray m_privateKey; // 32 raw bytes
    QByteArray m_publicKeyBase64;
};

// One entry of a hand-made tar archive; `type` is the tar type flag ('0' file, '5' folder,
// '2' symbolic link, '1' hard link). Names are written as given, "../" included.
struct TarEntry {
    QString name;
    QByteArray data;
    char type = '0';
    QString linkTarget;
};

// A gzip-compressed ustar archive of the entries, with the two closing zero blocks.
QByteArray makeTarGz(const std::vector<TarEntry> &entries);

// Writes a .tar.gz file of one regular file `name` of `size` bytes, which `fill` provides piece by
// piece (the offset, then where the piece goes and its length), with bounded memory; returns
// the SHA-512 digest of the file written, empty when it could not be written.
QByteArray writeTarGzFile(const QString &path, const QString &name, qint64 size,
                          const std::function<void(qint64 offset, char *piece, qint64 length)> &fill, int level = 1);
// Pieces that gzip cannot shrink, the same for the same offset.
void fillIncompressible(qint64 offset, char *piece, qint64 length);

// One item of a test feed.
struct FeedItem {
    QString build;
    QString displayVersion;
    QString enclosureUrl;
    qint64 length = 0;
    QByteArray signatureBase64;
    QString minimumSystemVersion;
    QString description;
};

// Writes an archive to a file; false when it could not.
bool writeArchive(const QString &path, const QByteArray &archive);

// An RSS 2.0 feed in the application's update namespace.
QByteArray makeAppcast(const std::vector<FeedItem> &items);

} // namespace zq::test

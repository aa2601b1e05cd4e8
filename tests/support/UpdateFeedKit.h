#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

namespace zq::test {

// An Ed25519 key pair made at test time, standing in for the product's release key.
class Ed25519TestKey {
public:
    Ed25519TestKey();
    const QByteArray &publicKeyBase64() const { return m_publicKeyBase64; }
    QByteArray signBase64(const QByteArray &data) const;

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

// An RSS 2.0 feed in the application's update namespace.
QByteArray makeAppcast(const std::vector<FeedItem> &items);

} // namespace zq::test

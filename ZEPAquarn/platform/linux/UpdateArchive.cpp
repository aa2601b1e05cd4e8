#include "platform/linux/UpdateArchive.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <optional>

namespace zq::platform {

namespace {

// An executable with its assets is tens of megabytes; anything far bigger is not ours.
constexpr qint64 kMaxUnpackedBytes = qint64(1) << 30;
constexpr int kBlock = 512;

rt::Error broken(const QString &detail)
{
    return rt::Error{QStringLiteral("The downloaded update could not be unpacked."), detail, 0};
}

rt::Result<QByteArray> gunzip(const QByteArray &compressed)
{
    z_stream stream{};
    // 16 + 15: a gzip wrapper around a full-size window.
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK)
        return broken(QStringLiteral("zlib"));
    QByteArray out;
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(compressed.constData()));
    stream.avail_in = static_cast<uInt>(compressed.size());
    int status = Z_OK;
    char chunk[64 * 1024];
    while (status != Z_STREAM_END) {
        stream.next_out = reinterpret_cast<Bytef *>(chunk);
        stream.avail_out = sizeof chunk;
        status = inflate(&stream, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END) {
            inflateEnd(&stream);
            return broken(QStringLiteral("gzip"));
        }
        out.append(chunk, static_cast<qsizetype>(sizeof chunk - stream.avail_out));
        if (out.size() > kMaxUnpackedBytes) {
            inflateEnd(&stream);
            return broken(QStringLiteral("too large"));
        }
        if (status == Z_OK && stream.avail_in == 0 && stream.avail_out != 0) {
            inflateEnd(&stream);
            return broken(QStringLiteral("truncated"));
        }
    }
    inflateEnd(&stream);
    return out;
}

QString field(const char *header, int offset, int length)
{
    const char *start = header + offset;
    int n = 0;
    while (n < length && start[n] != '\0')
        ++n;
    return QString::fromUtf8(start, n);
}

std::optional<qint64> octal(const char *header, int offset, int length)
{
    qint64 value = 0;
    bool digits = false;
    for (int i = 0; i < length; ++i) {
        const char c = header[offset + i];
        if (c == '\0' || c == ' ') {
            if (digits)
                break;
            continue;
        }
        if (c < '0' || c > '7' || value > (kMaxUnpackedBytes << 3))
            return std::nullopt;
        value = value * 8 + (c - '0');
        digits = true;
    }
    return digits ? std::optional<qint64>(value) : std::nullopt;
}

bool checksumMatches(const char *header)
{
    const std::optional<qint64> stored = octal(header, 148, 8);
    qint64 sum = 0;
    for (int i = 0; i < kBlock; ++i)
        sum += (i >= 148 && i < 156) ? ' ' : static_cast<unsigned char>(header[i]);
    return stored && *stored == sum;
}

// The entry's path relative to the destination, or none when it could leave it.
std::optional<QString> safeRelativePath(const QString &name)
{
    if (name.isEmpty() || name.startsWith(u'/') || name.contains(QChar(0)) || name.contains(u'\\'))
        return std::nullopt;
    QStringList parts;
    for (const QString &part : name.split(u'/', Qt::SkipEmptyParts)) {
        if (part == u".")
            continue;
        if (part == u"..")
            return std::nullopt;
        parts << part;
    }
    if (parts.isEmpty())
        return std::nullopt;
    return parts.join(u'/');
}

} // namespace

rt::Result<QString> unpackUpdateArchive(const QByteArray &archive, const QString &destination)
{
    auto unpacked = gunzip(archive);
    if (!unpacked)
        return unpacked.error();
    const QByteArray &tar = unpacked.value();
    const QDir root(destination);
    QString executable;
    int files = 0;
    qint64 at = 0;
    bool ended = false;
    while (at + kBlock <= tar.size()) {
        const char *header = tar.constData() + at;
        if (std::all_of(header, header + kBlock, [](char c) { return c == '\0'; })) {
            ended = true;
            break;
        }
        if (!checksumMatches(header))
            return broken(QStringLiteral("header checksum"));
        const std::optional<qint64> size = octal(header, 124, 12);
        if (!size || at + kBlock + *size > tar.size())
            return broken(QStringLiteral("entry size"));
        QString name = field(header, 0, 100);
        if (std::memcmp(header + 257, "ustar", 5) == 0) {
            const QString prefix = field(header, 345, 155);
            if (!prefix.isEmpty())
                name = prefix + u'/' + name;
        }
        const char type = header[156];
        const std::optional<QString> relative = safeRelativePath(name);
        if (!relative)
            return broken(QStringLiteral("path outside the folder: ") + name);
        const QString target = root.filePath(*relative);

        if (type == '5') {
            if (!root.mkpath(*relative))
                return broken(QStringLiteral("folder"));
        } else if (type == '0' || type == '\0') {
            // Every folder on the way must be a real folder we made, never a link.
            const QString parent = QFileInfo(target).path();
            if (!root.mkpath(QFileInfo(*relative).path()) || QFileInfo(parent).isSymLink())
                return broken(QStringLiteral("folder"));
            if (QFileInfo::exists(target))
                return broken(QStringLiteral("duplicate entry"));
            QFile file(target);
            if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
                return broken(file.errorString());
            const QByteArray content = tar.mid(at + kBlock, *size);
            if (file.write(content) != content.size() || !file.flush())
                return broken(file.errorString());
            // Only the owner's executable bit matters; no set-id bits come through.
            file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                QFileDevice::ExeOther);
            file.close();
            executable = target;
            ++files;
        } else {
            // Hard and symbolic links, devices, FIFOs and extended headers are not part of an update.
            return broken(QStringLiteral("entry type ") + QChar::fromLatin1(type));
        }
        at += kBlock + (*size + kBlock - 1) / kBlock * kBlock;
    }
    if (!ended)
        return broken(QStringLiteral("no end of archive"));
    if (files != 1)
        return broken(QStringLiteral("not one executable"));
    return executable;
}

} // namespace zq::platform

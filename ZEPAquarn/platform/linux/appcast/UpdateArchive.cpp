#include "platform/linux/appcast/UpdateArchive.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>

namespace zq::platform {

namespace {

constexpr int kBlock = 512;
constexpr qint64 kChunk = 64 * 1024;

rt::Error broken(const QString &detail)
{
    return rt::Error{QStringLiteral("The downloaded update could not be unpacked."), detail, 0};
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
    // Eleven octal digits at most: no size can overflow.
    qint64 value = 0;
    bool digits = false;
    for (int i = 0; i < length; ++i) {
        const char c = header[offset + i];
        if (c == '\0' || c == ' ') {
            if (digits)
                break;
            continue;
        }
        if (c < '0' || c > '7' || value > (qint64(1) << 55))
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

// The tar stream as it comes out of gzip: headers are gathered block by block, the one file's
// content goes straight to disk.
class TarReader {
public:
    explicit TarReader(const QString &destination) : m_root(destination) {}

    rt::Result<void> feed(const char *data, qint64 size)
    {
        while (size > 0 && m_phase != Phase::ended) {
            qint64 used = 0;
            switch (m_phase) {
            case Phase::header:
                used = std::min<qint64>(kBlock - m_headerFill, size);
                std::memcpy(m_header + m_headerFill, data, static_cast<size_t>(used));
                m_headerFill += static_cast<int>(used);
                if (m_headerFill == kBlock) {
                    m_headerFill = 0;
                    if (auto read = readHeader(); !read)
                        return read;
                }
                break;
            case Phase::content:
                used = std::min(m_remaining, size);
                if (m_file->write(data, used) != used)
                    return broken(m_file->errorString());
                m_remaining -= used;
                if (m_remaining == 0)
                    if (auto closed = closeFile(); !closed)
                        return closed;
                break;
            case Phase::padding:
                used = std::min(m_remaining, size);
                m_remaining -= used;
                if (m_remaining == 0)
                    m_phase = Phase::header;
                break;
            case Phase::ended:
                break;
            }
            data += used;
            size -= used;
        }
        return {};
    }

    bool ended() const { return m_phase == Phase::ended; }

    rt::Result<QString> result() const
    {
        if (m_phase != Phase::ended)
            return broken(QStringLiteral("no end of archive"));
        if (m_files != 1)
            return broken(QStringLiteral("not one executable"));
        return m_executable;
    }

private:
    enum class Phase { header, content, padding, ended };

    rt::Result<void> readHeader()
    {
        const char *header = m_header;
        if (std::all_of(header, header + kBlock, [](char c) { return c == '\0'; })) {
            m_phase = Phase::ended;
            return {};
        }
        if (!checksumMatches(header))
            return broken(QStringLiteral("header checksum"));
        const std::optional<qint64> size = octal(header, 124, 12);
        if (!size)
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
        const QString target = m_root.filePath(*relative);

        if (type == '5') {
            if (!m_root.mkpath(*relative))
                return broken(QStringLiteral("folder"));
            return {};
        }
        if (type != '0' && type != '\0') {
            // Hard and symbolic links, devices, FIFOs and extended headers are not part of an update.
            return broken(QStringLiteral("entry type ") + QChar::fromLatin1(type));
        }
        if (m_files > 0)
            return broken(QStringLiteral("not one executable"));
        // Every folder on the way must be a real folder we made, never a link.
        const QString parent = QFileInfo(target).path();
        if (!m_root.mkpath(QFileInfo(*relative).path()) || QFileInfo(parent).isSymLink())
            return broken(QStringLiteral("folder"));
        m_file = std::make_unique<QFile>(target);
        if (!m_file->open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return broken(m_file->errorString());
        // Runnable by whoever may run the executable it replaces; no set-id bits come through.
        m_file->setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                               QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther |
                               QFileDevice::ExeOther);
        m_executable = target;
        ++m_files;
        m_remaining = *size;
        m_padding = (kBlock - *size % kBlock) % kBlock;
        m_phase = Phase::content;
        if (m_remaining == 0)
            return closeFile();
        return {};
    }

    rt::Result<void> closeFile()
    {
        const bool flushed = m_file->flush();
        m_file->close();
        if (!flushed)
            return broken(m_file->errorString());
        m_remaining = m_padding;
        m_phase = m_remaining > 0 ? Phase::padding : Phase::header;
        return {};
    }

    const QDir m_root;
    Phase m_phase = Phase::header;
    char m_header[kBlock] = {};
    int m_headerFill = 0;
    qint64 m_remaining = 0;
    qint64 m_padding = 0;
    std::unique_ptr<QFile> m_file;
    QString m_executable;
    int m_files = 0;
};

struct InflateEnd {
    void operator()(z_stream *stream) const { inflateEnd(stream); }
};

} // namespace

rt::Result<QString> unpackUpdateArchive(const QString &archivePath, const QString &destination, qint64 maximumBytes)
{
    QFile archive(archivePath);
    if (!archive.open(QIODevice::ReadOnly))
        return broken(archive.errorString());
    z_stream stream{};
    // 16 + 15: a gzip wrapper around a full-size window.
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK)
        return broken(QStringLiteral("zlib"));
    const std::unique_ptr<z_stream, InflateEnd> ending(&stream);

    TarReader tar(destination);
    auto in = std::make_unique<char[]>(kChunk);
    auto out = std::make_unique<char[]>(kChunk);
    qint64 unpacked = 0;
    while (!tar.ended()) {
        if (stream.avail_in == 0) {
            const qint64 read = archive.read(in.get(), kChunk);
            if (read < 0)
                return broken(archive.errorString());
            if (read == 0)
                return broken(QStringLiteral("truncated"));
            stream.next_in = reinterpret_cast<Bytef *>(in.get());
            stream.avail_in = static_cast<uInt>(read);
        }
        stream.next_out = reinterpret_cast<Bytef *>(out.get());
        stream.avail_out = static_cast<uInt>(kChunk);
        const int status = inflate(&stream, Z_NO_FLUSH);
        // No progress without more input is no error: the next round reads more.
        if (status != Z_OK && status != Z_STREAM_END && !(status == Z_BUF_ERROR && stream.avail_in == 0))
            return broken(QStringLiteral("gzip"));
        const qint64 produced = kChunk - stream.avail_out;
        unpacked += produced;
        if (unpacked > maximumBytes)
            return broken(QStringLiteral("too large"));
        if (auto fed = tar.feed(out.get(), produced); !fed)
            return fed.error();
        if (status == Z_STREAM_END)
            break;
    }
    return tar.result();
}

} // namespace zq::platform

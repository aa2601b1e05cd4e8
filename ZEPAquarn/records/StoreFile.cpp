#include "records/StoreFile.h"

#include "records/Diagnostics.h"
#include "runtime/Clocks.h"
#include "runtime/FileOps.h"
#include "runtime/Log.h"
#include "runtime/Paths.h"

#include <cerrno>
#include <cmath>

namespace zq {

StoreFile::Contents StoreFile::read(const QString &path, qint64 mostBytes)
{
    auto bytes = rt::readOwnFile(path, mostBytes);
    if (bytes)
        return {Status::read, std::move(bytes).value(), {}};
    if (bytes.error().code == ENOENT)
        return {Status::missing, {}, {}};
    return {Status::unreadable, {}, bytes.error().message, bytes.error().code == EFBIG};
}

std::optional<rt::KeptAsideFile> StoreFile::keepAside(const QString &path, const char *store,
                                                      const Contents &unreadable)
{
    return keepAside(path, store, unreadable.problem, unreadable.tooLarge);
}

std::optional<rt::KeptAsideFile> StoreFile::keepAside(const QString &path, const char *store, const QString &reason,
                                                      bool tooLarge)
{
    auto moved = rt::moveAside(path, reason);
    if (!moved) {
        qCWarning(lcRecords).noquote() << store
                                       << "store: unreadable file could not be kept aside:" << moved.error().message
                                       << "— starting empty";
        return std::nullopt;
    }
    qCWarning(lcRecords).noquote() << store << "store: unreadable file kept as" << moved.value() << "— starting empty";
    return rt::KeptAsideFile{QString::fromLatin1(store), moved.value(),
                             tooLarge ? rt::KeptAsideFile::Reason::tooLarge : rt::KeptAsideFile::Reason::unreadable};
}

std::optional<rt::KeptAsideFile> StoreFile::keepAsideAfterDropping(const QString &path, const char *store,
                                                                   qsizetype dropped, qsizetype kept,
                                                                   const QByteArray &rewritten, Diagnostics *journal)
{
    std::optional<rt::KeptAsideFile> keptAside;
    const QString reason = QStringLiteral("%1 undecodable entries left out").arg(dropped);
    if (auto moved = rt::moveAside(path, reason); moved) {
        qCWarning(lcRecords).noquote() << store << "store:" << dropped << "entries could not be read and were left out;"
                                       << kept << "kept; the original is kept as" << moved.value();
        // The entries that did load must not vanish with the file at the next start.
        write(path, rewritten, store);
        if (kept == 0)
            keptAside =
                rt::KeptAsideFile{QString::fromLatin1(store), moved.value(), rt::KeptAsideFile::Reason::unreadable};
    } else {
        // The original stays in place and is read again next time: nothing is lost.
        qCWarning(lcRecords).noquote() << store << "store:" << dropped << "entries could not be read and were left out;"
                                       << "the original could not be kept aside:" << moved.error().message;
    }
    (journal ? *journal : Diagnostics::shared())
        .record(DiagnosticEvent::storeEntriesDropped, {{QStringLiteral("store"), QString::fromLatin1(store)},
                                                       {QStringLiteral("dropped"), QString::number(dropped)},
                                                       {QStringLiteral("kept"), QString::number(kept)}});
    return keptAside;
}

bool StoreFile::ensureFolder(const QString &folder, const char *store)
{
    if (auto made = rt::Paths::ensurePrivateDirectory(folder); !made) {
        qCWarning(lcRecords).noquote() << store << "store: folder left alone:" << made.error().message;
        return false;
    }
    return true;
}

bool StoreFile::write(const QString &path, const QByteArray &bytes, const char *store)
{
    if (auto written = rt::writeFileAtomically(path, bytes); !written) {
        qCWarning(lcRecords).noquote() << store << "store: not saved:" << written.error().message;
        return false;
    }
    return true;
}

QString StoreFile::uuidString(const QUuid &id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

std::optional<QUuid> StoreFile::uuidFromString(const QString &text)
{
    // Only the plain 36-character form, as the platform's decoder accepts it.
    if (text.size() != 36)
        return std::nullopt;
    const QUuid id = QUuid::fromString(text);
    if (id.isNull() && text != QLatin1String("00000000-0000-0000-0000-000000000000"))
        return std::nullopt;
    return id;
}

double StoreFile::referenceSeconds(const QDateTime &date)
{
    return rt::secondsSinceReferenceDate(date);
}

std::optional<QDateTime> StoreFile::dateFromReferenceSeconds(double seconds)
{
    return rt::dateFromReferenceSeconds(seconds);
}

} // namespace zq
